#include "store/FolderUtils.h"
#include "common/Paths.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using paths::JoinPath;

TEST(JoinPath, TheOneRule) {
  struct Case {
    const char* left;
    const char* right;
    const char* expected;
  } cases[] = {
      {"", "b", "b"},
      {"a", "", "a"},
      {"C:\\root", "JRECache", "C:\\root\\JRECache"},
      {"C:\\root\\", "x", "C:\\root\\x"},
      {"C:\\root/", "x", "C:\\root/x"},
      {"C:", "x", "C:x"},
      {"C:\\root", "\\abs", "\\abs"},
      {"C:\\root", "D:\\other", "D:\\other"},
      {"C:\\root", "bin\\javaw.exe", "C:\\root\\bin\\javaw.exe"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(JoinPath(c.left, c.right), c.expected) << c.left << " + " << c.right;
}

TEST(JoinPath, RefusesCharactersNotAllowedInPaths) {
  for (const char* bad : {"a*b", "a?b", "a<b", "a>b", "a|b", "a\"b", "a\x01"})
    EXPECT_THROW(JoinPath("C:\\root", bad), paths::InvalidPathError) << bad;
  EXPECT_THROW(JoinPath("C:\\ro|ot", "x"), paths::InvalidPathError);
  EXPECT_EQ(JoinPath("C:\\lib", "*", true), "C:\\lib\\*");
}

TEST(CheckFolderName, OnlyOnePlainFolderNamePasses) {
  for (const char* good : {"v17.0.2.0", "v410_0007", "v 1.0", "Veltra-HMI", "v4.10"})
    EXPECT_NO_THROW(paths::CheckFolderName(good, "test")) << good;
  for (const char* bad : {"", ".", "..", " ..", "a\\b", "a/b", "..\\x", "\\x", "C:x", "C:\\x", "v*",
                          "con", "NUL.txt", "com1", "a:b", "CONIN$", "conout$.log", "nul .txt",
                          // Windows strips a trailing dot or blank: "v4.10." would be "v4.10".
                          "v4.10.", "v4.10 ", "v4.10. "})
    EXPECT_THROW(paths::CheckFolderName(bad, "test"), paths::InvalidPathError) << bad;
}

class FolderUtilsTest : public ::testing::Test {
protected:
  fake::FakePlatform p;
  store::FolderUtils folders{p.services};
  const std::string root = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
};

TEST_F(FolderUtilsTest, TreeUnderTheCommonApplicationDataFolder) {
  EXPECT_EQ(folders.GetAppRootFolder(), root);
  EXPECT_EQ(folders.GetApplicationSettingsFile(), root + "\\ApplicationSettings.xml");
  EXPECT_FALSE(p.files.DirectoryExists(root)); // naming the root creates nothing
  EXPECT_EQ(folders.GetJRECacheFolder(), root + "\\JRECache");
  EXPECT_EQ(folders.GetLIBCacheFolder(), root + "\\LIBCache");
  EXPECT_EQ(folders.GetPackageCacheFolder(), root + "\\PackageCache");
  EXPECT_EQ(folders.GetJREImageFolder("v17.0.2.0"), root + "\\JREImage\\v17.0.2.0");
  EXPECT_EQ(folders.GetLIBImageFolder("v4.10", "v410_0007"), root + "\\LIBImage\\v4.10\\v410_0007");
  for (const char* made : {"\\JRECache", "\\LIBCache", "\\PackageCache", "\\JREImage\\v17.0.2.0",
                           "\\LIBImage\\v4.10\\v410_0007"})
    EXPECT_TRUE(p.files.DirectoryExists(root + made)) << made;
}

TEST_F(FolderUtilsTest, WithoutCommonFolderTheRootIsRelative) {
  p.system.commonAppData.reset();
  EXPECT_EQ(folders.GetJRECacheFolder(), "Veltra Dynamic Remote HMI\\JRECache");
  EXPECT_TRUE(p.files.DirectoryExists("C:\\work\\Veltra Dynamic Remote HMI\\JRECache"));
}

TEST_F(FolderUtilsTest, MissingDriveIsAnErrorOtherFailuresAreLeftToLaterOperations) {
  p.system.commonAppData = "Q:\\ProgramData";
  EXPECT_THROW(folders.GetJRECacheFolder(), store::DirectoryNotFoundError);
  p.system.commonAppData = "C:\\ProgramData";
  p.files.uncreatable.insert(root + "\\LIBCache");
  EXPECT_EQ(folders.GetLIBCacheFolder(), root + "\\LIBCache");
}

TEST_F(FolderUtilsTest, ImageValidityNeedsTheMarkerFile) {
  EXPECT_FALSE(folders.IsJREImageFolderValid("v17.0.2.0"));
  EXPECT_TRUE(p.files.DirectoryExists(root + "\\JREImage\\v17.0.2.0")); // left behind
  p.files.AddFile(root + "\\JREImage\\v17.0.2.0\\bin\\javaw.exe", "MZ");
  EXPECT_TRUE(folders.IsJREImageFolderValid("v17.0.2.0"));

  p.files.CreateDirectories(root + "\\LIBImage\\v4.10\\b\\config-gui.jar"); // a folder
  EXPECT_FALSE(folders.IsLIBImageFolderValid("v4.10", "b"));
  p.files.AddFile(root + "\\LIBImage\\v4.10\\c\\config-gui.jar", "PK");
  EXPECT_TRUE(folders.IsLIBImageFolderValid("v4.10", "c"));
}

TEST_F(FolderUtilsTest, NamesThatAreNotOneFolderNeverReachTheFileSystem) {
  for (const char* bad : {"..", "..\\..\\Windows", "v1\\..\\..", "C:\\Windows", "v*"}) {
    p.files.journal.clear();
    EXPECT_THROW(folders.GetJREImageFolder(bad), paths::InvalidPathError) << bad;
    EXPECT_THROW(folders.GetLIBImageFolder("v4.10", bad), paths::InvalidPathError) << bad;
    EXPECT_THROW(folders.GetLIBImageFolder(bad, "b"), paths::InvalidPathError) << bad;
    EXPECT_THROW(folders.IsJREImageFolderValid(bad), paths::InvalidPathError) << bad;
    EXPECT_TRUE(p.files.journal.empty()) << bad;
  }
}

TEST_F(FolderUtilsTest, UniqueDirectoryIsAlwaysOneItHasJustCreated) {
  const std::string temp = p.system.tempFolder;
  // Left behind by a launcher that crashed with the same process id: its
  // files must not mix into what the next import puts there.
  p.files.AddFile(temp + "\\TMP_4242_0\\jre\\bin\\stale.dll", "old");
  EXPECT_EQ(folders.CreateUniqueDirectory("", "TMP"), temp + "\\TMP_4242_1");
  // Same arguments again: another new folder.
  EXPECT_EQ(folders.CreateUniqueDirectory("", "TMP"), temp + "\\TMP_4242_2");
  // A file of the candidate's name, and a folder that cannot be made.
  p.files.AddFile("C:\\s\\TMP_4242_0", "x");
  p.files.uncreatable.insert("C:\\s\\TMP_4242_1");
  EXPECT_EQ(folders.CreateUniqueDirectory("C:\\s", "TMP"), "C:\\s\\TMP_4242_2");
  EXPECT_EQ(p.files.Contents(temp + "\\TMP_4242_0\\jre\\bin\\stale.dll"), "old");
}

TEST_F(FolderUtilsTest, UniqueDirectoryCreatesParentsAndGivesUpAfter5001Tries) {
  EXPECT_EQ(folders.CreateUniqueDirectory("C:\\a\\b\\c", "X"), "C:\\a\\b\\c\\X_4242_0");
  EXPECT_TRUE(p.files.DirectoryExists("C:\\a\\b"));
  try {
    folders.CreateUniqueDirectory("Q:\\nodrive", "TMP");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Could not find a unique directory name based on Q:\\nodrive\\TMP_4242_5000");
  }
}

} // namespace

// The cache is the machine's, the access lists say who may do what in it.
// The launcher that makes the root gives it and its fixed folders their
// lists, the fixed folders first (after the root's list a standard user could
// not make them); a root that exists keeps the lists it has, and a folder a
// getter makes later gets the list of its kind. A list that cannot be set
// leaves the folders usable.
TEST_F(FolderUtilsTest, FoldersGetTheirAccessListsWhenThisLauncherMakesThem) {
  using plat::AccessList;
  struct Case {
    const char* name;
    bool rootThere;
    bool refused;
    std::map<std::string, AccessList> lists; // relative to the root
  } cases[] = {
      {"root made here",
       false,
       false,
       {{"", AccessList::ApplicationRoot},
        {"jrecache", AccessList::ProvisioningFolder},
        {"libcache", AccessList::ProvisioningFolder},
        {"packagecache", AccessList::ProvisioningFolder},
        {"jreimage", AccessList::ProvisioningFolder},
        {"libimage", AccessList::ProvisioningFolder},
        {"jreimage\\v17.0.2.0", AccessList::ImagePlaceholder},
        {"libimage\\v4.10", AccessList::ProvisioningFolder},
        {"libimage\\v4.10\\v410_0007", AccessList::ImagePlaceholder}}},
      {"root there before, with its cache",
       true,
       false,
       {{"jreimage\\v17.0.2.0", AccessList::ImagePlaceholder},
        {"libimage\\v4.10", AccessList::ProvisioningFolder},
        {"libimage\\v4.10\\v410_0007", AccessList::ImagePlaceholder}}},
      {"lists refused", false, true, {}},
  };
  for (const Case& c : cases) {
    fake::FakePlatform q;
    store::FolderUtils f{q.services};
    q.files.CreateDirectories("C:\\ProgramData");
    if (c.rootThere)
      for (const char* name : {"JRECache", "LIBCache", "PackageCache", "JREImage", "LIBImage"})
        q.files.CreateDirectories(root + "\\" + name);
    if (c.refused)
      for (const char* below :
           {"", "\\JRECache", "\\LIBCache", "\\PackageCache", "\\JREImage", "\\LIBImage",
            "\\JREImage\\v17.0.2.0", "\\LIBImage\\v4.10", "\\LIBImage\\v4.10\\v410_0007"})
        q.files.denied.insert(root + below);
    q.files.journal.clear();
    // Every folder getter makes the root; the first one decides.
    EXPECT_EQ(f.GetJRECacheFolder(), root + "\\JRECache") << c.name;
    f.GetJREImageFolder("v17.0.2.0");
    f.GetLIBImageFolder("v4.10", "v410_0007");
    f.GetPackageCacheFolder();
    EXPECT_TRUE(q.files.DirectoryExists(root + "\\LIBImage\\v4.10\\v410_0007")) << c.name;
    std::map<std::string, AccessList> lists;
    const std::string prefix = q.files.Normalize(root);
    for (const auto& [path, list] : q.files.accessLists)
      lists[path == prefix ? "" : path.substr(prefix.size() + 1)] = list;
    EXPECT_EQ(lists, c.lists) << c.name;
    // Each list set once, the root's after every fixed folder's.
    const auto& journal = q.files.journal;
    auto rootList = std::find(journal.begin(), journal.end(), "acl " + root);
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "acl " + root), c.rootThere ? 0 : 1)
        << c.name;
    for (const char* name : {"JRECache", "LIBCache", "PackageCache", "JREImage", "LIBImage"}) {
      auto fixed = std::find(journal.begin(), journal.end(), "acl " + root + "\\" + name);
      EXPECT_EQ(std::count(journal.begin(), journal.end(), "acl " + root + "\\" + name),
                c.rootThere ? 0 : 1)
          << c.name << " " << name;
      EXPECT_TRUE(fixed < rootList || c.rootThere) << c.name << " " << name;
    }
  }
}
