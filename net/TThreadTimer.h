#pragma once

#include <QObject>
#include <QString>
#include <functional>

// A small timer component that calls OnTimer every Interval milliseconds while it is
// enabled, on the thread the timer belongs to (the thread that created it, or the one it was
// moved to). It runs only while Enabled is true, Interval is not 0 and OnTimer is set.
// Writing Interval or Enabled with the value it already has changes nothing: a running period
// is not restarted. Any other change restarts the period from its beginning.
class TThreadTimer : public QObject {
    Q_OBJECT
public:
    using TimerEvent = std::function<void(TThreadTimer *Sender)>;

    explicit TThreadTimer(QObject *owner = nullptr);
    ~TThreadTimer() override;

    unsigned Interval() const { return interval_; }
    void setInterval(unsigned milliseconds);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    const TimerEvent &OnTimer() const { return onTimer_; }
    // Always re-evaluates the timer, also when the handler is the same.
    void setOnTimer(TimerEvent handler);

    // Receives the text of an exception that escaped OnTimer (the timer keeps running).
    // Unset, the text goes to the Qt warning log.
    std::function<void(const QString &text)> OnError;

    // The tick dispatch: calls OnTimer with this timer as Sender when a handler is set.
    virtual void Timer();

    // True while the underlying timer runs.
    bool isRunning() const { return timerId_ != 0; }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void updateTimer();
    void reportError(const QString &text);

    unsigned interval_ = 1000;
    bool enabled_ = true;
    TimerEvent onTimer_;
    int timerId_ = 0;
};
