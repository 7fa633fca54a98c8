// A device whose login floods the launcher with cookies: the launch still
// verifies and provisions, because the launcher keeps a bounded number and
// size of cookies per host, and the session cookie goes with every later
// request however many others came after it.
#include "device/HttpClient.h"
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"
#include "tests/wine/LauncherSteps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

namespace {

namespace fs = std::filesystem;

using winetest::CleanAppFolder;
using winetest::DeviceSimulator;
using winetest::ExpectLaunchSucceeded;
using winetest::kJavaw;
using winetest::Launcher;
using winetest::RecordedRequest;
using winetest::ServingArchives;
using winetest::TypeAndLaunch;

constexpr const char* kSessionCookie = "R930::AuthCookieHandler_R930HMI";

struct FloodCase {
  const char* name;
  int count; // cookies the login sets besides the session cookie
  int bytes; // the value of each
};

void PrintTo(const FloodCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherCookieFlood : public testing::TestWithParam<FloodCase> {
protected:
  CleanAppFolder app_;
};

TEST_P(LauncherCookieFlood, TheLaunchProvisionsAndEveryLaterRequestCarriesTheSession) {
  const FloodCase& c = GetParam();
  DeviceSimulator device(ServingArchives("good"));
  device.Configure(R"({"login_cookies": {"count": )" + std::to_string(c.count) + R"(, "bytes": )" +
                   std::to_string(c.bytes) + "}}");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, device);
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
  EXPECT_TRUE(fs::exists(app_.Path() / kJavaw));

  const std::vector<RecordedRequest> requests = device.Requests();
  bool afterLogin = false;
  for (const RecordedRequest& r : requests) {
    SCOPED_TRACE(r.path);
    if (afterLogin) {
      EXPECT_EQ(r.cookies.count(kSessionCookie), 1u);
      EXPECT_LE(r.cookies.size(), device::kMaxCookiesPerDomain);
      size_t header = 0;
      for (const std::string& value : r.HeaderValues("Cookie"))
        header += value.size();
      // The kept names and values, their separators and the session cookie.
      EXPECT_LE(header, device::kMaxCookieBytesPerDomain + 2 * device::kMaxCookiesPerDomain + 128);
    }
    afterLogin = afterLogin || r.path == "/LOGIN";
  }
}

INSTANTIATE_TEST_SUITE_P(Launcher, LauncherCookieFlood,
                         testing::Values(FloodCase{"AThousandSmallCookies", 1000, 8},
                                         // 70 KB of cookies back on every request: more than the
                                         // device takes in one header line.
                                         FloodCase{"SeventyCookiesOfAKilobyte", 70, 1024}),
                         [](const testing::TestParamInfo<FloodCase>& info) {
                           return info.param.name;
                         });

} // namespace
