// The machine-wide image cache on the real file system and the real archive
// library: a folder renamed into place whole, the free space of the disk an
// image goes to, and images that an archive failing half-way or holding more
// than it states leave as they were.
#include "platform/win32/AccessLists.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"
#include "store/ArchiveExtraction.h"
#include "store/FolderUtils.h"
#include "store/ImageInstall.h"
#include "tests/wine/LauncherHarness.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using plat::PlatformError;
using plat::win32::Narrow;
using plat::win32::Widen;
using winetest::TempFolder;

std::string Utf8(const fs::path& path) {
  return Narrow(path.wstring());
}

// The damaged and oversized archives (cmake/windows.d/archive-limits-testdata.cmake).
fs::path LimitsPath(const std::string& name) {
  std::wstring folder = Widen(VELTRA_ARCHIVE_LIMITS_TESTDATA);
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  return fs::path(L"Z:" + folder) / Widen(name);
}

// Every folder and file below `folder`, relative to it, sorted.
std::vector<std::string> Tree(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    found.push_back(Utf8(fs::relative(entry.path(), folder)));
  std::sort(found.begin(), found.end());
  return found;
}

// --- The file system ---------------------------------------------------------

TEST(Win32FileSystemTest, MovesAFolderWholeAndOnlyToANameNotTaken) {
  plat::win32::Win32FileSystem files;
  TempFolder t;
  t.WriteFile(L"a\\sub\\f.txt", "x");
  files.MoveFolder(Utf8(t.Path() / L"a"), Utf8(t.Path() / L"b"));
  EXPECT_EQ(Tree(t.Path()), (std::vector<std::string>{"b", "b\\sub", "b\\sub\\f.txt"}));

  // A target that exists is not replaced, even an empty folder.
  fs::create_directory(t.Path() / L"c");
  EXPECT_THROW(files.MoveFolder(Utf8(t.Path() / L"b"), Utf8(t.Path() / L"c")), PlatformError);
  t.WriteFile(L"d.txt", "file");
  EXPECT_THROW(files.MoveFolder(Utf8(t.Path() / L"b"), Utf8(t.Path() / L"d.txt")), PlatformError);
  // Only folders are moved.
  EXPECT_THROW(files.MoveFolder(Utf8(t.Path() / L"d.txt"), Utf8(t.Path() / L"e")), PlatformError);
  EXPECT_THROW(files.MoveFolder(Utf8(t.Path() / L"none"), Utf8(t.Path() / L"e")), PlatformError);
  EXPECT_EQ(Tree(t.Path()),
            (std::vector<std::string>{"b", "b\\sub", "b\\sub\\f.txt", "c", "d.txt"}));
}

TEST(Win32FileSystemTest, TellsTheFreeSpaceOfTheDiskAFolderWillBeMadeOn) {
  plat::win32::Win32FileSystem files;
  TempFolder t;
  ULARGE_INTEGER direct{};
  ASSERT_TRUE(GetDiskFreeSpaceExW((t.Path().wstring() + L"\\").c_str(), &direct, nullptr, nullptr));
  const std::optional<uint64_t> later = files.FreeSpace(Utf8(t.Path() / L"not" / L"made" / L"yet"));
  ASSERT_TRUE(later.has_value());
  // Other programs write meanwhile: the same disk, give or take.
  const uint64_t difference =
      *later > direct.QuadPart ? *later - direct.QuadPart : direct.QuadPart - *later;
  EXPECT_LT(difference, uint64_t{1} << 30);
  EXPECT_GT(*later, 0u);
  // A drive that is not there has no free space to tell.
  EXPECT_FALSE(files.FreeSpace("Q:\\no\\such\\drive").has_value());
}

// --- Images from archives ----------------------------------------------------

class ImageCacheTest : public testing::Test {
protected:
  // Extracts into the image through the real library, as the download
  // branch does.
  store::ImageOutcome InstallFrom(const std::string& archive) {
    std::string message;
    return store::InstallImage(w.services, folders, Utf8(image), store::kJreImageMarker,
                               store::ValidImage::Keep, [&](const std::string& newImage) {
                                 return store::ExtractArchive(w.services, Utf8(LimitsPath(archive)),
                                                              newImage, message, "", true);
                               });
  }

  plat::win32::Win32Services w;
  store::FolderUtils folders{w.services};
  TempFolder parent;
  fs::path image = parent.Path() / L"v17.0.2.0";
};

