// The process, its environment and the fake clock.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

// True once the clock has reached `at` (modulo 2^32: `at` up to 2^31 ms ahead
// is still to come).
bool TickReached(uint32_t now, uint32_t at);

class FakeSystem : public plat::ISystem {
public:
  std::map<std::string, std::string> environment;
  std::vector<std::string> arguments{"C:\\Program Files\\Veltra\\VeltraDynamicRemoteHMI.exe"};
  std::string executablePath = "C:\\Program Files\\Veltra\\VeltraDynamicRemoteHMI.exe";
  std::optional<plat::FileVersion> fileVersion = plat::FileVersion{0x00010002, 0x00000001};
  std::optional<std::string> commonAppData = std::string("C:\\ProgramData");
  std::optional<std::string> localAppData = std::string("C:\\Users\\op\\AppData\\Local");
  std::string tempFolder = "C:\\Users\\operator\\AppData\\Local\\Temp";
  uint32_t processId = 4242;
  uint32_t tick = 1000;
  std::vector<uint32_t> sleeps;
  // Named locks: how often each is held by this process, and those another
  // process holds (a wait for one of them passes its whole time and fails).
  std::map<std::string, int> locksHeld;
  std::set<std::string> locksHeldElsewhere;
  // Every take and release, as "lock name", "unlock name".
  std::vector<std::string> lockJournal;
  bool namedLocksWork = true;

  std::string EnvironmentVariable(const std::string& name) override;
  std::vector<std::string> CommandLineArguments() override { return arguments; }
  std::string ExecutablePath() override { return executablePath; }
  std::optional<plat::FileVersion> ExecutableFileVersion() override { return fileVersion; }
  std::optional<std::string> CommonAppDataFolder() override { return commonAppData; }
  std::optional<std::string> LocalAppDataFolder() override { return localAppData; }
  std::string TempFolder() override { return tempFolder; }
  uint32_t ProcessId() override { return processId; }
  uint32_t TickCount() override { return tick; }
  // Time passes only in sleeps, so waits are deterministic.
  void Sleep(uint32_t milliseconds) override;
  std::unique_ptr<plat::NamedLock> AcquireNamedLock(const std::string& name,
                                                    uint32_t waitMs) override;
};

} // namespace fake
