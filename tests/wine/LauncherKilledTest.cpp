// Launchers ended halfway, as the task manager ends them: during a download,
// during an extraction and right after it. What they leave behind (part
// files, scratch folders) belongs to no running launcher; the next launch
// clears it away under the runtime-images lock and goes through.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"
#include "tests/wine/LauncherSteps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using plat::ControlId;
using testing::ElementsAre;
using testing::IsEmpty;
using winetest::CleanAppFolder;
using winetest::DeviceSimulator;
using winetest::DeviceSimulatorOptions;
using winetest::Launcher;
using winetest::WaitUntil;

using winetest::kConfigGui;
using winetest::kJavaw;

const fs::path kJreArchive = fs::path(L"JRECache") / L"jre_v_17.0.2.zip";
const fs::path kLibArchive = fs::path(L"LIBCache") / L"lib_hmi_full_410_7_r.zip";

// Every file and folder below the application folder whose name is a
// leftover's: a part file or a scratch folder.
std::vector<fs::path> Leftovers(const CleanAppFolder& app) {
  std::vector<fs::path> found;
  std::error_code ec;
  if (!fs::exists(app.Path(), ec))
    return found;
  for (const auto& entry : fs::recursive_directory_iterator(app.Path(), ec)) {
    const std::wstring name = entry.path().filename().wstring();
    const bool part = name.size() > 5 && name.substr(name.size() - 5) == L".part";
    const bool scratch = name.rfind(L"~", 0) == 0 || name.rfind(L"TMP_", 0) == 0;
    if (part || scratch)
      found.push_back(entry.path().lexically_relative(app.Path()));
  }
  return found;
}

// The top folders of the cache that hold files, and the archives.
std::vector<fs::path> ArchivesAndImages(const CleanAppFolder& app) {
  std::vector<fs::path> kept;
  for (const fs::path& file : app.Files()) {
    if (file == kJreArchive || file == kLibArchive)
      kept.push_back(file);
    else if (file.string().rfind((fs::path(L"JREImage") / L"v17.0.2.0").string(), 0) == 0)
      kept.push_back(L"JREImage");
    else if (file.string().rfind((fs::path(L"LIBImage") / L"v4.10" / L"v410_0007").string(), 0) ==
             0)
      kept.push_back(L"LIBImage");
    else
      kept.push_back(file);
  }
  std::sort(kept.begin(), kept.end());
  kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
  return kept;
}

class LauncherKilled : public testing::Test {
protected:
  LauncherKilled() : device_(Options()) {}

  static DeviceSimulatorOptions Options() { return winetest::ServingArchives("good"); }

  std::unique_ptr<Launcher> StartLaunch() {
    auto launcher = std::make_unique<Launcher>();
    launcher->WaitUntilShown();
    launcher->SetText(ControlId::edtHost, "127.0.0.1:" + std::to_string(device_.Port()));
    launcher->SetText(ControlId::edtUserName, "admin");
    launcher->SetText(ControlId::edtPassword, "Adm1n-pw");
    launcher->Click(ControlId::btnLaunch);
    return launcher;
  }

  // Ends the launcher at once, as the task manager does: no clean-up runs.
  static void Kill(Launcher& launcher) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, launcher.ProcessId());
    ASSERT_NE(process, nullptr);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    ASSERT_FALSE(launcher.Running());
  }

  bool Exists(const fs::path& relative) const {
    std::error_code ec;
    return fs::exists(app_.Path() / relative, ec);
  }

  CleanAppFolder app_;
  DeviceSimulator device_;
};

TEST_F(LauncherKilled, WhatKilledLaunchersLeftIsClearedByTheNextLaunch) {
  std::vector<fs::path> left;

  // 1. During the download of the runtime archive, slowed to a crawl.
  device_.Configure(R"({"rate_bps": {"/cgi-bin/ReadBinaryFile.cgi": 8000}})");
  {
    auto launcher = StartLaunch();
    ASSERT_TRUE(WaitUntil(
        [&] {
          for (const fs::path& p : Leftovers(app_))
            if (p.extension() == L".part" && fs::file_size(app_.Path() / p) > 0)
              return true;
          return false;
        },
        std::chrono::seconds(60)))
        << "no part file with data appeared";
    ASSERT_NO_FATAL_FAILURE(Kill(*launcher));
  }
  left = Leftovers(app_);
  EXPECT_FALSE(left.empty()) << "the killed download left no part file";
  device_.Reset();

  // 2. During an extraction: as soon as a scratch folder of an image is there.
  {
    auto launcher = StartLaunch();
    WaitUntil(
        [&] {
          for (const fs::path& p : Leftovers(app_))
            if (p.filename().wstring().rfind(L"~", 0) == 0)
              return true;
          return !launcher->Running() || (Exists(kJavaw) && Exists(kConfigGui));
        },
        std::chrono::seconds(60));
    ASSERT_NO_FATAL_FAILURE(Kill(*launcher));
  }
  for (const fs::path& p : Leftovers(app_))
    left.push_back(p);

  // 3. Right after the images are in place.
  {
    auto launcher = StartLaunch();
    WaitUntil([&] { return !launcher->Running() || (Exists(kJavaw) && Exists(kConfigGui)); },
              std::chrono::seconds(60));
    if (launcher->Running()) {
      ASSERT_NO_FATAL_FAILURE(Kill(*launcher));
    }
  }

  // 4. A healthy launch goes through and leaves the archives and the images,
  // nothing more.
  {
    auto launcher = StartLaunch();
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] { return !launcher->Running() || (box = launcher->FindMessageBox()) != nullptr; },
        std::chrono::seconds(90)));
    EXPECT_EQ(box, nullptr) << Launcher::MessageBoxText(box);
  }
  EXPECT_THAT(Leftovers(app_), IsEmpty())
      << "left by the killed launchers: " << testing::PrintToString(left);
  EXPECT_TRUE(Exists(kJavaw));
  EXPECT_TRUE(Exists(kConfigGui));
  EXPECT_THAT(ArchivesAndImages(app_),
              ElementsAre(kJreArchive, fs::path(L"JREImage"), kLibArchive, fs::path(L"LIBImage")));
}

} // namespace
