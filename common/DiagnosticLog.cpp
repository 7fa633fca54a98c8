#include "common/DiagnosticLog.h"

#include "common/Paths.h"
#include "common/Text.h"

#include <exception>
#include <optional>

namespace launch {

namespace {

constexpr const char* kProgramFolderName = "Veltra Dynamic Remote HMI";
constexpr const char* kWriteProbe = "~write-probe.tmp";

} // namespace

std::string DiagnosticLog::DeveloperFolder() {
  if (!folder_.empty())
    return folder_;
  const std::string beside = paths::FolderOf(s_.system.ExecutablePath());
  try {
    s_.files.WriteFile(beside + kWriteProbe, "");
    s_.files.DeleteFile(beside + kWriteProbe);
    folder_ = beside;
    return folder_;
  } catch (const std::exception&) {
  }
  const std::optional<std::string> local = s_.system.LocalAppDataFolder();
  if (!local)
    return beside; // nowhere better: the writes there fail as they would
  folder_ = paths::JoinPath(*local, kProgramFolderName) + "\\";
  s_.files.CreateDirectories(folder_);
  movedAway_ = true;
  return folder_;
}

std::string DiagnosticLog::GetLogFileName() {
  return DeveloperFolder() + "Log.txt";
}

void DiagnosticLog::LogMessage(const std::string& aMessage) {
  if (!enableLogging_)
    return;
  std::string path = GetLogFileName();
  std::vector<std::string> lines;
  if (s_.files.FileExists(path))
    lines = text::SplitLines(s_.files.ReadFile(path));
  else if (movedAway_)
    lines.push_back("Developer files are written to " + folder_ + ": the program's folder " +
                    paths::FolderOf(s_.system.ExecutablePath()) + " cannot be written.");
  lines.push_back(aMessage);
  std::string content;
  for (const std::string& line : lines)
    content += line + "\r\n";
  s_.files.WriteFile(path, content);
}

void DiagnosticLog::ClearLog() {
  if (!enableLogging_)
    return;
  std::string path = GetLogFileName();
  if (s_.files.FileExists(path))
    s_.files.DeleteFile(path);
}

} // namespace launch
