// Unpacking archives into a folder through the archive library.
#pragma once

#include "platform/Platform.h"

#include <optional>
#include <string>

namespace store {

inline constexpr const char* kFormat7z = "7z";
inline constexpr const char* kFormatCompound = "Compound";

// The item's path below the output folder, with "/" turned into "\"; raises
// InvalidPathError for a path that would land outside it (rooted, a drive, a
// ".." step, a stream suffix).
std::string SafeItemPath(const std::string& packedName);

// False with a message when no format fits the file or the library is
// missing; library errors (damaged archive, failed item, full disk) and
// hostile item paths are raised. Nothing is written until every item to be
// extracted has been checked.
bool ExtractArchive(plat::Services& s, const std::string& archiveFileName,
                    const std::string& outputFolder, std::string& errorMessage,
                    const std::string& embeddedArchiveName, bool extractAll,
                    const std::optional<std::string>& recommendedDecompressorClass = std::nullopt);

} // namespace store
