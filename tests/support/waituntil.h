#pragma once

#include <QDeadlineTimer>
#include <QTest>

// Runs the event loop until the condition holds or the time is up; what QTRY_VERIFY does,
// for helpers that must report the outcome instead of failing the test themselves.
template<typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}
