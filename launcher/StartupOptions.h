// The two outside inputs read once at startup, the "params.txt" file of the
// working directory and the command line, turned into plain values. No window
// or platform is involved, so both readers can be tested and fuzzed on their
// own; TLoginForm applies what they give.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// "params.txt": line 1 StartupPause, line 2 SendKeysPause (milliseconds), an
// optional line 3 HideLoginForm. Lines past the third are ignored.
struct StartupParams {
  int32_t startupPause = 0;
  int32_t sendKeysPause = 0;
  std::optional<bool> hideLoginForm; // set by a third line only

  bool operator==(const StartupParams&) const = default;
};

// Reads the file's whole content into `params`, one line after the other,
// each value replacing the one there. A leading UTF-8 byte-order mark is
// skipped; lines end in CR LF, LF or CR; a value may have blanks around it. A
// missing pause line, a value that is not a number (or, on line 3, not a
// boolean) and a negative pause raise std::runtime_error with the text shown
// to the operator; the lines before the faulty one have been stored by then.
void ParseParams(std::string content, StartupParams& params);

struct CommandLineOptions {
  std::string port; // empty unless a -port value is a 32-bit integer
  std::optional<std::string> host;
  std::optional<std::string> userName;
  bool autoLogin = false;

  bool operator==(const CommandLineOptions&) const = default;
};

// args[0] is the program and is not read. "-port N", "-host X" and
// "-username X" take the next argument whatever it is (it is still read as an
// option of its own too); a later occurrence overrides an earlier one, and a
// -port whose value is not an integer is ignored. "-autologin" stands alone.
// Options are matched exactly, letter case included; anything else is ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& args);

} // namespace launcher
