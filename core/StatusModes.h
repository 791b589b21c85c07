#pragma once

#include <QString>
#include <QtGlobal>

// The two settings that decide how the peer answers without its user: the status (normal
// accepts friend requests at once, secure asks) and the automatic reply, whose state is the
// main window's caption. The main window mirrors this state in its menus, caption and status
// bar; the dispatcher reads the status flag and the caption.
class StatusModes {
public:
    // The items of the automatic-reply submenu that can carry the check mark.
    enum class ReplyItem { None, N12, N13, N14, N15, N16 };

    static constexpr quint8 NormalStatus = 1;
    static constexpr quint8 SecureStatus = 0;

    // "Talvino": the caption while no automatic reply is set.
    static QString noReplyCaption();
    // "[自动回复]:": the start of every automatic-reply caption.
    static QString replyPrefix();
    // Caption of a preset item (N12 to N15); empty for the others.
    static QString presetCaption(ReplyItem item);

    quint8 statusFlag() const { return flag_; }
    // Status bar text: "一般状态" or "安全状态".
    QString statusText() const;
    bool normalChecked() const { return flag_ == NormalStatus; }
    bool secureChecked() const { return flag_ == SecureStatus; }

    QString caption() const { return caption_; }
    ReplyItem checkedReply() const { return checked_; }
    // Caption of the custom item N16: "自定义自动回复", or "自定义自动回复：" + the last custom text.
    QString customItemCaption() const { return customItemCaption_; }

    void chooseNormal() { flag_ = NormalStatus; }
    void chooseSecure() { flag_ = SecureStatus; }

    // Clears every check mark and sets the caption back to "Talvino"; N16 keeps its caption.
    void cancelReply();
    // Chooses one of N12 to N15: its caption becomes the reply text.
    void choosePreset(ReplyItem item);
    // First half of the custom reply, before its input box: cancel, then check N16.
    void beginCustom();
    // Second half: the typed text (empty after Cancel) becomes the reply and N16's caption.
    void setCustomText(const QString &text);

private:
    quint8 flag_ = SecureStatus;
    QString caption_ = noReplyCaption();
    ReplyItem checked_ = ReplyItem::None;
    QString customItemCaption_ = QStringLiteral("自定义自动回复");
};
