#include "store/ImageInstall.h"

#include "common/Paths.h"
#include "common/Text.h"
#include "platform/Desktop.h"

#include <algorithm>
#include <set>

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
  if (hadFolder) {
    try {
      files.MoveFolder(imageFolder, aside);
    } catch (const plat::AccessDenied&) {
      // An installed image is read-only for every user but administrators,
      // its maker included.
      throw plat::AccessDenied("The image in \"" + imageFolder +
                               "\" cannot be replaced by this user. Ask an administrator to "
                               "delete that folder, then try again.");
    }
  }
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
    // From now on every launch may run it, an administrator's too: nobody
    // but administrators may change it, this user included. On a volume
    // without access lists it stays as made.
    s.files.SetAccessList(imageFolder, plat::AccessList::ReadOnly);
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
    if (lock) {
      SweepLeftovers(s, note);
      return lock;
    }
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

// ---------------------------------------------------------------------------

namespace {

// A process id or counter as the launcher writes it: decimal digits, no
// sign, no leading zero but for "0" itself, within 32 bits.
std::optional<uint32_t> Number(const std::string& digits) {
  if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0') ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const uint64_t value = std::stoull(digits);
  if (value > UINT32_MAX)
    return std::nullopt;
  return static_cast<uint32_t>(value);
}

} // namespace

std::optional<uint32_t> PartFileOwner(const std::string& name) {
  const std::string suffix = ".part";
  if (name.size() <= suffix.size() ||
      !text::EqualsIgnoreCase(name.substr(name.size() - suffix.size()), suffix))
    return std::nullopt;
  const std::string stem = name.substr(0, name.size() - suffix.size());
  const size_t counterDot = stem.rfind('.');
  if (counterDot == std::string::npos || counterDot == 0)
    return std::nullopt;
  const size_t pidDot = stem.rfind('.', counterDot - 1);
  if (pidDot == std::string::npos || pidDot == 0 || !Number(stem.substr(counterDot + 1)))
    return std::nullopt;
  return Number(stem.substr(pidDot + 1, counterDot - pidDot - 1));
}

std::optional<uint32_t> ScratchOwner(const std::string& name, const std::string& prefix) {
  const size_t counterBar = name.rfind('_');
  if (counterBar == std::string::npos || counterBar == 0)
    return std::nullopt;
  const size_t pidBar = name.rfind('_', counterBar - 1);
  if (pidBar == std::string::npos || !Number(name.substr(counterBar + 1)))
    return std::nullopt;
  const std::string head = name.substr(0, pidBar);
  const bool prefixMatches =
      prefix == "~" ? head.size() > 1 && head[0] == '~' : text::EqualsIgnoreCase(head, prefix);
  if (!prefixMatches)
    return std::nullopt;
  return Number(name.substr(pidBar + 1, counterBar - pidBar - 1));
}

std::vector<std::string> SweepLeftovers(plat::Services& s,
                                        const std::function<void(const std::string&)>& note) {
  std::vector<std::string> removed;
  const std::vector<plat::ProcessEntry> processes = s.processes.RunningProcesses();
  if (processes.empty())
    return removed;
  // Running launchers: processes of this launcher's program file name.
  const std::string ownProgram = paths::FileNameOf(s.system.ExecutablePath());
  std::set<uint32_t> launchers{s.system.ProcessId()};
  for (const plat::ProcessEntry& p : processes)
    if (text::EqualsIgnoreCase(p.exeName, ownProgram))
      launchers.insert(p.id);
  auto nobodys = [&](std::optional<uint32_t> owner) {
    return owner && launchers.count(*owner) == 0;
  };

  FolderUtils folders(s);
  const std::string root = folders.GetAppRootFolder();
  // Another user's leftover is theirs to remove (or an administrator's):
  // it stays, and is only noted; it is never used.
  auto remove = [&](const std::string& path, auto&& deletion) {
    try {
      deletion(path);
      removed.push_back(path);
    } catch (const plat::AccessDenied&) {
      if (note)
        note("Leftover of another user left alone: " + path);
    } catch (const std::exception&) {
    }
  };
  auto removeFile = [&](const std::string& path) {
    remove(path, [&](const std::string& p) { s.files.DeleteFile(p); });
  };
  auto removeFolder = [&](const std::string& path) {
    remove(path, [&](const std::string& p) { s.files.DeleteTree(p); });
  };
  for (const char* cache : {"JRECache", "LIBCache"}) {
    const std::string folder = paths::JoinPath(root, cache);
    for (const std::string& name : s.files.ListFolder(folder)) {
      const std::string path = paths::JoinPath(folder, name);
      if (nobodys(PartFileOwner(name)) && s.files.FileExists(path))
        removeFile(path);
    }
  }
  auto sweepFolders = [&](const std::string& folder, const std::string& prefix) {
    for (const std::string& name : s.files.ListFolder(folder)) {
      const std::string path = paths::JoinPath(folder, name);
      if (nobodys(ScratchOwner(name, prefix)) && s.files.DirectoryExists(path))
        removeFolder(path);
    }
  };
  sweepFolders(paths::JoinPath(root, "JREImage"), "~");
  const std::string libImages = paths::JoinPath(root, "LIBImage");
  for (const std::string& release : s.files.ListFolder(libImages)) {
    const std::string folder = paths::JoinPath(libImages, release);
    if (!release.empty() && release[0] != '~' && s.files.DirectoryExists(folder))
      sweepFolders(folder, "~");
  }
  sweepFolders(paths::JoinPath(root, "PackageCache"), "TMP");
  sweepFolders(s.system.TempFolder(), "PKG");
  return removed;
}

} // namespace store
