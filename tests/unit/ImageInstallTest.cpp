#include "store/ImageInstall.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using store::ImageOutcome;
using store::ValidImage;

const std::string kParent = "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImage";
const std::string kImage = kParent + "\\v17.0.2.0";

// Every folder and file below the image's parent, relative to it, in lower
// case: the image and nothing beside it once the scratch folder is gone.
std::vector<std::string> BelowParent(const fake::FakeFileSystem& files) {
  const std::string prefix = files.Normalize(kParent) + "\\";
  std::vector<std::string> found;
  for (const auto& list : {files.AllDirectories(), files.AllFiles()})
    for (const std::string& path : list)
      if (path.rfind(prefix, 0) == 0)
        found.push_back(path.substr(prefix.size()));
  std::sort(found.begin(), found.end());
  return found;
}

TEST(InstallImage, TheNewImageTakesThePlaceWholeOrNothingChanges) {
  // What the image folder holds before, and the trees below the parent.
  enum class Before { Nothing, EmptyFolder, BrokenImage, ValidImage };
  const std::vector<std::string> empty{"v17.0.2.0"};
  const std::vector<std::string> broken{"v17.0.2.0", "v17.0.2.0\\lib", "v17.0.2.0\\lib\\stale.jar"};
  const std::vector<std::string> valid{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe"};
  const std::vector<std::string> fresh{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe",
                                       "v17.0.2.0\\bin\\new.dll"};
  enum class Fill { Complete, NoMarker, Refused, Raises };
  struct Case {
    const char* name;
    Before before;
    ValidImage valid;
    Fill fill;
    bool moveFails; // the rename into place is refused
    ImageOutcome outcome;
    std::vector<std::string> after;
  } cases[] = {
      {"no folder yet", Before::Nothing, ValidImage::Keep, Fill::Complete, false,
       ImageOutcome::Installed, fresh},
      {"the empty folder the getters make", Before::EmptyFolder, ValidImage::Keep, Fill::Complete,
       false, ImageOutcome::Installed, fresh},
      {"an earlier broken image", Before::BrokenImage, ValidImage::Keep, Fill::Complete, false,
       ImageOutcome::Installed, fresh},
      {"a valid image is kept", Before::ValidImage, ValidImage::Keep, Fill::Complete, false,
       ImageOutcome::KeptValid, valid},
      {"a valid image is replaced", Before::ValidImage, ValidImage::Replace, Fill::Complete, false,
       ImageOutcome::Installed, fresh},
      {"no marker", Before::ValidImage, ValidImage::Replace, Fill::NoMarker, false,
       ImageOutcome::Incomplete, valid},
      {"not filled", Before::BrokenImage, ValidImage::Keep, Fill::Refused, false,
       ImageOutcome::NotFilled, broken},
      {"the fill raises", Before::BrokenImage, ValidImage::Keep, Fill::Raises, false,
       ImageOutcome::Installed, broken},
      {"the rename is refused", Before::ValidImage, ValidImage::Replace, Fill::Complete, true,
       ImageOutcome::Installed, valid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakePlatform p;
    store::FolderUtils folders(p.services);
    p.files.CreateDirectories(kParent);
    if (c.before == Before::EmptyFolder)
      p.files.CreateDirectories(kImage);
    if (c.before == Before::BrokenImage)
      p.files.AddFile(kImage + "\\lib\\stale.jar", "old");
    if (c.before == Before::ValidImage)
      p.files.AddFile(kImage + "\\bin\\javaw.exe", "old");
    // Only the first move to the image's place fails; putting the old
    // folder back works.
    bool refused = false;
    p.files.onMoveFolder = [&](const std::string&, const std::string& to) {
      if (c.moveFails && to == kImage && !refused) {
        refused = true;
        throw plat::PlatformError("Access is denied.");
      }
    };
    auto fill = [&](const std::string& newImage) {
      if (c.fill == Fill::Refused)
        return false;
      p.files.AddFile(newImage + "\\bin\\new.dll", "new");
      if (c.fill == Fill::Raises)
        throw plat::PlatformError("CRC error");
      if (c.fill == Fill::Complete)
        p.files.AddFile(newImage + "\\bin\\javaw.exe", "new");
      return true;
    };
    const bool raises = c.fill == Fill::Raises || c.moveFails;
    try {
      EXPECT_EQ(
          store::InstallImage(p.services, folders, kImage, store::kJreImageMarker, c.valid, fill),
          c.outcome);
      EXPECT_FALSE(raises);
    } catch (const plat::PlatformError&) {
      EXPECT_TRUE(raises);
    }
    EXPECT_EQ(BelowParent(p.files), c.after);
    if (c.after == valid) {
      EXPECT_EQ(p.files.Contents(kImage + "\\bin\\javaw.exe"), "old");
    }
    // Read-only once in place, and only then: a failed image is not sealed
    // where the next launch must replace it.
    const bool sealed =
        p.files.accessLists.count(p.files.Normalize(kImage)) == 1 &&
        p.files.accessLists.at(p.files.Normalize(kImage)) == plat::AccessList::ReadOnly;
    EXPECT_EQ(sealed, c.after == fresh);
  }
}

// An installed image is read-only for this user: a newer one cannot take
// its place, and the operator is told whom to ask, with the folder.
TEST(InstallImage, AnImageThisUserMayNotMoveAsideIsLeftWithAMessageForAnAdministrator) {
  fake::FakePlatform p;
  store::FolderUtils folders(p.services);
  p.files.AddFile(kImage + "\\bin\\javaw.exe", "old");
  p.files.denied.insert(kImage);
  try {
    store::InstallImage(p.services, folders, kImage, store::kJreImageMarker, ValidImage::Replace,
                        [&](const std::string& newImage) {
                          p.files.AddFile(newImage + "\\bin\\javaw.exe", "new");
                          return true;
                        });
    ADD_FAILURE() << "replaced";
  } catch (const plat::AccessDenied& e) {
    EXPECT_NE(std::string(e.what()).find("\"" + kImage + "\""), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("administrator"), std::string::npos) << e.what();
  }
  EXPECT_EQ(p.files.Contents(kImage + "\\bin\\javaw.exe"), "old");
  EXPECT_EQ(BelowParent(p.files),
            (std::vector<std::string>{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe"}));
}

} // namespace

// --- what launchers ended halfway left behind --------------------------------

const std::string kRoot = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
const std::string kTemp = "C:\\Users\\operator\\AppData\\Local\\Temp";

class LeftoverSweep : public ::testing::Test {
protected:
  LeftoverSweep() {
    // A launcher running now, and another program under an id of its own.
    launcher = p.processes.AddRunning(4, "C:\\Other Place\\VeltraDynamicRemoteHMI.exe");
    other = p.processes.AddRunning(4, "C:\\Windows\\notepad.exe");
    // The valid cache beside the leftovers.
    p.files.AddFile(kRoot + "\\JRECache\\jre_v_17.0.2.zip", "jre");
    p.files.AddFile(kRoot + "\\LIBCache\\lib_hmi_full_410_7_r.zip", "lib");
    p.files.AddFile(kImage + "\\bin\\javaw.exe", "exe");
    p.files.AddFile(kRoot + "\\LIBImage\\v4.10\\v410_0007\\config-gui.jar", "jar");
  }
  fake::FakePlatform p;
  uint32_t launcher = 0;
  uint32_t other = 0;
  const uint32_t dead = 777;
};

TEST_F(LeftoverSweep, OnlyWhatNoRunningLauncherOwnsGoes) {
  struct Case {
    std::string path;
    bool folder;
    bool goes;
  };
  auto id = [](uint32_t pid) { return std::to_string(pid); };
  const std::string jreCache = kRoot + "\\JRECache\\";
  const std::string libImage = kRoot + "\\LIBImage\\v4.10\\";
  const std::vector<Case> cases = {
      // A dead process's leftovers, in each place a launcher makes them.
      {jreCache + "jre_v_17.0.2.zip." + id(dead) + ".0.part", false, true},
      {kRoot + "\\LIBCache\\lib_hmi_full_410_7_r.zip." + id(dead) + ".3.part", false, true},
      {kParent + "\\~v17.0.2.0_" + id(dead) + "_0", true, true},
      {libImage + "~v410_0007_" + id(dead) + "_1", true, true},
      {kRoot + "\\PackageCache\\TMP_" + id(dead) + "_0", true, true},
      {kTemp + "\\PKG_" + id(dead) + "_2", true, true},
      // Those of a launcher that runs, of this one, and of an id that now
      // names another program (whose leftovers they cannot be: it goes).
      {jreCache + "jre_v_17.0.2.zip." + id(launcher) + ".0.part", false, false},
      {kParent + "\\~v17.0.2.0_" + id(launcher) + "_0", true, false},
      {jreCache + "jre_v_17.0.2.zip.4242.1.part", false, false},
      {kTemp + "\\PKG_4242_0", true, false},
      {jreCache + "jre_v_17.0.2.zip." + id(other) + ".0.part", false, true},
      {kRoot + "\\PackageCache\\TMP_" + id(other) + "_5", true, true},
      // Names that merely look alike.
      {jreCache + "notes.part", false, false},
      {jreCache + "jre.777.part", false, false},
      {jreCache + "jre.x777.0.part", false, false},
      {jreCache + "jre.0777.0.part", false, false},
      {jreCache + "jre.99999999999.0.part", false, false},
      {jreCache + "jre_v_17.0.2.zip.777.9.part", true, false}, // a folder, not a file
      {kParent + "\\~v17.0.2.0_777_0", false, false},          // a file, not a folder
      {kParent + "\\v17.0.2.0_777_0", true, false},
      {kParent + "\\~_777_0", true, false},
      {kRoot + "\\PackageCache\\TMPX_777_0", true, false},
      {kRoot + "\\PackageCache\\jre_777_0.msi", true, false},
      {kTemp + "\\TMP_777_0", true, false}, // the temporary folder is everybody's
      {kTemp + "\\PKG_777", true, false},
      {kRoot + "\\JREImage\\~v17.0.2.0_777_0.zip", false, false},
  };
  for (const Case& c : cases) {
    if (c.folder)
      p.files.CreateDirectories(c.path + "\\new\\bin");
    else
      p.files.AddFile(c.path, "partial");
  }
  store::SweepLeftovers(p.services);
  for (const Case& c : cases) {
    const bool there = c.folder ? p.files.DirectoryExists(c.path) : p.files.FileExists(c.path);
    EXPECT_EQ(there, !c.goes) << c.path;
  }
  // The cache itself is untouched.
  for (const std::string& kept :
       {kRoot + "\\JRECache\\jre_v_17.0.2.zip", kRoot + "\\LIBCache\\lib_hmi_full_410_7_r.zip",
        kImage + "\\bin\\javaw.exe", kRoot + "\\LIBImage\\v4.10\\v410_0007\\config-gui.jar"})
    EXPECT_TRUE(p.files.FileExists(kept)) << kept;
}

TEST_F(LeftoverSweep, NothingGoesWhenTheProcessesCannotBeListedOrALeftoverIsHeld) {
  const std::string part = kRoot + "\\JRECache\\jre_v_17.0.2.zip.777.0.part";
  const std::string scratch = kParent + "\\~v17.0.2.0_777_0";
  p.files.AddFile(part, "partial");
  p.files.CreateDirectories(scratch);
  p.files.undeletable.insert(part);
  EXPECT_EQ(store::SweepLeftovers(p.services), std::vector<std::string>{scratch});
  EXPECT_TRUE(p.files.FileExists(part));

  p.files.CreateDirectories(scratch);
  p.processes.running.clear();
  EXPECT_TRUE(store::SweepLeftovers(p.services).empty());
  EXPECT_TRUE(p.files.DirectoryExists(scratch));
}

// Another user's leftovers are theirs (or an administrator's) to remove:
// refused, they stay and are noted, and the rest of the sweep goes on.
TEST_F(LeftoverSweep, AnotherUsersLeftoversThatCannotGoAreLeftAndNoted) {
  const std::string part = kRoot + "\\JRECache\\jre_v_17.0.2.zip.777.0.part";
  const std::string scratch = kParent + "\\~v17.0.2.0_777_0";
  // (Lower case: the fake lists names so.)
  const std::string mine = kRoot + "\\PackageCache\\tmp_777_1";
  p.files.AddFile(part, "partial");
  p.files.CreateDirectories(scratch);
  p.files.CreateDirectories(mine);
  p.files.denied = {part, scratch};
  std::vector<std::string> notes;
  EXPECT_EQ(store::SweepLeftovers(p.services, [&](const std::string& n) { notes.push_back(n); }),
            std::vector<std::string>{mine});
  EXPECT_TRUE(p.files.FileExists(part));
  EXPECT_TRUE(p.files.DirectoryExists(scratch));
  EXPECT_EQ(notes, (std::vector<std::string>{"Leftover of another user left alone: " + part,
                                             "Leftover of another user left alone: " + scratch}));
}

struct QuietView : launch::ILaunchView {
  void SetStatusText(const std::string&) override {}
  void ShowProgress(const std::string&) override {}
  void ProcessMessages() override {}
  std::string HostText() override { return {}; }
  void SetHostText(const std::string&) override {}
  std::string UserNameText() override { return {}; }
  std::string PasswordText() override { return {}; }
  int SelectedMode() override { return 0; }
  void HideBrowse() override {}
};

TEST_F(LeftoverSweep, TheLockTakesThemAwayOnlyOnceItIsHeld) {
  const std::string part = kRoot + "\\JRECache\\jre_v_17.0.2.zip.777.0.part";
  p.files.AddFile(part, "partial");
  QuietView view;
  auto note = [](const std::string&) {};
  // Another launcher keeps the lock too long: nothing is swept without it.
  p.system.locksHeldElsewhere.insert(store::kRuntimeImagesLock);
  EXPECT_EQ(store::LockRuntimeImages(p.services, view, note), nullptr);
  EXPECT_TRUE(p.files.FileExists(part));
  p.system.locksHeldElsewhere.clear();
  auto lock = store::LockRuntimeImages(p.services, view, note);
  ASSERT_NE(lock, nullptr);
  EXPECT_FALSE(p.files.FileExists(part));
}
