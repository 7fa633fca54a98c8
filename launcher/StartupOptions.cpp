#include "launcher/StartupOptions.h"

#include "common/Text.h"

#include <stdexcept>

namespace launcher {

void ParseParams(std::string content, StartupParams& params) {
  // Editors that save UTF-8 may put a byte-order mark before the first line.
  if (content.rfind("\xEF\xBB\xBF", 0) == 0)
    content.erase(0, 3);
  const std::vector<std::string> lines = text::SplitLines(content);
  // A pause is a millisecond count for an unsigned sleep: a negative value
  // would turn into weeks of a frozen launcher, so it is refused like any
  // other bad line.
  auto pause = [&](size_t index, const char* name) {
    if (lines.size() <= index)
      throw std::runtime_error(std::string("params.txt has no line ") + std::to_string(index + 1) +
                               " (" + name + ")");
    int32_t value = text::ToInt32(text::Trim(lines[index]));
    if (value < 0)
      throw std::runtime_error(std::string(name) +
                               " in params.txt must not be negative: " + lines[index]);
    return value;
  };
  params.startupPause = pause(0, "StartupPause");
  params.sendKeysPause = pause(1, "SendKeysPause");
  if (lines.size() > 2)
    params.hideLoginForm = text::ToBool(text::Trim(lines[2]));
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasNext = i + 1 < args.size();
    if (arg == "-port" && hasNext && text::ParseInt32(args[i + 1]))
      options.port = args[i + 1];
    if (arg == "-host" && hasNext)
      options.host = args[i + 1];
    if (arg == "-username" && hasNext)
      options.userName = args[i + 1];
    if (arg == "-autologin")
      options.autoLogin = true;
  }
  return options;
}

} // namespace launcher
