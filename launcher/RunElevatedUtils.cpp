#include "launcher/RunElevatedUtils.h"

#include "platform/Storage.h"

namespace launcher {

bool IsAdministrator(plat::Services& s) {
  return s.security.InAdministratorsGroup();
}

bool IsElevated(plat::Services& s) {
  if (s.security.OsMajorVersion() < 6)
    return IsAdministrator(s);
  return s.security.TokenElevated().value_or(false);
}

} // namespace launcher
