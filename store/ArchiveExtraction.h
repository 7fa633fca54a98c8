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

// The bytes the archive's file items take unpacked, as the archive states
// them; nothing when an item states no size or the library is missing.
// Raises as ExtractArchive does for an archive that does not open or is
// damaged.
std::optional<uint64_t> UnpackedSize(plat::Services& s, const std::string& archiveFileName,
                                     const std::string& format);

// Empty when `bytes` may be unpacked into `folder`: no more than
// kMaxUnpackedBytes and no more than the free space of its disk. Otherwise
// the message for the operator, naming the archive `archiveName`.
std::string UnpackRoomMessage(plat::Services& s, const std::string& archiveName, uint64_t bytes,
                              const std::string& folder);

// False with a message when no format fits the file, the library is
// missing, an item states no size, or the items would unpack to more than
// UnpackRoomMessage allows in `outputFolder`; library errors (damaged
// archive, failed item, an item longer than its stated size, full disk) and
// hostile item paths are raised. Nothing is written until every item to be
// extracted has been checked. A folder item that names the output folder
// itself ("./") is skipped. `onProgress` is told the items written.
bool ExtractArchive(plat::Services& s, const std::string& archiveFileName,
                    const std::string& outputFolder, std::string& errorMessage,
                    const std::string& embeddedArchiveName, bool extractAll,
                    const std::optional<std::string>& recommendedDecompressorClass = std::nullopt,
                    const plat::ItemProgress& onProgress = {});

} // namespace store
