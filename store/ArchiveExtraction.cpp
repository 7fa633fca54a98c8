#include "store/ArchiveExtraction.h"

#include "common/Text.h"
#include "platform/Archive.h"
#include "store/FolderUtils.h"
#include "store/PropertySet.h"

#include <algorithm>

namespace store {

namespace {

bool NameMatches(const std::string& fileName, const std::string& extension) {
  // "*.<extension>", letter case aside.
  const std::string lower = text::ToLowerAscii(fileName);
  const std::string ext = text::ToLowerAscii(extension);
  if (lower.size() <= ext.size())
    return false;
  const size_t dot = lower.size() - ext.size() - 1;
  return lower[dot] == '.' && lower.compare(dot + 1, ext.size(), ext) == 0;
}

std::optional<std::string> FormatForName(plat::IArchiveLibrary& library,
                                         const std::string& fileName) {
  for (const plat::ArchiveFormat& format : library.Formats())
    for (const std::string& extension : format.extensions)
      if (!extension.empty() && NameMatches(fileName, extension))
        return format.name;
  return std::nullopt;
}

} // namespace

std::string SafeItemPath(const std::string& packedName) {
  auto refuse = [&] {
    throw paths::InvalidPathError("The archive item '" + packedName +
                                  "' would be written outside the output folder.");
  };
  std::string path = packedName;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty() || path[0] == '\\' || path.find(':') != std::string::npos)
    refuse();
  std::string out;
  for (const std::string& part : text::Split(path, '\\')) {
    if (part.empty() || part == ".")
      continue;
    if (part.find_first_not_of('.') == std::string::npos)
      refuse(); // "..", and longer runs of dots that the system would shorten
    out += (out.empty() ? "" : "\\") + part;
  }
  if (out.empty())
    refuse();
  return out;
}

bool ExtractArchive(plat::Services& s, const std::string& archiveFileName,
                    const std::string& outputFolder, std::string& errorMessage,
                    const std::string& embeddedArchiveName, bool extractAll,
                    const std::optional<std::string>& recommendedDecompressorClass) {
  errorMessage.clear();
  // The library knows the formats and their file-name patterns, so it is
  // needed before the format can be chosen.
  if (!s.archives.Load()) {
    errorMessage = "7z.dll not found";
    return false;
  }
  std::optional<std::string> format = recommendedDecompressorClass;
  if (!format)
    format = FormatForName(s.archives, archiveFileName);
  if (!format) {
    if (!IsCompoundDocument(s, archiveFileName)) {
      errorMessage = "Failed to determine file format of " + archiveFileName;
      return false;
    }
    format = kFormatCompound;
  }

  s.ui.ProcessMessages();
  std::unique_ptr<plat::IArchive> archive = s.archives.Open(*format, archiveFileName);
  // A damaged archive may still open and list part of its items; taking it
  // as extracted would install half an image.
  if (archive->HasErrors())
    throw plat::PlatformError("The archive " + archiveFileName + " is damaged.");
  std::vector<plat::ArchiveItem> items = archive->Items();
  s.ui.ProcessMessages();

  std::vector<bool> selected(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i) {
    s.ui.ProcessMessages();
    if (items[i].path == embeddedArchiveName)
      selected[i] = true;
  }
  if (items.empty())
    return true;

  std::vector<std::pair<uint32_t, std::string>> targets;
  for (size_t i = 0; i < items.size(); ++i)
    if (extractAll || selected[i])
      targets.emplace_back(static_cast<uint32_t>(i),
                           paths::JoinPath(outputFolder, SafeItemPath(items[i].path)));
  if (targets.empty())
    return true;

  s.files.CreateDirectories(outputFolder);
  for (const auto& [index, target] : targets) {
    std::string folder = items[index].isFolder ? target : paths::ParentFolderOf(target);
    if (!folder.empty() && !s.files.DirectoryExists(folder) && !s.files.CreateDirectories(folder))
      throw plat::PlatformError("Cannot create the folder " + folder + ".");
  }
  archive->Extract(targets);
  return true;
}

} // namespace store
