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

std::optional<plat::StartedProcess>
FakeProcesses::CreateProcess(const std::string& commandLine, const std::string& currentDirectory,
                             const plat::StartupInfo& startup) {
  ProcessStart start{commandLine, currentDirectory, startup, {}, false};
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
  plat::StartedProcess process{nextHandle_, nextHandle_ + 4};
  nextHandle_ += 8;
  open_.insert(process.process);
  open_.insert(process.thread);
  exitCodes_[process.process] = plat::kStillActive;
  if (onStart)
    onStart(starts.back(), process);
  return process;
}

void FakeProcesses::Exit(uint32_t process, uint32_t exitCode) {
  exitCodes_[process] = exitCode;
}

std::optional<uint32_t> FakeProcesses::GetExitCodeProcess(uint32_t process) {
  auto it = exitCodes_.find(process);
  if (it == exitCodes_.end() || open_.count(process) == 0)
    return std::nullopt;
  return it->second;
}

void FakeProcesses::CloseHandle(uint32_t handle) {
  if (open_.erase(handle) == 0)
    ++badCloses;
}

int32_t FakeProcesses::GetSystemMetrics(int32_t index) {
  auto it = metrics.find(index);
  return it == metrics.end() ? 0 : it->second;
}

} // namespace fake
