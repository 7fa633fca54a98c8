// libFuzzer target: the command-line reader. The input is the arguments,
// program first, separated by NUL bytes. Besides not crashing, each option
// has the value that follows its last usable occurrence (for -port, the last
// one whose value is a 32-bit integer), "-autologin" counts anywhere after
// the program, and the program itself is never read as an option.
#include "common/Text.h"
#include "launcher/StartupOptions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using launcher::CommandLineOptions;

// The value after the last occurrence of `name` that has one accepted by
// `usable`, looking from the end.
template <typename Usable>
std::optional<std::string> LastValue(const std::vector<std::string>& args, const char* name,
                                     Usable usable) {
  for (size_t i = args.size(); i-- > 2;)
    if (args[i - 1] == name && usable(args[i]))
      return args[i];
  return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args =
      text::Split(std::string_view(reinterpret_cast<const char*>(data), size), '\0');
  const CommandLineOptions options = launcher::ParseCommandLine(args);

  auto any = [](const std::string&) { return true; };
  auto integer = [](const std::string& v) { return text::ParseInt32(v).has_value(); };
  if (!options.port.empty() && !text::ParseInt32(options.port))
    std::abort();
  if (options.port != LastValue(args, "-port", integer).value_or(""))
    std::abort();
  if (options.host != LastValue(args, "-host", any) ||
      options.userName != LastValue(args, "-username", any))
    std::abort();
  bool autoLogin = false;
  for (size_t i = 1; i < args.size(); ++i)
    autoLogin = autoLogin || args[i] == "-autologin";
  if (options.autoLogin != autoLogin)
    std::abort();

  args[0] = args[0] == "-autologin" ? "-host" : "-autologin";
  if (!(launcher::ParseCommandLine(args) == options))
    std::abort();
  return 0;
}
