#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>

// Bounds the message windows that one host can make us open: at most limit() windows within
// any period of periodMs(). A message past the bound goes to that host's newest window
// instead, so a flood from one host costs a bounded number of windows and loses no text. It
// keeps, per host that opened a window within the last period, the times of those openings
// and the newest window (through QPointer: the window releases itself after it closed).
class MessageWindowBudget {
public:
    // Windows one host may open within one period: more than a person reads in a minute.
    static constexpr int Limit = 30;
    static constexpr int PeriodMs = 60000;

    MessageWindowBudget() { clock_.start(); }

    int limit() const { return limit_; }
    void setLimit(int windows) { limit_ = windows; }
    int periodMs() const { return periodMs_; }
    void setPeriodMs(int ms) { periodMs_ = ms; }

    // Whether ip may open one more window now.
    bool allows(const QString &ip);
    // A window was opened for ip; it counts, and becomes ip's newest, whether or not it was
    // allowed.
    void opened(const QString &ip, QObject *window);
    // ip's newest window within the period, while it exists; null otherwise.
    QObject *newest(const QString &ip) const;
    // Hosts with a window opened within the period.
    qsizetype hosts() const { return hosts_.size(); }

private:
    struct Host {
        std::deque<qint64> openedAt; // milliseconds on clock_, oldest first
        QPointer<QObject> newest;
    };
    void forgetExpired(const QString &ip, qint64 now);
    void sweep(qint64 now);

    int limit_ = Limit;
    int periodMs_ = PeriodMs;
    QHash<QString, Host> hosts_;
    QElapsedTimer clock_;
    qint64 lastSweep_ = 0;
};
