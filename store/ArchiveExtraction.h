// Unpacking archives into a folder through the archive library.
#pragma once

#include "platform/Archive.h"
#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>

namespace store {

inline constexpr const char* kFormat7z = "7z";
inline constexpr const char* kFormatCompound = "Compound";

// No archive unpacks to more than this, whatever the disk could take: the
// runtime images are a few hundred megabytes.
inline constexpr uint64_t kMaxUnpackedBytes = uint64_t{8} << 30;

// The item's path below the output folder, with "/" turned into "\" and
// "." steps dropped; raises InvalidPathError for a path that would land
// elsewhere: rooted, a drive, a stream suffix, a step that Windows would
// shorten to ".." or to nothing (made only of dots and blanks, as ". ." or
// "..."), a device name (CON, LPT1.txt, "nul .log"), or no name at all.
std::string SafeItemPath(const std::string& packedName);

// What the file system takes for a file beyond its bytes, when the
// platform does not tell: each file fills whole clusters (4 KiB is the
// common size), and each item, folders too, takes a directory entry (an
// NTFS file record is 1 KiB). Thousands of small files take many times
// what they hold.
inline constexpr uint64_t kClusterBytes = 4096;
inline constexpr uint64_t kItemEntryBytes = 1024;

// What an archive's items need: the bytes they hold as the archive states
// them, and what they take on the disk with the file system's overhead.
struct UnpackNeed {
  uint64_t bytes = 0;
  uint64_t diskBytes = 0;
};

// What the archive's items need unpacked; nothing when an item states no
// size or the library is missing. Raises as ExtractArchive does for an
// archive that does not open or is damaged.
std::optional<UnpackNeed> UnpackedNeed(plat::Services& s, const std::string& archiveFileName,
                                       const std::string& format);
// The bytes of UnpackedNeed alone.
std::optional<uint64_t> UnpackedSize(plat::Services& s, const std::string& archiveFileName,
                                     const std::string& format);

// Empty when `need` may be unpacked into `folder`: its bytes no more than
// kMaxUnpackedBytes, and neither its bytes nor what they take on the disk
// more than the free space of its disk. Otherwise the message for the
// operator, naming the archive `archiveName`.
std::string UnpackRoomMessage(plat::Services& s, const std::string& archiveName,
                              const UnpackNeed& need, const std::string& folder);
// The same for `bytes` that take no more than themselves on the disk.
std::string UnpackRoomMessage(plat::Services& s, const std::string& archiveName, uint64_t bytes,
                              const std::string& folder);

// Whose fault a refusal of ExtractArchive is: this machine's (the archive
// library is missing, the items would not fit) or the archive's (no format
// fits its name, an item states no size). A download told apart this way
// does not blame the device for a full disk.
enum class Refusal { None, ThisMachine, Archive };

// False with a message when no format fits the file, the library is
// missing, an item states no size, or the items would unpack to more than
// UnpackRoomMessage allows in `outputFolder`; `refusal`, when given, is told
// whose fault that is. The archive's faults (damaged,
// a failed item, an item longer than its stated size) are raised as
// plat::ArchiveError and hostile item paths as paths::InvalidPathError;
// this machine's failures (a file or folder that cannot be made or written,
// a full disk) pass through as plat::PlatformError, never turned into the
// archive's fault: the archive may well be good. Nothing is written until every item to be
// extracted has been checked. A folder item that names the output folder
// itself ("./") is skipped. `onProgress` is told the items written. A
// requested `stop` ends the extraction at its next piece with plat::Stopped.
bool ExtractArchive(plat::Services& s, const std::string& archiveFileName,
                    const std::string& outputFolder, std::string& errorMessage,
                    const std::string& embeddedArchiveName, bool extractAll,
                    const std::optional<std::string>& recommendedDecompressorClass = std::nullopt,
                    const plat::ItemProgress& onProgress = {}, const plat::StopFlag* stop = nullptr,
                    Refusal* refusal = nullptr);

} // namespace store
