#pragma once

#include "core/MessageWindowBudget.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

class QDBusPendingCallWatcher;
class QWidget;

// Desktop notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications). Each notice names a window, which its action "打开" (key
// "default", so that clicking the notice does it too) asks to open. The server's capabilities
// are asked once: where it renders body markup, "&", "<" and ">" go in escaped, so text shows
// as written. Nothing here waits: every call is asynchronous with a time-out of
// callTimeOutMs(), and a missing bus or service, or one that does not answer, only drops the
// notice (failed() tells). Bounded: at most limit() notices within periodMs(), maxWaiting()
// notices waiting for the capabilities or a free call, maxPendingCalls() calls under way, and
// the windows of the newest maxOpen() notices remembered for their action. The bus is opened
// when the first notice comes, not before: a program that never notifies never connects.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");

    // A local service answers in milliseconds; one that takes seconds is stuck.
    static constexpr int CallTimeOutMs = 2000;
    // Notices a person can take in within a minute; a flood beyond that is dropped.
    static constexpr int Limit = 30;
    static constexpr int PeriodMs = 60000;
    static constexpr int MaxWaiting = 8;
    static constexpr int MaxPendingCalls = 8;
    // More notices than a desktop keeps on screen.
    static constexpr int MaxOpen = 64;

    // Opens the bus the notices go to; called once, on the first notice.
    using BusOpener = std::function<QDBusConnection()>;

    explicit DesktopNotifier(BusOpener openBus, QObject *parent = nullptr);

    // Shows summary and body (plain text) as one notice whose action opens window.
    void notify(const QString &summary, const QString &body, QWidget *window);

    int callTimeOutMs() const { return callTimeOutMs_; }
    void setCallTimeOutMs(int ms) { callTimeOutMs_ = ms; }
    int maxWaiting() const { return maxWaiting_; }
    void setMaxWaiting(int notices) { maxWaiting_ = notices; }
    int maxPendingCalls() const { return maxPendingCalls_; }
    void setMaxPendingCalls(int calls) { maxPendingCalls_ = calls; }
    int maxOpen() const { return maxOpen_; }
    void setMaxOpen(int notices) { maxOpen_ = notices; }
    int limit() const { return budget_.limit(); }
    void setLimit(int notices) { budget_.setLimit(notices); }
    int periodMs() const { return budget_.periodMs(); }
    void setPeriodMs(int ms) { budget_.setPeriodMs(ms); }

    // Calls under way, and notices whose windows are remembered.
    int pendingCalls() const { return pending_; }
    qsizetype openNotices() const { return windows_.size(); }

signals:
    // The server showed a notice under id, with these texts as sent.
    void shown(uint id, const QString &summary, const QString &body);
    // A notice was dropped: no bus or service, no answer in time, or a bound reached.
    void failed(const QString &reason);
    // The action of a notice was invoked: open its window (null once that window is gone).
    void openRequested(QWidget *window);

private slots:
    void onActionInvoked(uint id, const QString &key);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Notice {
        QString summary;
        QString body;
        QPointer<QWidget> window;
    };
    void pump();
    void askCapabilities();
    void capabilitiesAnswered(QDBusPendingCallWatcher *watcher);
    void send(const Notice &notice);
    void remember(uint id, QWidget *window);
    QDBusPendingCallWatcher *call(const QString &method, const QList<QVariant> &arguments);
    // The bus, opened (and its signals subscribed to) on first use.
    const QDBusConnection &bus();

    BusOpener openBus_;
    std::optional<QDBusConnection> bus_;
    enum class Capabilities { Unknown, Asking, Known } capabilities_ = Capabilities::Unknown;
    bool bodyMarkup_ = false;
    std::deque<Notice> waiting_;
    int pending_ = 0;
    QHash<uint, QPointer<QWidget>> windows_;
    std::deque<uint> openOrder_;
    MessageWindowBudget budget_;
    int callTimeOutMs_ = CallTimeOutMs;
    int maxWaiting_ = MaxWaiting;
    int maxPendingCalls_ = MaxPendingCalls;
    int maxOpen_ = MaxOpen;
};
