// The local address, as a test sets it.
#pragma once

#include "platform/Http.h"

namespace fake {

class FakeNetwork : public plat::INetwork {
public:
  plat::LocalAddress local{true, true, "OPERATOR-PC", "192.0.2.10"};
  plat::LocalAddress LocalIPv4() override { return local; }
};

} // namespace fake
