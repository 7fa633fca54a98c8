// State and helpers shared by the Win32 implementations inside this folder.
#pragma once

#include "platform/win32/Win32Api.h"

#include <string>

namespace plat::win32 {

inline constexpr const wchar_t* kLoginWindowClass = L"TLoginForm";

// The login window while it exists; null before and after.
HWND MainWindow();

// The owner for a box or dialog: the thread's active window, else the login
// window.
HWND OwnerWindow();

// True while the application shows the hour-glass over its windows.
bool BusyCursor();

// Gives the login window's keyboard handling (arrow keys in the radio group,
// Tab and Enter) the first look at a message taken from the queue;
// true when the message has been handled and must not be dispatched.
bool PreTranslateMessage(MSG& msg);

// The last resort for a C++ exception that reached a Win32 callback: an error
// box with its text. Never throws.
void ReportUnexpected(const char* what) noexcept;

} // namespace plat::win32
