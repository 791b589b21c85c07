#pragma once

#include "core/DispatcherWindows.h"
#include "core/FileWindows.h"

#include <QList>
#include <QStringList>

// Stands in for the main window, the windows it opens and the file windows: answers the
// dispatcher's setting queries from plain fields and records every window action.
class RecordingWindows : public DispatcherWindows, public FileWindows {
public:
    struct MessageWindow {
        QString caption, ip, nc, mess;
        bool answerable = true;
    };
    struct ReceiveWindow {
        qint64 size = 0;
        QString offer, fromIp;
    };

    quint8 statusFlag() const override { return status; }
    QString mainCaption() const override { return caption; }
    bool autoPopup() const override { return autopop; }
    bool rejectStrangers() const override { return jjmsrxx; }
    QString ownNickname() const override { return myname; }

    void showMessageWindow(const QString &caption_, const QString &ip, const QString &nc, const QString &mess,
                           bool answerable) override
    {
        messageWindows.append({caption_, ip, nc, mess, answerable});
    }
    void appendChatRoomEntry(const QString &entry) override { chatRoom << entry; }
    void messageShown(const QString &fromIp, const QString &name, const QString &text, bool autoReply) override
    {
        shownMessages.append({fromIp, name, text, autoReply});
    }
    void buddyListChanged(const QStringList &entries) override
    {
        buddyList = entries;
        ++buddyListRebuilds;
    }
    bool closeAddFriendDialog(const QString &fromIp) override
    {
        if (!addFriendDialogExists)
            return false;
        ++addFriendDialogClosed;
        addFriendAcceptFrom << fromIp;
        return true;
    }
    int fileWindowFlag() const override { return tag; }
    void openSendFileWindow(const QString &ip) override { sendFileWindowsTo << ip; }
    bool clickTrueSend(const QString &fromIp) override
    {
        if (!sendFileWindowExists)
            return false;
        ++trueSendClicks;
        trueSendFrom << fromIp;
        return true;
    }
    void openReceiveFileWindow(qint64 size, const QString &offer, const QString &fromIp) override
    {
        receiveWindows.append({size, offer, fromIp});
    }
    bool hasReceiveFileWindow() const override { return receiveFileWindowExists; }
    void showReceiveProgress(const QString &fromIp, qint64 position) override
    {
        progress << position;
        progressFrom << fromIp;
    }

    // settings
    quint8 status = 0;
    QString caption = QStringLiteral("Talvino");
    bool autopop = true;
    bool jjmsrxx = false;
    int tag = 0;
    QString myname;
    bool addFriendDialogExists = false;
    bool sendFileWindowExists = false;
    bool receiveFileWindowExists = false;

    // recorded actions
    QList<MessageWindow> messageWindows;
    QStringList chatRoom;
    struct ShownMessage {
        QString fromIp, name, text;
        bool autoReply = false;
    };
    QList<ShownMessage> shownMessages;
    QStringList buddyList;
    int buddyListRebuilds = 0;
    int addFriendDialogClosed = 0;
    int trueSendClicks = 0;
    QStringList sendFileWindowsTo;
    QList<ReceiveWindow> receiveWindows;
    QList<qint64> progress;
    // The sender of each friend accept, file accept and progress report passed on.
    QStringList addFriendAcceptFrom, trueSendFrom, progressFrom;
};
