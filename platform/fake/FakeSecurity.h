// The token and version answers, as a test sets them.
#pragma once

#include "platform/Storage.h"

#include <optional>

namespace fake {

class FakeSecurity : public plat::ISecurity {
public:
  unsigned major = 10;
  std::optional<bool> elevated = false;
  bool admin = false;
  unsigned OsMajorVersion() override { return major; }
  std::optional<bool> TokenElevated() override { return elevated; }
  bool InAdministratorsGroup() override { return admin; }
};

} // namespace fake
