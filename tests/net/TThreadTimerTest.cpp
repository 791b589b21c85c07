#include "net/TThreadTimer.h"
#include "net/Exceptions.h"
#include "tests/support/Waits.h"

#include <QStringList>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;

namespace {

// Records the order in which the timer under test and reference timers fire. Timers that are
// due together fire in the order of their deadlines, so the order is stable under load.
struct Order {
    QStringList events;
    // The timer under test ticks once, as "tick", then stops.
    void tickOnce(TThreadTimer &timer, unsigned interval)
    {
        timer.setInterval(interval);
        timer.setOnTimer([this](TThreadTimer *t) {
            events << u"tick"_s;
            t->setEnabled(false);
        });
    }
    // The order of the three events once all have happened.
    QStringList settled()
    {
        [[maybe_unused]] const bool all = QTest::qWaitFor([this] { return events.size() == 3; }, 10000);
        return events;
    }
    void at(int ms, const QString &name, std::function<void()> action = {})
    {
        QTimer::singleShot(ms, Qt::PreciseTimer, [this, name, action] {
            if (action)
                action();
            events << name;
        });
    }
};

} // namespace

TEST(TThreadTimer, RunsOnlyWithHandlerIntervalAndEnabled)
{
    TThreadTimer timer;
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_FALSE(timer.isRunning()); // no handler yet

    int ticks = 0;
    timer.setInterval(20);
    timer.setOnTimer([&](TThreadTimer *sender) {
        EXPECT_EQ(sender, &timer);
        ++ticks;
    });
    EXPECT_TRUE(timer.isRunning());
    ASSERT_EVENTUALLY(ticks >= 2, 5000);

    timer.setInterval(0);
    EXPECT_FALSE(timer.isRunning());
    timer.setInterval(20);
    timer.setEnabled(false);
    EXPECT_FALSE(timer.isRunning());
    const int stopped = ticks;
    QTest::qWait(100);
    EXPECT_EQ(ticks, stopped);
}

TEST(TThreadTimer, UnchangedValueDoesNotRestartThePeriod)
{
    TThreadTimer timer;
    Order order;
    order.tickOnce(timer, 400);
    order.at(200, u"reset"_s, [&] {
        timer.setInterval(400);
        timer.setEnabled(true);
    });
    order.at(550, u"reference"_s);
    EXPECT_EQ(order.settled(), (QStringList{u"reset"_s, u"tick"_s, u"reference"_s}));
}

TEST(TThreadTimer, ChangedIntervalRestartsThePeriod)
{
    TThreadTimer timer;
    Order order;
    order.tickOnce(timer, 500);
    order.at(200, u"change"_s, [&] { timer.setInterval(700); }); // next tick at 900
    order.at(800, u"reference"_s);
    EXPECT_EQ(order.settled(), (QStringList{u"change"_s, u"reference"_s, u"tick"_s}));
}

TEST(TThreadTimer, RaisingHandlerIsReportedAndKeepsTicking)
{
    TThreadTimer timer;
    QStringList errors;
    timer.OnError = [&](const QString &text) { errors << text; };
    timer.setInterval(10);
    timer.setOnTimer([](TThreadTimer *) { throw ESockError(u"boom"_s); });
    ASSERT_EVENTUALLY(errors.size() >= 2, 5000);
    EXPECT_EQ(errors.first(), u"boom"_s);
}

TEST(TThreadTimer, StartingFromAnotherThreadRaisesNoTimer)
{
    TThreadTimer timer;
    timer.setEnabled(false);
    timer.setOnTimer([](TThreadTimer *) {});
    QString raised;
    std::thread([&] {
        try {
            timer.setEnabled(true);
        } catch (const Exception &e) {
            raised = e.message();
        }
    }).join();
    EXPECT_EQ(raised, u"No Timer"_s);
    EXPECT_FALSE(timer.isRunning());
}
