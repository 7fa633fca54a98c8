// A device whose CGI streams its files: chunked, or without any framing and
// ended by closing the connection. Whole, such a file provisions like any
// other; cut, the archive's own check refuses it, the launch ends with the
// sequence's message, nothing of it stays in the cache, and the next launch
// against a healthy device provisions.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

namespace {

namespace fs = std::filesystem;

using plat::ControlId;
using testing::IsEmpty;
using winetest::CleanAppFolder;
using winetest::CountOf;
using winetest::DeviceSimulator;
using winetest::DeviceSimulatorOptions;
using winetest::Launcher;
using winetest::Paths;
using winetest::WaitUntil;

constexpr const char* kCaption = "Veltra Dynamic Remote HMI";
constexpr const char* kLogout = "/LOGOUT";
constexpr const char* kReadFile = "/cgi-bin/ReadBinaryFile.cgi";
constexpr const char* kUnableToConnect = "Unable to connect to a device at the specified address.";

// Where the simulator's default device puts its images.
const fs::path kJavaw = fs::path(L"JREImage") / L"v17.0.2.0" / L"bin" / L"javaw.exe";
const fs::path kConfigGui = fs::path(L"LIBImage") / L"v4.10" / L"v410_0007" / L"config-gui.jar";

// Made at build time by cmake/windows.d/launcher-e2e-testdata.cmake.
fs::path TestData(const std::string& relative) {
  return winetest::WindowsPath(std::string(VELTRA_LAUNCHER_TESTDATA) + "/" + relative);
}

void TypeAndLaunch(Launcher& launcher, const DeviceSimulator& device) {
  launcher.SetText(ControlId::edtHost, "127.0.0.1:" + std::to_string(device.Port()));
  launcher.SetText(ControlId::edtUserName, "admin");
  launcher.SetText(ControlId::edtPassword, "Adm1n-pw"); // the simulator's default account
  launcher.Click(ControlId::btnLaunch);
}

std::string ErrorBoxText(Launcher& launcher) {
  HWND box = launcher.WaitForMessageBox();
  launcher.WaitUntilIdle();
  EXPECT_EQ(Launcher::MessageBoxCaption(box), kCaption);
  std::string text = Launcher::MessageBoxText(box);
  launcher.PressOk(box);
  return text;
}

// Verification and provisioning succeeded: the logout is the session's last
// request, no box comes, and the launcher closes by itself (the test images
// carry no HMI that runs).
void ExpectLaunchSucceeded(Launcher& launcher, DeviceSimulator& device, int since) {
  ASSERT_TRUE(WaitUntil([&] { return CountOf(device.Requests(since), kLogout) > 0; }))
      << "no logout; requests: " << testing::PrintToString(Paths(device.Requests(since)));
  launcher.WaitUntilIdle();
  HWND box = launcher.FindMessageBox();
  ASSERT_EQ(box, nullptr) << "box: " << Launcher::MessageBoxText(box);
  EXPECT_TRUE(launcher.WaitForExit(std::chrono::seconds(30)));
}

// The files below the launcher's folder that belong to the runtime images:
// cached archives (part files included) and extracted images.
std::vector<fs::path> ImageFiles(const CleanAppFolder& app) {
  std::vector<fs::path> files;
  for (const fs::path& file : app.Files()) {
    const fs::path top = *file.begin();
    if (top == L"JRECache" || top == L"LIBCache" || top == L"JREImage" || top == L"LIBImage")
      files.push_back(file);
  }
  return files;
}

struct StreamCase {
  const char* name;
  const char* framing; // the simulator's key for the file reads
  bool whole;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherStreaming : public testing::TestWithParam<StreamCase> {
protected:
  CleanAppFolder app_;
};

TEST_P(LauncherStreaming, AWholeFileProvisionsACutOneLeavesNothingBehind) {
  const StreamCase& c = GetParam();
  DeviceSimulatorOptions options;
  options.filesDir = TestData("device/good");
  DeviceSimulator device(options);
  device.Configure(std::string(R"({")") + c.framing + R"(": {")" + kReadFile + R"(": true}})");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, device);

  if (c.whole) {
    ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
    EXPECT_EQ(winetest::FileContents(app_.Path() / kJavaw),
              winetest::FileContents(TestData("trees/download/bin/javaw.exe")));
    EXPECT_EQ(winetest::FileContents(app_.Path() / kConfigGui),
              winetest::FileContents(TestData("trees/download/lib/config-gui.jar")));
    return;
  }

  // Half of the JRE archive came, ended like a whole one: the transport takes
  // it, and the archive's own check refuses it when it is extracted (the
  // sequence words a library's error as a failed connection), so the launch
  // ends at the extraction, not the download, and the archive leaves the cache.
  EXPECT_THAT(ErrorBoxText(launcher),
              testing::AnyOf(kUnableToConnect, "Unable to process JRE image for remote HMI."));
  EXPECT_THAT(ImageFiles(app_), IsEmpty());
  EXPECT_EQ(CountOf(device.Requests(), kReadFile), 1u);

  // The device streams whole files again: the same launcher provisions.
  device.Configure(std::string(R"({")") + c.framing + R"(": null})");
  const int since = static_cast<int>(device.Requests().size());
  launcher.Click(ControlId::btnLaunch);
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, since));
  EXPECT_EQ(winetest::FileContents(app_.Path() / kJavaw),
            winetest::FileContents(TestData("trees/download/bin/javaw.exe")));
  EXPECT_TRUE(fs::exists(app_.Path() / kConfigGui));
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LauncherStreaming,
    testing::Values(StreamCase{"ChunkedWhole", "chunked", true},
                    StreamCase{"ChunkedCutBeforeTheLastChunk", "chunked_cut", false},
                    StreamCase{"UnframedWholeEndedByClosing", "unframed", true},
                    StreamCase{"UnframedCutByClosing", "close_without_length", false}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

} // namespace
