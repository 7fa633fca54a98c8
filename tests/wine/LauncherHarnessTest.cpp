// The harness's own pure part: arguments must reach the launcher exactly as
// the tests wrote them, or every command-line test checks the wrong input.
#include "tests/wine/LauncherHarness.h"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace {

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(commandLine.c_str(), &count);
  std::vector<std::wstring> args(argv, argv + count);
  LocalFree(argv);
  return args;
}

TEST(HarnessQuoteArgument, SplitsBackToTheSameArgument) {
  const std::wstring cases[] = {
      L"plain",     L"two words",        L"",         L"say \"hi\"",
      L"ends\\",    L"dir with space\\", L"a\\\\\"b", L"C:\\Program Files\\x",
      L"tab\there", L"-autologin",
  };
  for (const std::wstring& arg : cases) {
    std::vector<std::wstring> split =
        SplitCommandLine(L"prog.exe " + winetest::QuoteArgument(arg) + L" next");
    ASSERT_EQ(split.size(), 3u) << "argument [" << testing::PrintToString(arg) << "]";
    EXPECT_EQ(split[1], arg);
    EXPECT_EQ(split[2], L"next");
  }
}

} // namespace
