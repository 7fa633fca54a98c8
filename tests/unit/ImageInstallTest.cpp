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
  }
}

} // namespace
