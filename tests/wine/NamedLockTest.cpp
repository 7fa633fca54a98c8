// The named lock and the new-folder call of the Win32 layer, on the real
// calls: what launchers running at the same time rely on to keep out of each
// other's way in the machine's cache and in scratch space.
#include "platform/win32/Win32Platform.h"

#include "tests/wine/LauncherHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using winetest::TempFolder;
namespace fs = std::filesystem;

// A name of this test process alone, so that no other test run meets it.
std::string LockName(const char* what) {
  return "VeltraDynamicRemoteHMI.Test." + std::to_string(GetCurrentProcessId()) + "." + what;
}

// Holds a lock on a thread of its own until told to let go, or until the
// thread ends without letting go.
class OtherHolder {
public:
  OtherHolder(const std::string& name, bool releaseAtEnd)
      : thread_([this, name, releaseAtEnd] {
          plat::win32::Win32System system;
          std::unique_ptr<plat::NamedLock> lock = system.AcquireNamedLock(name, 5000);
          held_ = lock != nullptr;
          taken_ = true;
          while (!letGo_)
            Sleep(10);
          if (!releaseAtEnd)
            (void)lock.release(); // the thread ends still owning the mutex
        }) {
    EXPECT_TRUE(winetest::WaitUntil([&] { return taken_.load(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(held_);
  }
  ~OtherHolder() { LetGo(); }
  void LetGo() {
    letGo_ = true;
    if (thread_.joinable())
      thread_.join();
  }

private:
  std::atomic<bool> taken_{false}, held_{false}, letGo_{false};
  std::thread thread_;
};

TEST(NamedLock, SecondHolderWaitsUntilTheFirstLetsGo) {
  plat::win32::Win32System system;
  const std::string name = LockName("wait");
  {
    OtherHolder other(name, true);
    EXPECT_EQ(system.AcquireNamedLock(name, 50), nullptr) << "taken while another holds it";
    other.LetGo();
    std::unique_ptr<plat::NamedLock> lock = system.AcquireNamedLock(name, 5000);
    EXPECT_NE(lock, nullptr);
  }
  // Dropped: free again for the next one.
  OtherHolder next(name, true);
}

TEST(NamedLock, AHolderThatEndedWithoutLettingGoLeavesItFree) {
  plat::win32::Win32System system;
  const std::string name = LockName("abandoned");
  OtherHolder(name, false).LetGo();
  EXPECT_NE(system.AcquireNamedLock(name, 5000), nullptr);
}

TEST(NamedLock, ANameTheSystemRefusesIsAnError) {
  plat::win32::Win32System system;
  EXPECT_THROW(system.AcquireNamedLock("a\\b", 0), plat::PlatformError);
}

TEST(CreateNewDirectory, OnlyAFolderMadeNowCounts) {
  TempFolder temp;
  plat::win32::Win32FileSystem files;
  const fs::path folder = temp.Path() / L"TMP_1_0";
  auto utf8 = [](const fs::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
  };
  EXPECT_TRUE(files.CreateNewDirectory(utf8(folder)));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(files.CreateNewDirectory(utf8(folder))) << "an existing folder";
  std::ofstream(temp.Path() / L"TMP_1_1") << "a file";
  EXPECT_FALSE(files.CreateNewDirectory(utf8(temp.Path() / L"TMP_1_1"))) << "a file of the name";
  EXPECT_FALSE(files.CreateNewDirectory(utf8(temp.Path() / L"missing" / L"TMP_1_2")))
      << "a missing parent";
  EXPECT_FALSE(files.CreateNewDirectory(""));
}

} // namespace
