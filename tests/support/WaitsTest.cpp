#include "tests/support/Waits.h"

#include <QTimer>
#include <gtest/gtest-spi.h>

// What the waits are for: a condition that never holds fails the test, with the expression,
// instead of ending it quietly.

namespace {
int counter = 0; // the fatal-failure checks below may not use a test's locals
} // namespace

TEST(Waits, HoldWhenAnEventMakesTheConditionTrue)
{
    bool set = false;
    int count = 0;
    QTimer::singleShot(300, [&] { set = true; });
    QTimer::singleShot(300, [&] { count = 2; });
    ASSERT_EVENTUALLY(set); // the default timeout outlasts the timer
    EXPECT_EVENTUALLY_EQ(count, 2, 2000);
}

TEST(Waits, AConditionThatStaysFalseFailsWithItsExpression)
{
    EXPECT_FATAL_FAILURE(ASSERT_EVENTUALLY(counter == 7, 50) << "the note",
                         "Still false after 50 ms: counter == 7\nthe note");
    EXPECT_NONFATAL_FAILURE(EXPECT_EVENTUALLY(counter == 7, 50), "Still false after 50 ms: counter == 7");
}

TEST(Waits, UnequalValuesFailShowingBoth)
{
    counter = 3;
    EXPECT_FATAL_FAILURE(ASSERT_EVENTUALLY_EQ(counter, 7, 50), "Which is: 3");
    EXPECT_NONFATAL_FAILURE(EXPECT_EVENTUALLY_EQ(counter, 7, 50), "Still unequal after 50 ms");
}

TEST(Waits, AFatalFailureEndsTheTestAndAnElseStaysTheCallers)
{
    EXPECT_FATAL_FAILURE(
        {
            ASSERT_EVENTUALLY(counter < 0, 10);
            counter = 100;
        },
        "counter < 0");
    EXPECT_NE(counter, 100);

    bool elseTaken = false;
    if (counter < 0)
        EXPECT_EVENTUALLY(true);
    else
        elseTaken = true;
    EXPECT_TRUE(elseTaken);
}
