#include "net/TZnStrmServ.h"

#include "net/Exceptions.h"
#include "net/Swallow.h"

#include <QDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/socket.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A header field: decimal, leading spaces skipped, an optional sign. Anything else, the empty
// field of a closed connection included, is no number. Every byte is checked here: the
// library's conversion would stop at a zero byte and take the digits before it.
int headerNumber(const QByteArray &field)
{
    qsizetype i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    const QByteArray digits = field.mid(i);
    const qsizetype first = digits.startsWith('+') || digits.startsWith('-') ? 1 : 0;
    bool ok = digits.size() > first
        && std::all_of(digits.begin() + first, digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    const qlonglong value = ok ? digits.toLongLong(&ok, 10) : 0;
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw EConvertError(QString::fromLatin1(field));
    return int(value);
}

// The temporary file a body is captured into. Written unbuffered, since the capture already
// moves it in large blocks. Removed at the end unless the handler moved it elsewhere.
class BodyFile : public QTemporaryFile {
public:
    explicit BodyFile(const QString &folder) : QTemporaryFile(folder + u"/talvino-XXXXXX.part"_s)
    {
        setAutoRemove(false);
    }
    ~BodyFile() override
    {
        close();
        if (!path_.isEmpty() && fileName() == path_)
            QFile::remove(path_);
    }
    void openForCapture()
    {
        if (!open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            throw Exception(u"Cannot create file "_s + fileTemplate());
        path_ = fileName();
    }

private:
    QString path_;
};

} // namespace

TZnStrmServ::TZnStrmServ(QObject *owner) : TZnGeneralServer(owner) { Port = 6711; }

TZnStrmServ::TZnStrmServ(ConnectionOf link) : TZnGeneralServer(link) {}

TZnStrmServ::~TZnStrmServ() = default;

TZnGeneralServer *TZnStrmServ::NewConnectionComponent()
{
    auto *connection = new TZnStrmServ(ConnectionOf{this});
    connection->OnMSG = OnMSG;
    connection->TempFolder = TempFolder;
    return connection;
}

// On the server's thread, for every accepted connection whatever class made it.
void TZnStrmServ::prepareConnection(TZnGeneralServer &connection)
{
    auto *stream = dynamic_cast<TZnStrmServ *>(&connection);
    if (stream && TlsFor)
        stream->tls_ = TlsFor(connection.RemoteAddress());
}

void TZnStrmServ::ServeConnection()
{
    try {
        receivePost();
    } catch (...) {
        // No acknowledgement: the sender sees the connection end instead.
        swallow([this] { RequestCloseSocket(); });
        throw;
    }
    awaitPeerClose();
}

void TZnStrmServ::receivePost()
{
    if (tls_)
        StartTls(TlsSession::Role::Server, *tls_);
    const int nameLength = headerNumber(Read(4));
    const QByteArray from = nameLength > 0 ? Read(nameLength) : QByteArray();
    if (from.size() != qMax(0, nameLength))
        throw ESockError(u"Connection closed inside the header"_s);
    const int size = headerNumber(Read(10));
    if (!acceptsBodyLength(size))
        throw ESockError(u"Invalid body length"_s);
    setBytesTotal(size);
    BodyFile body(TempFolder.isEmpty() ? QDir::tempPath() : TempFolder);
    body.openForCapture();
    if (size > 0)
        CaptureStream(body, size);
    if (body.size() != size)
        throw ESockError(u"Connection closed inside the body"_s);
    body.seek(0);
    // A connection cancelled after its body arrived (its receiver was closed) delivers nothing.
    if (Canceled())
        throw EAbortError(u"Socket capture aborted"_s);
    if (OnMSG)
        OnMSG(this, from, &body);
    Write(QByteArray("OK") + QByteArray(14, ' '));
}

bool TZnStrmServ::acceptsBodyLength(int size) const { return size >= 0; }