TEST(Win32FileSystemTest, ListsTheNamesInOneFolder) {
  TempFolder temp;
  temp.WriteFile(L"a.zip.12.0.part", "x");
  temp.WriteFile(L"~v1_12_0\\new\\f", "x");
  plat::win32::Win32FileSystem files;
  std::vector<std::string> names = files.ListFolder(Narrow(temp.Path().wstring()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.zip.12.0.part", "~v1_12_0"}));
  EXPECT_TRUE(files.ListFolder(Narrow((temp.Path() / L"missing").wstring())).empty());
}

// Each list of the table as the system reads it: its SDDL parsed into a
// protected descriptor and written back unchanged (a typo or an entry the
// parser drops would show), and set on a folder with a file in it, on the
// file, never on a path that is not there. This Wine takes the lists but
// keeps none (what it reads back of a file is made from the Unix mode: SY,
// the user, Everyone), so what each list lets a user do is decided on the
// fakes and checked entry by entry in AccessListsTest.
TEST(Win32FileSystemTest, SetsEachAccessListOfTheTableAsTheSystemReadsIt) {
  plat::win32::Win32FileSystem files;
  for (const plat::win32::AccessListSddl& entry : plat::win32::kAccessLists) {
    SCOPED_TRACE(entry.sddl);
    // The system's reading of the text, and of its own text for it again: the
    // same entries, none dropped (the system spells some masks its own way:
    // 0x6 comes back as "DCLC").
    auto dacl = [](const std::wstring& sddl, plat::win32::LocalMemory& descriptor) {
      PACL list = nullptr;
      BOOL present = FALSE;
      BOOL defaulted = FALSE;
      SECURITY_DESCRIPTOR_CONTROL control = 0;
      DWORD revision = 0;
      if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
              sddl.c_str(), SDDL_REVISION_1,
              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr) ||
          !GetSecurityDescriptorDacl(descriptor.get(), &present, &list, &defaulted) || !present ||
          !GetSecurityDescriptorControl(descriptor.get(), &control, &revision) ||
          !(control & SE_DACL_PROTECTED))
        return std::string();
      return std::string(reinterpret_cast<const char*>(list), list->AclSize);
    };
    plat::win32::LocalMemory descriptor;
    const std::string table = dacl(Widen(entry.sddl), descriptor);
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(reinterpret_cast<const ACL*>(table.data())->AceCount,
              std::count(entry.sddl, entry.sddl + std::strlen(entry.sddl), '('));
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    plat::win32::LocalMemory owned(text);
    plat::win32::LocalMemory again;
    EXPECT_EQ(dacl(text, again), table) << Narrow(text);

    TempFolder temp;
    const fs::path file = temp.WriteFile(L"bin\\javaw.exe", "x");
    EXPECT_EQ(files.SetAccessList(Utf8(temp.Path() / L"bin"), entry.list),
              plat::AccessChange::Done);
    EXPECT_EQ(files.SetAccessList(Utf8(file), entry.list), plat::AccessChange::Done);
    EXPECT_EQ(files.SetAccessList(Utf8(temp.Path() / L"missing"), entry.list),
              plat::AccessChange::Failed);
  }
}

TEST_F(ImageCacheTest, AnArchiveThatFailsHalfWayLeavesTheImageAsItWas) {
  parent.WriteFile(L"v17.0.2.0\\lib\\stale.jar", "from an earlier, broken image");
  const std::vector<std::string> before{"v17.0.2.0", "v17.0.2.0\\lib", "v17.0.2.0\\lib\\stale.jar"};
  try {
    InstallFrom("crc-later.zip");
    ADD_FAILURE() << "the checksum error went unnoticed";
  } catch (const plat::ArchiveError& e) {
    EXPECT_NE(std::string(e.what()).find("CRC error"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Tree(parent.Path()), before);

  // Holds a megabyte, states a thousand bytes: cut off, and nothing stays.
  EXPECT_THROW(InstallFrom("size-lie.gz"), plat::ArchiveError);
  EXPECT_EQ(Tree(parent.Path()), before);

  // A sound archive replaces the broken image with exactly its own files.
  EXPECT_EQ(InstallFrom("sound.zip"), store::ImageOutcome::Installed);
  EXPECT_EQ(Tree(parent.Path()),
            (std::vector<std::string>{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe",
                                      "v17.0.2.0\\lib", "v17.0.2.0\\lib\\rt.jar"}));
  EXPECT_EQ(winetest::FileContents(image / L"bin" / L"javaw.exe"), "MZ sound launcher");
}

} // namespace
