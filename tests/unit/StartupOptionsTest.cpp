// The readers of "params.txt" and the command line on their own. What the
// window makes of their results is in StartupTest.
#include "launcher/StartupOptions.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using launcher::CommandLineOptions;
using launcher::ParseCommandLine;
using launcher::ParseParams;
using launcher::StartupParams;

// Line breaks and bytes above ASCII shown as escapes, for the failure trace.
std::string Escaped(const std::string& s) {
  const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char c : s) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte >= 0x80) {
      out += "\\x";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

TEST(ParseParams, ValuesErrorsAndWhatAFaultyLineLeaves) {
  // Values that are there before the file is read, to see which ones it
  // replaced.
  constexpr int32_t kStartup = 1000, kSendKeys = 600;
  const std::optional<bool> keep;
  struct Case {
    std::string content;
    int32_t startup;
    int32_t sendKeys;
    std::optional<bool> hide;
    std::string error; // empty: no error
  } cases[] = {
      {"250\n100", 250, 100, keep, ""},
      {"250\n100\n", 250, 100, keep, ""},
      {"5\r7\r0", 5, 7, false, ""},
      {"\xEF\xBB\xBF"
       "5\n7",
       5, 7, keep, ""},
      {"\t5\t\n+7\n True ", 5, 7, true, ""},
      {"2147483647\n-0", 2147483647, 0, keep, ""},
      // Errors, with the lines before the faulty one already taken.
      {"", kStartup, kSendKeys, keep, "params.txt has no line 1 (StartupPause)"},
      {"\xEF\xBB\xBF", kStartup, kSendKeys, keep, "params.txt has no line 1 (StartupPause)"},
      {"100\r\n", 100, kSendKeys, keep, "params.txt has no line 2 (SendKeysPause)"},
      {"2147483648\n0", kStartup, kSendKeys, keep, "'2147483648' is not a valid integer value"},
      {"100\n\n5", 100, kSendKeys, keep, "'' is not a valid integer value"},
      {"100\n 1.5 ", 100, kSendKeys, keep, "'1.5' is not a valid integer value"},
      {"-1\n100", kStartup, kSendKeys, keep, "StartupPause in params.txt must not be negative: -1"},
      {"100\n-600", 100, kSendKeys, keep, "SendKeysPause in params.txt must not be negative: -600"},
      {"1\n2\nyes", 1, 2, keep, "'yes' is not a valid boolean value"},
      // An empty third line is a third line.
      {"1\n2\n\n", 1, 2, keep, "'' is not a valid boolean value"},
      // Only one byte-order mark is skipped.
      {"\xEF\xBB\xBF\xEF\xBB\xBF"
       "1\n2",
       kStartup, kSendKeys, keep,
       "'\xEF\xBB\xBF"
       "1' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Escaped(c.content));
    StartupParams params{kStartup, kSendKeys, std::nullopt};
    std::string error;
    try {
      ParseParams(c.content, params);
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(params.startupPause, c.startup);
    EXPECT_EQ(params.sendKeysPause, c.sendKeys);
    EXPECT_EQ(params.hideLoginForm, c.hide);
  }
}

TEST(ParseCommandLine, OptionsValuesAndOverrides) {
  using Args = std::vector<std::string>;
  using Text = std::optional<std::string>;
  const Text none;
  struct Case {
    Args args; // after the program
    std::string port;
    Text host;
    Text userName;
    bool autoLogin;
  } cases[] = {
      {{}, "", none, none, false},
      {{"-host", "gw1", "-port", "8443", "-username", "bob", "-autologin"},
       "8443",
       "gw1",
       "bob",
       true},
      // An empty value is still a value.
      {{"-host", "", "-username", ""}, "", "", "", false},
      {{"-host", "a", "-host", "b", "-username", "x", "-username", "y"}, "", "b", "y", false},
      {{"-autologin", "-autologin"}, "", none, none, true},
      // The port text is kept exactly as given.
      {{"-port", "+80"}, "+80", none, none, false},
      {{"-port", "-2147483648"}, "-2147483648", none, none, false},
      {{"-port", "2147483648"}, "", none, none, false},
      {{"-port", " 80"}, "", none, none, false},
      // A value is read as an option as well.
      {{"-port", "-port", "5"}, "5", none, none, false},
      {{"-host", "-port", "8443"}, "8443", "-port", none, false},
      // Nothing follows the last option.
      {{"-port"}, "", none, none, false},
      {{"-host", "gw1", "-username"}, "", "gw1", none, false},
  };
  for (const Case& c : cases) {
    Args args{"launcher.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string label;
    for (const std::string& a : c.args)
      label += "[" + a + "] ";
    SCOPED_TRACE(label);
    const CommandLineOptions options = ParseCommandLine(args);
    EXPECT_EQ(options.port, c.port);
    EXPECT_EQ(options.host, c.host);
    EXPECT_EQ(options.userName, c.userName);
    EXPECT_EQ(options.autoLogin, c.autoLogin);
  }
}

TEST(ParseCommandLine, TheProgramIsNotAnArgument) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-autologin"}, {"-host", "gw1"}}) {
    const CommandLineOptions options = ParseCommandLine(args);
    EXPECT_FALSE(options.autoLogin);
    EXPECT_FALSE(options.host);
  }
}

} // namespace
