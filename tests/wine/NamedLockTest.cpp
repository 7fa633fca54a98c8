// The named lock and the new-folder call of the Win32 layer, on the real
// calls: what launchers running at the same time rely on to keep out of each
// other's way in the machine's cache and in scratch space.
#include "platform/win32/Win32Platform.h"

#include "tests/wine/LauncherHarness.h"

#include <gtest/gtest.h>

#include <aclapi.h>

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

// Launchers of other sessions and users meet in the global namespace: the
// lock is there, and every signed-in user may wait for it and let it go.
TEST(NamedLock, LivesInTheGlobalNamespaceOpenToEverySignedInUser) {
  plat::win32::Win32System system;
  const std::string name = LockName("global");
  std::unique_ptr<plat::NamedLock> lock = system.AcquireNamedLock(name, 0);
  ASSERT_NE(lock, nullptr);
  const std::wstring global = L"Global\\" + std::wstring(name.begin(), name.end());
  HANDLE mutex = OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, global.c_str());
  ASSERT_NE(mutex, nullptr) << "no lock of that name in the global namespace";

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(mutex, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID authenticatedUsers = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0, 0,
                                       &authenticatedUsers));
  DWORD granted = 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
        ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
      if (EqualSid(&allowed->SidStart, authenticatedUsers))
        granted |= allowed->Mask;
    }
  }
  FreeSid(authenticatedUsers);
  LocalFree(descriptor);
  CloseHandle(mutex);
  EXPECT_EQ(granted, static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
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
