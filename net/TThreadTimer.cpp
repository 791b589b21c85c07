#include "net/TThreadTimer.h"

#include "net/Exceptions.h"

#include <QThread>
#include <QTimerEvent>
#include <QtDebug>

using namespace Qt::Literals::StringLiterals;

TThreadTimer::TThreadTimer(QObject *owner) : QObject(owner) {}

TThreadTimer::~TThreadTimer()
{
    enabled_ = false;
    if (timerId_ != 0 && thread() == QThread::currentThread())
        killTimer(timerId_);
    timerId_ = 0;
}

void TThreadTimer::setInterval(unsigned milliseconds)
{
    if (milliseconds == interval_)
        return;
    interval_ = milliseconds;
    updateTimer();
}

void TThreadTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    updateTimer();
}

void TThreadTimer::setOnTimer(TimerEvent handler)
{
    onTimer_ = std::move(handler);
    updateTimer();
}

// Stops the running period and, when all three conditions hold, starts a new one. Qt timers
// can only be started and stopped on the thread they belong to; asked from any other thread
// to do so, the timer refuses with "No Timer" instead of silently doing nothing.
void TThreadTimer::updateTimer()
{
    const bool wanted = interval_ != 0 && enabled_ && onTimer_;
    if (timerId_ == 0 && !wanted)
        return;
    if (thread() != QThread::currentThread())
        throw Exception(u"No Timer"_s);
    if (timerId_ != 0) {
        killTimer(timerId_);
        timerId_ = 0;
    }
    if (!wanted)
        return;
    timerId_ = startTimer(std::chrono::milliseconds(interval_), Qt::PreciseTimer);
    if (timerId_ == 0)
        throw Exception(u"No Timer"_s);
}

void TThreadTimer::Timer()
{
    if (onTimer_)
        onTimer_(this);
}

void TThreadTimer::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != timerId_) {
        QObject::timerEvent(event);
        return;
    }
    try {
        Timer();
    } catch (const Exception &e) {
        reportError(e.message());
    } catch (const std::exception &e) {
        reportError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reportError(u"Unknown error"_s);
    }
}

void TThreadTimer::reportError(const QString &text)
{
    try {
        if (OnError)
            OnError(text);
        else
            qWarning().noquote() << text;
    } catch (...) {
        // Nothing may cross the event loop; the report itself failing is dropped.
    }
}
