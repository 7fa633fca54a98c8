// In-memory desktop for the unit tests: other processes' top-level windows
// that come and go on the fake clock, the processes the launcher starts, and
// the values of HKEY_CURRENT_USER.
//
// Time is FakeSystem::tick. It passes in FakeSystem::Sleep, in
// MsgWaitForEvent (up to the next scripted change, or the whole time-out) and
// in a SendMessageTimeout to a hung window; nowhere else. Scripted ticks are
// compared with wrap-around in mind, so a script may start just before the
// 32-bit tick count wraps.
#pragma once

#include "platform/fake/FakeProcesses.h"
#include "platform/fake/FakeRegistry.h"
#include "platform/fake/FakeWindows.h"
