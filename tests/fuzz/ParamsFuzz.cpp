// libFuzzer target: the reader of "params.txt" on arbitrary bytes. Besides not
// crashing and raising nothing but std::runtime_error with one of the texts
// shown to the operator:
// - a pause it stores is never negative, and the lines are taken in order
//   (no SendKeysPause without a StartupPause, no HideLoginForm after an error);
// - a byte-order mark before a file without one changes nothing;
// - what it read, written back as a plain file, reads back the same.
#include "launcher/StartupOptions.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using launcher::StartupParams;

// Not a value the reader can store: negative pauses are refused.
constexpr int32_t kUnset = -1;

struct Outcome {
  StartupParams params{kUnset, kUnset, std::nullopt};
  std::string error;

  bool operator==(const Outcome&) const = default;
};

Outcome Read(const std::string& content) {
  Outcome out;
  try {
    launcher::ParseParams(content, out.params);
  } catch (const std::runtime_error& e) {
    out.error = e.what();
    if (out.error.empty())
      std::abort();
  }
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// `quotedMayBeCut`: the text comes through what(), which ends at the first
// NUL byte, so a quoted value with one inside loses its end.
bool KnownError(std::string_view e, bool quotedMayBeCut) {
  return e == "params.txt has no line 1 (StartupPause)" ||
         e == "params.txt has no line 2 (SendKeysPause)" ||
         StartsWith(e, "StartupPause in params.txt must not be negative: ") ||
         StartsWith(e, "SendKeysPause in params.txt must not be negative: ") ||
         (StartsWith(e, "'") && (quotedMayBeCut || EndsWith(e, "' is not a valid integer value") ||
                                 EndsWith(e, "' is not a valid boolean value")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const Outcome read = Read(content);
  const StartupParams& p = read.params;

  const bool startupSet = p.startupPause != kUnset;
  const bool sendKeysSet = p.sendKeysPause != kUnset;
  if ((startupSet && p.startupPause < 0) || (sendKeysSet && p.sendKeysPause < 0))
    std::abort();
  if (sendKeysSet && !startupSet)
    std::abort();
  const bool hasNul = content.find('\0') != std::string::npos;
  if (read.error.empty() ? !sendKeysSet : (p.hideLoginForm || !KnownError(read.error, hasNul)))
    std::abort();

  if (!StartsWith(content, "\xEF\xBB\xBF") && !(Read("\xEF\xBB\xBF" + content) == read))
    std::abort();

  if (read.error.empty()) {
    std::string plain = std::to_string(p.startupPause) + "\r\n" + std::to_string(p.sendKeysPause);
    if (p.hideLoginForm)
      plain += *p.hideLoginForm ? "\r\nTrue" : "\r\nFalse";
    if (!(Read(plain) == read))
      std::abort();
  }
  return 0;
}
