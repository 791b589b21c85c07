// Bounded waits that report to GoogleTest.
//
// Qt's own QTRY_, QVERIFY and QCOMPARE macros report to QTest's result log, which nothing reads
// under GoogleTest, and then return: a wait that timed out would end the test quietly and
// GoogleTest would count it as passed. These wait the same way, running the event loop until
// the condition holds (QTest::qWaitFor, no sleeping), and fail the test as ASSERT_ and EXPECT_
// do; a message can be streamed in with <<. The timeout is optional, 5000 ms as Qt's.
//
//   ASSERT_EVENTUALLY(condition[, timeoutMs])            fatal, like ASSERT_TRUE
//   EXPECT_EVENTUALLY(condition[, timeoutMs])            goes on, like EXPECT_TRUE
//   ASSERT_EVENTUALLY_EQ(actual, expected[, timeoutMs])  fatal, prints both values
//   EXPECT_EVENTUALLY_EQ(actual, expected[, timeoutMs])  goes on, prints both values
//
// The test that no test uses Qt's macros: Waits.cmake.
#pragma once

#include <QTest>
#include <gtest/gtest.h>

namespace Waits {
constexpr int timeoutMs(int ms = 5000) { return ms; }
} // namespace Waits

// The switch keeps a trailing else of the caller's away from the if inside, as GoogleTest's do.
#define WAITS_CONDITION_(fail, condition, ...)                                                               \
    switch (0)                                                                                               \
    case 0:                                                                                                  \
    default:                                                                                                 \
        if (const int waitsMs_ = Waits::timeoutMs(__VA_ARGS__);                                              \
            QTest::qWaitFor([&] { return static_cast<bool>(condition); }, waitsMs_))                         \
            ;                                                                                                \
        else                                                                                                 \
            fail() << "Still false after " << waitsMs_ << " ms: " #condition "\n"

// On a timeout the values are compared once more by ASSERT_EQ or EXPECT_EQ, which print them.
#define WAITS_EQUAL_(check, actual, expected, ...)                                                           \
    switch (0)                                                                                               \
    case 0:                                                                                                  \
    default:                                                                                                 \
        if (const int waitsMs_ = Waits::timeoutMs(__VA_ARGS__);                                              \
            QTest::qWaitFor([&] { return (actual) == (expected); }, waitsMs_))                               \
            ;                                                                                                \
        else                                                                                                 \
            check(actual, expected) << "Still unequal after " << waitsMs_ << " ms\n"

#define ASSERT_EVENTUALLY(...) WAITS_CONDITION_(GTEST_FAIL, __VA_ARGS__)
#define EXPECT_EVENTUALLY(...) WAITS_CONDITION_(ADD_FAILURE, __VA_ARGS__)
#define ASSERT_EVENTUALLY_EQ(...) WAITS_EQUAL_(ASSERT_EQ, __VA_ARGS__)
#define EXPECT_EVENTUALLY_EQ(...) WAITS_EQUAL_(EXPECT_EQ, __VA_ARGS__)
