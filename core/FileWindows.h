#pragma once

#include <QString>
#include <QtGlobal>

// What the main window needs from the file windows: the "传送文件" command opens a send-file
// window, and the dispatcher's file packets reach the current windows. The file-window
// library implements it; the main window forwards to it.
class FileWindows {
public:
    virtual ~FileWindows() = default;

    // Creates and shows a new send-file window whose file goes to ip.
    virtual void openSendFileWindow(const QString &ip) = 0;
    // A file accept from fromIp: clicks the start control of the current send-file window;
    // false, and nothing clicked, when there is none or its offer went to another address.
    virtual bool clickTrueSend(const QString &fromIp) = 0;
    // A file offer: creates, fills and shows a new receive-file window.
    virtual void openReceiveFileWindow(qint64 size, const QString &offer, const QString &fromIp) = 0;
    // Whether a receive-file window exists, and a progress report from fromIp for the current
    // one, ignored unless that window shows fromIp's offer.
    virtual bool hasReceiveFileWindow() const = 0;
    virtual void showReceiveProgress(const QString &fromIp, qint64 position) = 0;
};
