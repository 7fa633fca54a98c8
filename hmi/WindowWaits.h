// Following the HMI once it runs: waiting for its windows to come (and go),
// telling whether the operator trusted the device, and typing into its login
// window. Everything here runs on the GUI thread and keeps the launcher's own
// messages flowing while it waits; nothing reports an error: a window that is
// gone or a missing record reads as a plain negative answer. Every wait on
// the HMI's own thread has a time limit, so a hung HMI cannot hold the
// launcher; the waits that take a stop flag end once the launcher is closed.
#pragma once

#include "hmi/HmiServices.h"
#include "hmi/WindowFinder.h"
#include "platform/Desktop.h"

#include <cstdint>
#include <functional>
#include <string>

namespace hmi {

// Waits up to `timeOut` ms for a top-level window with that whole title;
// `timedOut` tells that none came. The window is looked for at the start,
// after each message that wakes the wait, and every 200 ms, the last time
// when the time runs out.
// With `waitForClose`, a window that was found is then waited for, without
// limit, until it is gone or `stop` is requested.
void WaitForWindowName(const HmiServices& s, TWindowFinder& finder, const std::string& windowName,
                       bool& timedOut, uint32_t timeOut, bool waitForClose,
                       const plat::StopFlag* stop = nullptr);

// The certificate prompt: as WaitForWindowName with `waitForClose`, except
// that the wait for it to come also ends once a window titled `laterWindowName`
// is there. The HMI shows its prompt before its login window, so with the
// login window up no prompt will come; `timedOut` then reads true, as if the
// time had run out. A prompt that is there is waited on until it closes,
// whatever else shows meanwhile.
void WaitForPromptBefore(const HmiServices& s, TWindowFinder& finder, const std::string& promptName,
                         const std::string& laterWindowName, bool& timedOut, uint32_t timeOut,
                         const plat::StopFlag* stop = nullptr);

// How long the HMI's login window has to take one keystroke.
inline constexpr uint32_t kKeyTimeoutMs = 5000;

// Gives the window's thread up to 4000 ms to take a null message: Taken once
// it is responsive, Gone at once for a window that is gone.
plat::Delivery WaitForWindowReady(const HmiServices& s, plat::WindowHandle targetWindow,
                                  const plat::StopFlag& stop);

// Types the text, each UTF-16 code unit handled by the window before the next
// goes, each within kKeyTimeoutMs; stops at the first one not taken.
plat::Delivery SendStringToWindow(const HmiServices& s, plat::WindowHandle handle,
                                  const std::string& sendKeysString, const plat::StopFlag& stop);

// Queues Tab: the next field.
bool SendTabToWindow(const HmiServices& s, plat::WindowHandle handle);

// Queues focus, Enter pressed and released: submits the form.
bool SendEnterToWindow(const HmiServices& s, plat::WindowHandle handle);

// Whether the value exists, of any type, in the key under HKEY_CURRENT_USER;
// a key that does not open reads as false.
bool CheckRegistryValueExists(const HmiServices& s, const std::string& KeyName,
                              const std::string& ValueName);

// Whether the HMI holds the device of the host box text as trusted.
bool LoginAuthorisedInt(const HmiServices& s, const std::string& hostText);

// Checks the trust record at once and then every 200 ms, processing the
// launcher's messages between checks, until it exists or `timeOut` ms have
// passed; 0 checks once. `hostText` is asked at each check: the operator may
// edit the host box meanwhile.
bool LoginAuthorised(const HmiServices& s, const std::function<std::string()>& hostText,
                     uint32_t timeOut);

} // namespace hmi
