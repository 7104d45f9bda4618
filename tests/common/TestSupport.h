#pragma once

#include "tests/common/TimeScale.h"

#include <gtest/gtest.h>

#include <QTest>

// Removes the settings store, whatever a test left there (a file, or a folder standing in for an
// unreadable store), so that every read is absent.
void resetSettings();

// Fires the main frame's real QAction for command id after an enabling pass, as a menu click or a
// shortcut would. Fails when there is no main frame, no such action, or the action is disabled.
::testing::AssertionResult triggerAction(int id);

// Whether the main frame's action for id is enabled after an enabling pass (false without one).
bool actionEnabled(int id);

// Writes bytes to folder/name, failing the test when it cannot, and returns the file's path.
QString writeFileIn(const QString& folder, const QString& name, const QByteArray& bytes);

// Waits as QTRY_VERIFY_WITH_TIMEOUT and QTRY_COMPARE_WITH_TIMEOUT do, but a timeout fails the gtest
// test (QTest's own macros report to a log that gtest never reads) and returns from the function.
// The bound scales under the sanitizers (scaledMs).
#define KD_TRY_VERIFY(expr, timeoutMs)                                                                                 \
    do {                                                                                                               \
        if (!QTest::qWaitFor([&] { return bool(expr); }, scaledMs(timeoutMs))) {                                       \
            ADD_FAILURE() << "still false after " << scaledMs(timeoutMs) << " ms: " #expr;                             \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)
#define KD_TRY_COMPARE(actual, expected, timeoutMs)                                                                    \
    do {                                                                                                               \
        if (!QTest::qWaitFor([&] { return (actual) == (expected); }, scaledMs(timeoutMs))) {                           \
            ADD_FAILURE() << "still different after " << scaledMs(timeoutMs) << " ms: " #actual " vs " #expected;      \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)
