#pragma once

#include "core/Gbk.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the datagram dispatcher needs from the main window: the program-wide settings it reads,
// and what each packet type but the file packets does to a window (those go to FileWindows).
// The main window implements it; tests use a recorder, so every packet rule is tested without
// a window.
class DispatcherWindows {
public:
    virtual ~DispatcherWindows() = default;

    // --- settings read by the dispatcher ---
    // Status flag: 1 normal status (friend requests accepted at once), 0 secure status (asked).
    virtual quint8 statusFlag() const = 0;
    // The main window's caption: "Talvino" for no automatic reply, else "[自动回复]:" + text.
    virtual QString mainCaption() const = 0;
    // Auto-pop-up mode (the settings check box autopop); false means chat-room mode.
    virtual bool autoPopup() const = 0;
    // Reject strangers' messages (the settings check box jjmsrxx).
    virtual bool rejectStrangers() const = 0;
    // Own nickname: the current text of the settings window's name box.
    virtual QString ownNickname() const = 0;
    // How message text to and from ip is encoded: GB18030 only where both sides announced
    // it through presence; GBK for every other peer.
    virtual Gbk::Charset textCharset(const QString &ip) const
    {
        Q_UNUSED(ip);
        return Gbk::Charset::Gbk;
    }

    // --- what packets do to windows ---
    // Types 1 and 6 in auto-pop-up mode: a new message window. answerable is false for type 6
    // (its send button and input field are disabled).
    virtual void showMessageWindow(const QString &caption, const QString &ip, const QString &nc,
                                   const QString &mess, bool answerable)
        = 0;
    // Types 1 and 6 in chat-room mode: one entry appended to the chat-room transcript.
    virtual void appendChatRoomEntry(const QString &entry) = 0;
    // Types 1 and 6, once the message went to its window or the transcript (not when a
    // stranger's message was rejected): the sender, the name it was shown under, its text.
    // The desktop's attention (unread marks, notifications) hooks here; nothing by default.
    virtual void messageShown(const QString & /*fromIp*/, const QString & /*name*/, const QString & /*text*/,
                              bool /*autoReply*/)
    {}
    // The buddy list must show these entries, in this order (after a buddy was added).
    virtual void buddyListChanged(const QStringList &entries) = 0;
    // Type 4 from fromIp: close and reset the most recently opened add-friend dialog. Returns
    // false, and touches nothing, when that dialog no longer exists (or none was opened) or
    // its request did not go to fromIp.
    virtual bool closeAddFriendDialog(const QString &fromIp) = 0;
};
