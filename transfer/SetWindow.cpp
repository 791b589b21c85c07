#include "transfer/SetWindow.h"

#include "core/PeerContext.h"
#include "core/PeerSecurity.h"
#include "net/TZnUDP.h"
#include "transfer/SetProgress.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

SetWindow::SetWindow(const FileWindowLinks &links, const QString &title)
    : FileWindow(links, title), store_(links.context.configDir + u"/filesets"_s)
{
    progress = new SetProgress;
    state = new QLabel;
    state->setTextFormat(Qt::PlainText);
    state->setWordWrap(true);
}

void SetWindow::setState(const QString &text) { state->setText(text); }

bool SetWindow::sendSealed(quint8 kind, const QByteArray &inner)
{
    if (!links_.security || links_.security->peerKey(peerIp_) != peerKey_) {
        setState(u"对方的密钥不是这组文件所属的密钥，无法继续"_s);
        return false;
    }
    const std::optional<QByteArray> sealed = links_.security->seal(peerIp_, kind, inner);
    if (!sealed)
        return false;
    links_.lwudp.RemoteHost = peerIp_;
    links_.lwudp.SendDatagram(*sealed, int(sealed->size()));
    return true;
}

void SetWindow::sendRepeated(quint8 kind, const QByteArray &inner)
{
    const quint64 round = ++repeatRound_;
    if (!sendSealed(kind, inner))
        return;
    int at = 0;
    for (const int delay : RepeatDelaysMs) {
        at += delay;
        QTimer::singleShot(at, this, [this, round, kind, inner] {
            if (round == repeatRound_ && !isClosed() && stillWanted())
                sendSealed(kind, inner);
        });
    }
}
