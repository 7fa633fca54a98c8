// Two real launchers on one machine, started at the same moment against one
// device simulator, both provisioning the same runtime images into the one
// machine-wide cache. Each must end its launch as if it were alone.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

namespace fs = std::filesystem;

using plat::ControlId;
using testing::ElementsAre;
using winetest::CleanAppFolder;
using winetest::CountOf;
using winetest::DeviceSimulator;
using winetest::DeviceSimulatorOptions;
using winetest::Launcher;
using winetest::RecordedRequest;
using winetest::WaitUntil;

constexpr const char* kLogout = "/LOGOUT";
constexpr const char* kReadFile = "/cgi-bin/ReadBinaryFile.cgi";

const fs::path kJavaw = fs::path(L"JREImage") / L"v17.0.2.0" / L"bin" / L"javaw.exe";
const fs::path kConfigGui = fs::path(L"LIBImage") / L"v4.10" / L"v410_0007" / L"config-gui.jar";
const fs::path kJreArchive = fs::path(L"JRECache") / L"jre_v_17.0.2.zip";
const fs::path kLibArchive = fs::path(L"LIBCache") / L"lib_hmi_full_410_7_r.zip";

// Made at build time by cmake/windows.d/launcher-e2e-testdata.cmake.
fs::path TestData(const std::string& relative) {
  return winetest::WindowsPath(std::string(VELTRA_LAUNCHER_TESTDATA) + "/" + relative);
}

// The files of the cache folders (not of the images): only whole archives
// may be left there, no part file of either launcher.
std::vector<fs::path> CacheFiles(const CleanAppFolder& app) {
  std::vector<fs::path> cached;
  for (const fs::path& file : app.Files())
    if (*file.begin() == L"JRECache" || *file.begin() == L"LIBCache")
      cached.push_back(file);
  return cached;
}

// How one launcher's launch ended: by closing itself (its launch went
// through), or with a box that it keeps open.
std::string Outcome(Launcher& launcher) {
  HWND box = nullptr;
  const bool ended =
      WaitUntil([&] { return !launcher.Running() || (box = launcher.FindMessageBox()) != nullptr; },
                std::chrono::seconds(90));
  if (box)
    return "box: " + Launcher::MessageBoxText(box);
  return ended ? "closed itself" : "still running without a box";
}

TEST(LauncherConcurrency, TwoLaunchersProvisioningTheSameImagesAtOnceBothSucceed) {
  DeviceSimulatorOptions options;
  options.filesDir = TestData("device/good");
  DeviceSimulator device(options);
  // Each archive read is answered after a pause, so that the two launchers'
  // reads of the same archive are under way at the same time.
  device.Configure(R"({"delay_ms": {"/cgi-bin/ReadBinaryFile.cgi": 400}})");
  const std::string host = "127.0.0.1:" + std::to_string(device.Port());
  const std::string javaw = winetest::FileContents(TestData("trees/download/bin/javaw.exe"));
  const std::string configGui =
      winetest::FileContents(TestData("trees/download/lib/config-gui.jar"));

  for (int round = 1; round <= 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    CleanAppFolder app;
    const int since = static_cast<int>(device.Requests().size());
    std::array<Launcher, 2> launchers;
    for (Launcher& launcher : launchers) {
      launcher.WaitUntilShown();
      launcher.SetText(ControlId::edtHost, host);
      launcher.SetText(ControlId::edtUserName, "admin");
      launcher.SetText(ControlId::edtPassword, "Adm1n-pw");
    }
    for (Launcher& launcher : launchers)
      launcher.Click(ControlId::btnLaunch);

    // A launch that went through ends with the launcher closing itself; one
    // that failed keeps its window with the error box.
    EXPECT_EQ(Outcome(launchers[0]), "closed itself");
    EXPECT_EQ(Outcome(launchers[1]), "closed itself");
    const std::vector<RecordedRequest> requests = device.Requests(since);
    EXPECT_EQ(CountOf(requests, kLogout), 2u);
    // Each archive is read at least once, and by no launcher twice.
    EXPECT_GE(CountOf(requests, kReadFile), 2u);
    EXPECT_LE(CountOf(requests, kReadFile), 4u);

    EXPECT_EQ(winetest::FileContents(app.Path() / kJavaw), javaw);
    EXPECT_EQ(winetest::FileContents(app.Path() / kConfigGui), configGui);
    EXPECT_THAT(CacheFiles(app), ElementsAre(kJreArchive, kLibArchive));
    if (HasFailure())
      break; // the rounds after the first failing one say nothing more
  }
}

} // namespace
