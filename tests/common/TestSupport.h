#pragma once

#include <gtest/gtest.h>

// Removes the settings store, whatever a test left there (a file, or a folder standing in for an
// unreadable store), so that every read is absent.
void resetSettings();

// Fires the main frame's real QAction for command id after an enabling pass, as a menu click or a
// shortcut would. Fails when there is no main frame, no such action, or the action is disabled.
::testing::AssertionResult triggerAction(int id);

// Whether the main frame's action for id is enabled after an enabling pass (false without one).
bool actionEnabled(int id);
