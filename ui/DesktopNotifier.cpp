#include "ui/DesktopNotifier.h"

#include "ui/NotificationText.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>
#include <QWidget>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Interface = u"org.freedesktop.Notifications"_s;
// The one key the budget counts notices under.
const QString AllNotices = u"notices"_s;

} // namespace

DesktopNotifier::DesktopNotifier(BusOpener openBus, QObject *parent)
    : QObject(parent), openBus_(std::move(openBus))
{
    budget_.setLimit(Limit);
    budget_.setPeriodMs(PeriodMs);
}

const QDBusConnection &DesktopNotifier::bus()
{
    if (bus_)
        return *bus_;
    bus_ = openBus_();
    if (bus_->isConnected()) {
        bus_->connect(Service, Path, Interface, u"ActionInvoked"_s, this,
                      SLOT(onActionInvoked(uint, QString)));
        bus_->connect(Service, Path, Interface, u"NotificationClosed"_s, this,
                      SLOT(onNotificationClosed(uint, uint)));
    }
    return *bus_;
}

void DesktopNotifier::notify(const QString &summary, const QString &body, QWidget *window)
{
    if (!bus().isConnected()) {
        emit failed(u"no session bus"_s);
        return;
    }
    if (!budget_.allows(AllNotices) || qsizetype(waiting_.size()) >= maxWaiting_) {
        emit failed(u"too many notices"_s);
        return;
    }
    budget_.opened(AllNotices, nullptr);
    waiting_.push_back({summary, body, window});
    pump();
}

// Sends what waits once the capabilities are known, as far as calls are free.
void DesktopNotifier::pump()
{
    if (capabilities_ == Capabilities::Unknown)
        askCapabilities();
    if (capabilities_ != Capabilities::Known)
        return;
    while (!waiting_.empty() && pending_ < maxPendingCalls_) {
        const Notice notice = waiting_.front();
        waiting_.pop_front();
        send(notice);
    }
}

QDBusPendingCallWatcher *DesktopNotifier::call(const QString &method, const QList<QVariant> &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    message.setArguments(arguments);
    ++pending_;
    auto *watcher = new QDBusPendingCallWatcher(bus().asyncCall(message, callTimeOutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        --pending_;
        w->deleteLater();
    });
    return watcher;
}

void DesktopNotifier::askCapabilities()
{
    capabilities_ = Capabilities::Asking;
    QDBusPendingCallWatcher *watcher = call(u"GetCapabilities"_s, {});
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::capabilitiesAnswered);
}

// Without an answer the waiting notices are dropped; the next notice asks again, so a service
// that starts later is found.
void DesktopNotifier::capabilitiesAnswered(QDBusPendingCallWatcher *watcher)
{
    const QDBusPendingReply<QStringList> reply = *watcher;
    if (reply.isError()) {
        capabilities_ = Capabilities::Unknown;
        waiting_.clear();
        emit failed(reply.error().message());
        return;
    }
    bodyMarkup_ = reply.value().contains(u"body-markup"_s);
    capabilities_ = Capabilities::Known;
    pump();
}

void DesktopNotifier::send(const Notice &notice)
{
    const QString body = bodyMarkup_ ? NotificationText::escapeMarkup(notice.body) : notice.body;
    const QVariantMap hints{{u"category"_s, u"im.received"_s}, {u"desktop-entry"_s, u"talvino"_s}};
    const QList<QVariant> arguments{u"Talvino"_s,   0u,   u"talvino"_s,
                                    notice.summary, body, QStringList{u"default"_s, u"打开"_s},
                                    hints,          -1};
    QDBusPendingCallWatcher *watcher = call(u"Notify"_s, arguments);
    const QPointer<QWidget> window = notice.window;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, window, notice, body](QDBusPendingCallWatcher *w) {
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    capabilities_ = Capabilities::Unknown; // the service may have gone: ask again next time
                    emit failed(reply.error().message());
                } else {
                    remember(reply.value(), window);
                    emit shown(reply.value(), notice.summary, body);
                }
                pump();
            });
}

void DesktopNotifier::remember(uint id, QWidget *window)
{
    if (!windows_.contains(id))
        openOrder_.push_back(id);
    windows_.insert(id, window);
    while (qsizetype(openOrder_.size()) > maxOpen_) {
        windows_.remove(openOrder_.front());
        openOrder_.pop_front();
    }
}

void DesktopNotifier::onActionInvoked(uint id, const QString &key)
{
    const auto it = windows_.constFind(id);
    if (it == windows_.cend() || key != u"default"_s)
        return;
    emit openRequested(it->data());
}

void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    if (windows_.remove(id) > 0)
        openOrder_.erase(std::find(openOrder_.begin(), openOrder_.end(), id));
}
