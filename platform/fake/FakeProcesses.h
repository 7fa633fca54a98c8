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
  plat::WindowPlacement placement;
  // The program file the command line resolved to; empty when none did.
  std::string program;
  bool started = false;
  // The new process's id (0 when the start failed).
  uint32_t processId = 0;
};

// A running process of the machine, as a test scripts it.
struct FakeProcess {
  uint32_t id = 0;
  uint32_t parentId = 0;
  // The program's full path; its file name is what a snapshot lists.
  std::string image;
  // Start time, growing with each start; 0: cannot be read.
  uint64_t started = 0;
  // Its image path cannot be read (another user's process).
  bool hidden = false;
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
  std::function<void(const ProcessStart&, uint32_t process)> onStart;
  plat::ScreenSize screen{1920, 1080};

  // The machine's processes besides those started through the fake; a
  // started one joins them with the launcher as its parent and leaves when
  // it exits.
  std::vector<FakeProcess> running;
  // The launcher's own process, parent of what it starts.
  uint32_t launcherProcessId = 4242;
  std::string launcherImage = "C:\\Program Files\\Veltra\\VeltraDynamicRemoteHMI.exe";
  // Scripts a process started by `parentId` (a process the HMI started, or
  // another program) and returns its id.
  uint32_t AddRunning(uint32_t parentId, const std::string& image);
  // Snapshots taken.
  int snapshots = 0;
  // The id of the latest process started through the fake; 0 before any.
  uint32_t LastStartedId() const { return lastStarted_; }
  // An HMI left running by an earlier launch, from the default cache's JRE
  // image: scripted on first use, as the owner of windows a test adds
  // before any start without naming their process.
  uint32_t EarlierHmiId();
  std::string earlierHmiImage =
      "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImage\\v17.0.2.0\\bin\\javaw.exe";

  // The process ends with this exit code.
  void Exit(uint32_t process, uint32_t exitCode);

  std::optional<uint32_t> CreateProcess(const std::string& commandLine,
                                        const std::string& currentDirectory,
                                        const plat::WindowPlacement& placement) override;
  std::optional<uint32_t> GetExitCodeProcess(uint32_t process) override;
  uint32_t ProcessIdOf(uint32_t process) override;
  std::vector<plat::ProcessEntry> RunningProcesses() override;
  std::optional<std::string> ProcessImagePath(uint32_t processId) override;
  plat::ScreenSize VirtualScreen() override;

private:
  std::string ResolveProgram(const std::string& commandLine) const;

  FakeFileSystem& files_;
  std::map<uint32_t, uint32_t> exitCodes_; // by process handle
  std::map<uint32_t, uint32_t> ids_;       // process handle -> id
  uint32_t nextHandle_ = 0x1c0;
  uint32_t nextId_ = 6000;
  uint32_t lastStarted_ = 0;
  uint32_t earlierHmi_ = 0;
  uint64_t clock_ = 1000;
};

} // namespace fake
