#include "net/TZnStrm.h"

#include "net/Exceptions.h"
#include "net/Swallow.h"

#include <QIODevice>
#include <limits>

using namespace Qt::Literals::StringLiterals;

TZnStrm::TZnStrm(QObject *owner) : RIzarorozi(owner) { Port = 6711; }

TZnStrm::~TZnStrm() { beginDestruction(); }

void TZnStrm::PostStream(QIODevice &Stream, QByteArray &Reply) { post(Stream, Stream.size(), true, Reply); }

void TZnStrm::PostStream(QIODevice &Stream, qint64 Size, QByteArray &Reply)
{
    post(Stream, Size, false, Reply);
}

// whole: the stream from its start, Size being its size; else Size bytes from where it stands.
void TZnStrm::post(QIODevice &Stream, qint64 Size, bool whole, QByteArray &Reply)
{
    Reply.clear();
    // The framing has room for a name below 10000 bytes and a body below 2 GiB, and the name
    // is sent as a text: refuse what would break it before anything goes out.
    if (FromName.size() >= 10000 || FromName.contains('\0'))
        throw ESockError(u"Invalid sender name"_s);
    if (Size < 0 || Size > std::numeric_limits<qint32>::max())
        throw ESockError(u"Range check error"_s);
    Connect();
    try {
        if (Tls)
            StartTls(TlsSession::Role::Client, *Tls);
        Write(QByteArray::number(FromName.size()).rightJustified(4, '0') + FromName);
        Write(QByteArray::number(Size).rightJustified(10, ' '));
        if (whole)
            SendStream(Stream);
        else
            SendStream(Stream, Size);
        if (OnMessageSent)
            OnMessageSent(this);
        Reply = Read(16);
    } catch (...) {
        swallow([this] { Disconnect(); }); // the post's own failure is the one to report
        throw;
    }
    Disconnect();
}

void TZnStrm::Abort()
{
    if (!Connected())
        return;
    Cancel();
    Disconnect();
}
