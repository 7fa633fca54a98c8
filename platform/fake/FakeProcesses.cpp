#include "platform/fake/FakeProcesses.h"

namespace fake {

std::string FakeProcesses::ResolveProgram(const std::string& commandLine) const {
  auto isProgram = [&](std::string candidate) -> std::string {
    size_t nameStart = candidate.find_last_of("\\/:");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    if (candidate.find('.', nameStart) == std::string::npos)
      candidate += ".exe";
    return files_.FileExists(candidate) ? candidate : std::string();
  };
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t close = commandLine.find('"', 1);
    return close == std::string::npos ? std::string() : isProgram(commandLine.substr(1, close - 1));
  }
  // An unquoted path with blanks is ambiguous: the system tries each prefix
  // that ends before a blank, shortest first, then the whole line.
  size_t blank = 0;
  for (;;) {
    blank = commandLine.find(' ', blank);
    std::string candidate = commandLine.substr(0, blank);
    if (!candidate.empty()) {
      std::string found = isProgram(candidate);
      if (!found.empty())
        return found;
    }
    if (blank == std::string::npos)
      return {};
    ++blank;
  }
}

std::optional<uint32_t> FakeProcesses::CreateProcess(const std::string& commandLine,
                                                     const std::string& currentDirectory,
                                                     const plat::WindowPlacement& placement) {
  ProcessStart start{commandLine, currentDirectory, placement, {}, false};
  bool ok = !refuseStarts;
  if (ok && checkFiles) {
    start.program = ResolveProgram(commandLine);
    ok = !start.program.empty() &&
         (currentDirectory.empty() || files_.DirectoryExists(currentDirectory));
  }
  start.started = ok;
  starts.push_back(start);
  if (!ok)
    return std::nullopt;
  const uint32_t process = nextHandle_;
  nextHandle_ += 8;
  exitCodes_[process] = plat::kStillActive;
  const std::string image = start.program.empty() ? commandLine : start.program;
  starts.back().processId = AddRunning(launcherProcessId, image);
  ids_[process] = starts.back().processId;
  lastStarted_ = starts.back().processId;
  if (onStart)
    onStart(starts.back(), process);
  return process;
}

uint32_t FakeProcesses::AddRunning(uint32_t parentId, const std::string& image) {
  FakeProcess process;
  process.id = nextId_;
  nextId_ += 4;
  process.parentId = parentId;
  process.image = image;
  process.started = ++clock_;
  running.push_back(process);
  return process.id;
}

uint32_t FakeProcesses::EarlierHmiId() {
  if (earlierHmi_ == 0)
    earlierHmi_ = AddRunning(4, earlierHmiImage);
  return earlierHmi_;
}

void FakeProcesses::Exit(uint32_t process, uint32_t exitCode) {
  exitCodes_[process] = exitCode;
  auto id = ids_.find(process);
  if (id != ids_.end())
    std::erase_if(running, [&](const FakeProcess& p) { return p.id == id->second; });
}

uint32_t FakeProcesses::ProcessIdOf(uint32_t process) {
  auto it = ids_.find(process);
  return it == ids_.end() ? 0 : it->second;
}

std::vector<plat::ProcessEntry> FakeProcesses::RunningProcesses() {
  ++snapshots;
  std::vector<plat::ProcessEntry> out;
  for (const FakeProcess& p : running) {
    size_t slash = p.image.find_last_of('\\');
    out.push_back(plat::ProcessEntry{
        p.id, p.parentId, slash == std::string::npos ? p.image : p.image.substr(slash + 1),
        p.started});
  }
  return out;
}

std::optional<std::string> FakeProcesses::ProcessImagePath(uint32_t processId) {
  for (const FakeProcess& p : running)
    if (p.id == processId && !p.hidden)
      return p.image;
  return std::nullopt;
}

std::optional<uint32_t> FakeProcesses::GetExitCodeProcess(uint32_t process) {
  auto it = exitCodes_.find(process);
  if (it == exitCodes_.end())
    return std::nullopt;
  return it->second;
}

plat::ScreenSize FakeProcesses::VirtualScreen() {
  return screen;
}

} // namespace fake
