// The platform services that HMI process control uses, taken from the
// program's services once.
#pragma once

#include "platform/Desktop.h"
#include "platform/Platform.h"

namespace hmi {

struct HmiServices {
  plat::ISystem& system;
  plat::IUi& ui;
  plat::IWindows& windows;
  plat::IProcesses& processes;
  plat::IRegistry& registry;

  static HmiServices From(const plat::Services& s) {
    return HmiServices{s.system, s.ui, s.windows, s.processes, s.registry};
  }
};

} // namespace hmi
