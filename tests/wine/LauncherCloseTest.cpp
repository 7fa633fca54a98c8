// The operator closes the real launcher's window while it downloads from the
// device simulator over a slow line: the launch is given up at once, not
// finished unseen.
#include "platform/win32/Win32Archive.h"
#include "platform/win32/Win32Text.h"
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"
#include "tests/wine/LauncherSteps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace {

namespace fs = std::filesystem;

using winetest::CleanAppFolder;
using winetest::CountOf;
using winetest::DeviceSimulator;
using winetest::Launcher;
using winetest::Paths;
using winetest::WaitUntil;

constexpr const char* kReadFile = "/cgi-bin/ReadBinaryFile.cgi";
constexpr const char* kWaitingForLock =
    "Waiting for another launcher to provide the runtime images...";

// The percentage of the download the progress part shows; -1 for none.
int PercentShown(Launcher& launcher) {
  static const std::regex percent(R"(\((\d+)%\))");
  std::smatch m;
  const std::string progress = launcher.StatusPart(1);
  return std::regex_search(progress, m, percent) ? std::stoi(m[1].str()) : -1;
}

TEST(LauncherClose, ClosedDuringASlowDownloadTheLaunchEndsAndLeavesNothingBehind) {
  CleanAppFolder app;
  DeviceSimulator device(winetest::ServingArchives("good"));
  // The runtime archive (about 94 KiB) would take about 24 s to arrive.
  device.Configure(R"({"rate_bps": {"/cgi-bin/ReadBinaryFile.cgi": 4000}})");
  {
    Launcher launcher;
    launcher.WaitUntilShown();
    winetest::TypeAndLaunch(launcher, device);
    // About two seconds in, a tenth of the body has come.
    ASSERT_TRUE(WaitUntil([&] { return PercentShown(launcher) >= 8; }))
        << "progress: " << launcher.StatusPart(1);
    ASSERT_TRUE(PostMessageW(launcher.Window(), WM_CLOSE, 0, 0));
    // Well before the rest of the body could have come.
    ASSERT_TRUE(launcher.WaitForExit(std::chrono::seconds(10))) << "still running after the close";
  }
  const std::vector<winetest::RecordedRequest> requests = device.Requests();
  const std::vector<std::string> paths = Paths(requests);
  // Logged out after the one download that was under way; the binaries'
  // archive was never asked for.
  EXPECT_EQ(CountOf(requests, kReadFile), 1u) << testing::PrintToString(paths);
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.back(), "/LOGOUT") << testing::PrintToString(paths);
  // No part file, no cut archive taken for a whole one, no image and so no
  // HMI to start.
  for (const fs::path& file : app.Files())
    EXPECT_NE(file.extension(), L".part") << file;
  EXPECT_FALSE(fs::exists(app.Path() / L"JRECache" / L"jre_v_17.0.2.zip"));
  EXPECT_FALSE(fs::exists(app.Path() / winetest::kJavaw));

  // The next launch finds the images free to fill: it does not wait for the
  // closed one.
  device.Configure(R"({"rate_bps": {"/cgi-bin/ReadBinaryFile.cgi": 0}})");
  const int since = static_cast<int>(requests.size());
  Launcher next;
  next.WaitUntilShown();
  winetest::TypeAndLaunch(next, device);
  bool waited = false;
  ASSERT_TRUE(WaitUntil([&] {
    waited = waited || next.Text(plat::ControlId::statusBar) == kWaitingForLock;
    return CountOf(device.Requests(since), "/LOGOUT") > 0;
  })) << testing::PrintToString(Paths(device.Requests(since)));
  EXPECT_FALSE(waited);
  ASSERT_NO_FATAL_FAILURE(winetest::ExpectLaunchSucceeded(next, device, since));
  EXPECT_TRUE(fs::exists(app.Path() / winetest::kJavaw));
}

// The archive library asked to stop (as the launcher's close asks it): the
// extraction ends with Stopped and leaves no file behind, in either format.
TEST(LauncherClose, AnExtractionAskedToStopEndsWithoutWriting) {
  std::wstring folder = plat::win32::Widen(VELTRA_ARCHIVE_TESTDATA);
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  auto library = plat::win32::CreateWin32ArchiveLibrary();
  ASSERT_TRUE(library->Load());
  for (const char* format : {"zip", "7z"}) {
    SCOPED_TRACE(format);
    const fs::path file = fs::path(L"Z:" + folder) / (L"good." + plat::win32::Widen(format));
    std::unique_ptr<plat::IArchive> archive =
        library->Open(format, plat::win32::Narrow(file.wstring()));
    winetest::TempFolder out;
    plat::ExtractTargets targets;
    for (uint32_t i = 0; i < archive->Items().size(); ++i)
      targets.emplace_back(i, plat::win32::Narrow((out.Path() / std::to_wstring(i)).wstring()));
    plat::StopFlag stop;
    stop.Request();
    EXPECT_THROW(archive->Extract(targets, {}, &stop), plat::Stopped);
    EXPECT_TRUE(fs::is_empty(out.Path()));
  }
}

} // namespace
