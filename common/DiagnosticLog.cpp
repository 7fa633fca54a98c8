#include "common/DiagnosticLog.h"

#include "common/Paths.h"
#include "common/Text.h"

namespace launch {

std::string DiagnosticLog::GetLogFileName() {
  return paths::FolderOf(s_.system.ExecutablePath()) + "Log.txt";
}

void DiagnosticLog::LogMessage(const std::string& aMessage) {
  if (!enableLogging_)
    return;
  std::string path = GetLogFileName();
  std::vector<std::string> lines;
  if (s_.files.FileExists(path))
    lines = text::SplitLines(s_.files.ReadFile(path));
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
