#include "ui/MessageAttention.h"

#include "net/Ipv4Address.h"
#include "ui/NotificationText.h"
#include "ui/UnreadCounts.h"

#include <QEvent>
#include <QWidget>

MessageAttention::MessageAttention(UnreadCounts &unread, Settings settings, QObject *parent)
    : QObject(parent), unread_(unread), settings_(std::move(settings))
{}

void MessageAttention::messageShown(const ArrivedMessage &message)
{
    QWidget *window = message.window;
    if (!window || window->isActiveWindow())
        return;
    if (message.autoReply && settings_.ownAddress && settings_.ownAddress(message.fromIp))
        return;
    watch(window, message.fromIp);
    unread_.add(message.fromIp);
    if (!notifyWhenBusy_ && settings_.busy && settings_.busy())
        return;
    emit noticeWanted(message.name, NotificationText::excerpt(message.text), window);
}

void MessageAttention::watch(QWidget *window, const QString &ip)
{
    if (!senders_.contains(window)) {
        window->installEventFilter(this);
        connect(window, &QObject::destroyed, this, &MessageAttention::seen, Qt::UniqueConnection);
    }
    senders_[window].insert(ip);
}

void MessageAttention::seen(QObject *window)
{
    const QSet<QString> ips = senders_.take(window);
    for (const QString &ip : ips)
        unread_.clear(ip);
}

bool MessageAttention::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Close)
        seen(watched);
    return QObject::eventFilter(watched, event);
}

bool MessageAttention::isOwnAddress(const QString &ip, const QString &bindAddress, const QStringList &localAddresses)
{
    const Ipv4Address address(ip);
    if (address.isNull())
        return false;
    const Ipv4Address bound(bindAddress);
    if (!bound.isNull() && bound != Ipv4Address::any())
        return address == bound;
    return address.isLoopback() || localAddresses.contains(address.toString());
}
