#include "launcher/VeltraDynamicRemoteHMI.h"

namespace launcher {

TLoginForm* LoginForm = nullptr;

int RunProgram(plat::Services& services, plat::IToolkit& toolkit) {
  LauncherGlobals globals;
  TLoginForm form(services, globals);
  LoginForm = &form;
  form.Create(toolkit);
  form.View().Show();
  toolkit.RunMessageLoop();
  LoginForm = nullptr;
  return 0;
}

} // namespace launcher
