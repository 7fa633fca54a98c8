// Runtime images put in place whole or not at all. The image folders are
// shared by every launcher on the machine, and an image counts as valid as
// soon as its marker file exists: a half-written image must never carry the
// marker where a launch will look for it.
#pragma once

#include "common/LaunchView.h"
#include "platform/Platform.h"
#include "store/FolderUtils.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace store {

// What to do when a valid image is found in place at the moment the new one
// is ready (one that another launcher finished meanwhile, or the image a
// newer package replaces).
enum class ValidImage { Keep, Replace };

enum class ImageOutcome {
  Installed,  // the new image is in place
  KeptValid,  // a valid image was in place and is kept; the new one is gone
  NotFilled,  // `fill` returned false; nothing changed
  Incomplete, // the new image lacked its marker file; nothing changed
};

// Has `fill` write the new image into a folder that does not exist yet, in
// a new scratch folder beside `imageFolder` (same parent, so same volume),
// and when its marker file is there, renames it into place: whatever is at
// `imageFolder` (the empty folder the folder getters make, or an older
// image) is first moved aside, and put back if the new image cannot take
// its place. Nothing of an earlier image mixes with the new one. The
// scratch folder goes whatever happens; errors of `fill` and of the moves
// are raised after that.
ImageOutcome InstallImage(plat::Services& s, FolderUtils& folders, const std::string& imageFolder,
                          const char* marker, ValidImage valid,
                          const std::function<bool(const std::string& newImage)>& fill);

// Held while a download, a package or an import fills the machine's images,
// so that two launchers never fill the same ones at once.
inline constexpr const char* kRuntimeImagesLock = "VeltraDynamicRemoteHMI.RuntimeImages";

// Takes kRuntimeImagesLock. While another launcher holds it, the wait goes in
// short steps with the window's messages let through between them, and the
// status bar says what is awaited. Nothing when no lock can be had (it cannot
// be made, or another launcher has kept it for ten minutes): the filling then
// runs without it, `note` told why; part files and scratch folders of their
// own still keep launchers apart. Raises plat::Stopped when the view's stop
// is requested while it waits.
std::unique_ptr<plat::NamedLock>
LockRuntimeImages(plat::Services& s, launch::ILaunchView& view,
                  const std::function<void(const std::string&)>& note);

// What launchers ended halfway (the task manager, a crash, a power cut) leave
// behind, named after their process id: part files of downloads
// ("<file>.<pid>.<n>.part" in the archive caches), scratch folders of images
// ("~<name>_<pid>_<n>" beside the image folders), staging folders of
// packages ("TMP_<pid>_<n>" in the package cache) and package copies
// ("PKG_<pid>_<n>" in the temporary folder). One whose process no longer
// runs, or runs another program than this launcher's, is nobody's: it is
// removed, never used. Taken under the runtime-images lock, so no launcher
// of this machine is making such a name meanwhile; one that will not go (a
// file held open) stays for the next time. Nothing is removed when the
// running processes cannot be listed. Another user's leftover that this user
// may not remove stays, told to `note` when given. Returns the paths removed.
std::vector<std::string> SweepLeftovers(plat::Services& s,
                                        const std::function<void(const std::string&)>& note = {});

// The process id in a leftover's name: a part file's ("<file>.<pid>.<n>.part")
// or a scratch folder's ("<prefix>_<pid>_<n>", with "~" and any image name
// as the prefix when `prefix` is "~"); nothing for any other name.
std::optional<uint32_t> PartFileOwner(const std::string& name);
std::optional<uint32_t> ScratchOwner(const std::string& name, const std::string& prefix);

} // namespace store
