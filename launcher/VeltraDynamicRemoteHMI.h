// The program entry, apart from the platform's own main function.
#pragma once

#include "launcher/LoginForm.h"
#include "platform/FormView.h"
#include "platform/Platform.h"

namespace launcher {

// The one window while the program runs; null before and after.
extern TLoginForm* LoginForm;

// Creates the login window, shows it and runs the message loop until it has
// closed. Returns the process exit code.
int RunProgram(plat::Services& services, plat::IToolkit& toolkit);

} // namespace launcher
