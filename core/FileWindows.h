#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The file windows of one peer: the main window's "传送文件" command opens a send-file window,
// and the dispatcher hands the file packets (accept, offer, progress) straight to the current
// windows. The file-window library implements it; tests use a recorder.
class FileWindows {
public:
    virtual ~FileWindows() = default;

    // The file-window flag (the main window's Tag, which the file windows set): 1 while a
    // send-file or receive-file window is shown. File accepts and progress reports count
    // only then.
    virtual int fileWindowFlag() const = 0;
    // Creates and shows a new send-file window whose file goes to ip.
    virtual void openSendFileWindow(const QString &ip) = 0;
    // Type 3 from fromIp: clicks the hidden start button of the current send-file window;
    // false, and nothing clicked, when there is none or its offer went to another address.
    virtual bool clickTrueSend(const QString &fromIp) = 0;
    // Type 5: creates, fills and shows a new receive-file window.
    virtual void openReceiveFileWindow(qint64 size, const QString &offer, const QString &fromIp) = 0;
    // Type 7: whether a receive-file window exists, and a progress report from fromIp for the
    // current one, ignored unless that window shows fromIp's offer.
    virtual bool hasReceiveFileWindow() const = 0;
    virtual void showReceiveProgress(const QString &fromIp, qint64 position) = 0;
    // Files and folders dropped for ip (absolute paths): offered as the peer can take them.
    virtual void offerPaths(const QString &ip, const QStringList &paths) { Q_UNUSED(ip) Q_UNUSED(paths) }
    // A sealed file-set datagram from fromIp (an offer or an answer, by innerKind), sealed by
    // senderKey, the key pinned for fromIp. Ignored unless the windows handle file sets.
    virtual void fileSetArrived(quint8 innerKind, const QByteArray &inner, const QString &fromIp,
                                const QByteArray &senderKey)
    {
        Q_UNUSED(innerKind) Q_UNUSED(inner) Q_UNUSED(fromIp) Q_UNUSED(senderKey)
    }
};
