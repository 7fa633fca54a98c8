#include "store/ImageInstall.h"

#include "common/Paths.h"

namespace store {

namespace {

// Removes a scratch folder; one that will not go (a file held open) stays
// behind rather than hide the outcome.
void RemoveScratch(plat::IFileSystem& files, const std::string& folder) {
  try {
    files.DeleteTree(folder);
  } catch (const std::exception&) {
  }
}

void MoveIntoPlace(plat::IFileSystem& files, const std::string& newImage,
                   const std::string& imageFolder, const std::string& aside) {
  const bool hadFolder = files.DirectoryExists(imageFolder);
  if (hadFolder)
    files.MoveFolder(imageFolder, aside);
  try {
    files.MoveFolder(newImage, imageFolder);
  } catch (...) {
    if (hadFolder) {
      try {
        files.MoveFolder(aside, imageFolder);
      } catch (const std::exception&) {
        // The old folder goes with the scratch; the image stays invalid
        // and is made again by the next launch.
      }
    }
    throw;
  }
}

} // namespace

ImageOutcome InstallImage(plat::Services& s, FolderUtils& folders, const std::string& imageFolder,
                          const char* marker, ValidImage valid,
                          const std::function<bool(const std::string& newImage)>& fill) {
  const std::string scratch = folders.CreateUniqueDirectory(paths::ParentFolderOf(imageFolder),
                                                            "~" + paths::FileNameOf(imageFolder));
  const std::string newImage = paths::JoinPath(scratch, "new");
  auto install = [&] {
    if (!fill(newImage))
      return ImageOutcome::NotFilled;
    if (!s.files.FileExists(paths::JoinPath(newImage, marker)))
      return ImageOutcome::Incomplete;
    if (valid == ValidImage::Keep && s.files.FileExists(paths::JoinPath(imageFolder, marker)))
      return ImageOutcome::KeptValid;
    MoveIntoPlace(s.files, newImage, imageFolder, paths::JoinPath(scratch, "old"));
    return ImageOutcome::Installed;
  };
  ImageOutcome outcome;
  try {
    outcome = install();
  } catch (...) {
    RemoveScratch(s.files, scratch);
    throw;
  }
  RemoveScratch(s.files, scratch);
  return outcome;
}

namespace {

constexpr uint32_t kLockStepMs = 100;
// A launcher that has held the images this long is taken as stuck rather
// than busy, and is waited for no more.
constexpr uint32_t kLockPatienceMs = 10 * 60 * 1000;

} // namespace

std::unique_ptr<plat::NamedLock>
LockRuntimeImages(plat::Services& s, launch::ILaunchView& view,
                  const std::function<void(const std::string&)>& note) {
  const uint32_t start = s.system.TickCount();
  bool waiting = false;
  for (;;) {
    std::unique_ptr<plat::NamedLock> lock;
    try {
      lock = s.system.AcquireNamedLock(kRuntimeImagesLock, kLockStepMs);
    } catch (const std::exception& e) {
      note(std::string("Runtime images provided without a lock: ") + e.what());
      return nullptr;
    }
    if (lock)
      return lock;
    if (s.system.TickCount() - start >= kLockPatienceMs) {
      note("Runtime images provided without a lock: another launcher kept it too long");
      return nullptr;
    }
    if (!waiting) {
      view.SetStatusText("Waiting for another launcher to provide the runtime images...");
      waiting = true;
    }
    view.ProcessMessages();
    // Closed while waiting: nothing is to be provided any more.
    if (view.StopRequested())
      throw plat::Stopped();
  }
}

} // namespace store
