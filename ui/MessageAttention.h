#pragma once

#include "ui/ArrivedMessage.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <functional>

class UnreadCounts;

// Decides what a message that arrived asks of the person's attention. A message shown in a
// window that is not the active window counts as unread for its sender until that window is
// activated or closed, and raises one desktop notice (noticeWanted): the sender's name as the
// summary, the first characters of the message as the body, and the window to open. The
// exceptions: nothing for a message whose window is active or that went to no window, nothing
// for an automatic reply from one of our own addresses (our own reply come back), and no
// notice, only the count, while the person is busy (an automatic reply is set) unless they
// asked to be told then too.
class MessageAttention : public QObject {
    Q_OBJECT
public:
    struct Settings {
        // Whether an automatic reply is set now (the person is busy).
        std::function<bool()> busy;
        // Whether an address is one of this peer's own.
        std::function<bool(const QString &ip)> ownAddress;
    };

    MessageAttention(UnreadCounts &unread, Settings settings, QObject *parent = nullptr);

    // The settings window's option: notify while busy too (on by default).
    bool notifyWhenBusy() const { return notifyWhenBusy_; }
    void setNotifyWhenBusy(bool on) { notifyWhenBusy_ = on; }

    // The hook for TForm1::OnMessageShown.
    void messageShown(const ArrivedMessage &message);

    // Whether ip is an address of a peer bound to bindAddress: that address itself, or for a
    // peer bound to every interface (0.0.0.0) a loopback address or one of localAddresses.
    static bool isOwnAddress(const QString &ip, const QString &bindAddress, const QStringList &localAddresses);

signals:
    // A notice to show: summary and body as plain text, and the window its action opens.
    void noticeWanted(const QString &summary, const QString &body, QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    // The person has the window in front of them (or closed it): its senders' messages are seen.
    void seen(QObject *window);

private:
    void watch(QWidget *window, const QString &ip);

    UnreadCounts &unread_;
    Settings settings_;
    bool notifyWhenBusy_ = true;
    // The senders whose unread messages each watched window holds.
    QHash<QObject *, QSet<QString>> senders_;
};
