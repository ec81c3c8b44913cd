#pragma once

// Waits of the reachability tests in the time of a TestClock: the clock is
// moved on, the program settling at each step, until the condition holds or
// the limit (in milliseconds of the clock) has passed; then the check runs.

#include "TestClock.h"

#include <QTest>

#include <chrono>

#define CLOCK_TRY_VERIFY(clock, condition, limitMs)                                                      \
    do {                                                                                                 \
        (clock).advanceUntil([&]() -> bool { return (condition); }, std::chrono::milliseconds(limitMs)); \
        QVERIFY(condition);                                                                              \
    } while (false)

#define CLOCK_TRY_COMPARE(clock, actual, expected, limitMs)                                                         \
    do {                                                                                                            \
        (clock).advanceUntil([&]() -> bool { return (actual) == (expected); }, std::chrono::milliseconds(limitMs)); \
        QCOMPARE(actual, expected);                                                                                 \
    } while (false)

// Milliseconds of the clock since an earlier reading.
inline qint64 clockMsSince(const Clock &clock, Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - since).count();
}
