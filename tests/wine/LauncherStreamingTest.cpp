// A device whose CGI streams its files: chunked, or without any framing and
// ended by closing the connection. Whole, such a file provisions like any
// other; cut, the archive's own check refuses it, the launch ends with the
// sequence's message, nothing of it stays in the cache, and the next launch
// against a healthy device provisions.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"
#include "tests/wine/LauncherSteps.h"

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
using winetest::ErrorBoxText;
using winetest::ExpectLaunchSucceeded;
using winetest::kConfigGui;
using winetest::kJavaw;
using winetest::kUnableToConnect;
using winetest::Launcher;
using winetest::LauncherTestData;
using winetest::ServingArchives;
using winetest::TypeAndLaunch;

constexpr const char* kReadFile = "/cgi-bin/ReadBinaryFile.cgi";

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
  DeviceSimulator device(ServingArchives("good"));
  device.Configure(std::string(R"({")") + c.framing + R"(": {")" + kReadFile + R"(": true}})");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, device);

  if (c.whole) {
    ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
    EXPECT_EQ(winetest::FileContents(app_.Path() / kJavaw),
              winetest::FileContents(LauncherTestData("trees/download/bin/javaw.exe")));
    EXPECT_EQ(winetest::FileContents(app_.Path() / kConfigGui),
              winetest::FileContents(LauncherTestData("trees/download/lib/config-gui.jar")));
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
            winetest::FileContents(LauncherTestData("trees/download/bin/javaw.exe")));
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
