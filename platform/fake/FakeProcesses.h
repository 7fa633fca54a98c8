// The processes the launcher starts, as a test scripts them.
#pragma once

#include "platform/Desktop.h"
#include "platform/fake/FakeFileSystem.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

// One CreateProcess call as the fake saw it.
struct ProcessStart {
  std::string commandLine;
  std::string currentDirectory;
  plat::StartupInfo startup;
  // The program file the command line resolved to; empty when none did.
  std::string program;
  bool started = false;
};

class FakeProcesses : public plat::IProcesses {
public:
  explicit FakeProcesses(FakeFileSystem& files) : files_(files) {}

  // Every call, failed ones included.
  std::vector<ProcessStart> starts;
  // When set, a start needs its program file and its working directory in
  // the fake file system, the program found as the system finds it in an
  // unquoted command line (each blank-separated prefix in turn, ".exe" added
  // to a name without extension). Off: every start succeeds.
  bool checkFiles = true;
  // Every start fails.
  bool refuseStarts = false;
  // Runs after a successful start: what the new process will do (its
  // windows, registry values), scripted on the fake clock.
  std::function<void(const ProcessStart&, const plat::StartedProcess&)> onStart;
  std::map<int32_t, int32_t> metrics{{78, 1920}, {79, 1080}};
  std::vector<uint32_t> inputIdleWaits;
  // CloseHandle of a handle that was not open.
  int badCloses = 0;

  // The process ends with this exit code.
  void Exit(uint32_t process, uint32_t exitCode);
  bool IsOpen(uint32_t handle) const { return open_.count(handle) > 0; }
  size_t OpenHandles() const { return open_.size(); }

  std::optional<plat::StartedProcess> CreateProcess(const std::string& commandLine,
                                                    const std::string& currentDirectory,
                                                    const plat::StartupInfo& startup) override;
  void WaitForInputIdle(uint32_t process) override { inputIdleWaits.push_back(process); }
  std::optional<uint32_t> GetExitCodeProcess(uint32_t process) override;
  void CloseHandle(uint32_t handle) override;
  int32_t GetSystemMetrics(int32_t index) override;

private:
  std::string ResolveProgram(const std::string& commandLine) const;

  FakeFileSystem& files_;
  std::set<uint32_t> open_;
  std::map<uint32_t, uint32_t> exitCodes_; // by process handle
  uint32_t nextHandle_ = 0x1c0;
};

} // namespace fake
