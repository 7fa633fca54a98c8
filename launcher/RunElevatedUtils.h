// Whether the launcher runs elevated: only then may the operator change the
// machine-wide package folder.
#pragma once

#include "platform/Platform.h"

namespace launcher {

bool IsAdministrator(plat::Services& s);
// Before Vista there is no elevation: membership of Administrators decides.
// A token that does not open or answer counts as not elevated.
bool IsElevated(plat::Services& s);

} // namespace launcher
