#include "platform/fake/FakeXmlFile.h"

#include "common/Text.h"

namespace fake {

namespace {
// Position and length of the first PackageFolder element's baseURI value.
std::optional<std::pair<size_t, size_t>> FindBaseUri(const std::string& xml) {
  size_t element = xml.find("<PackageFolder");
  if (element == std::string::npos)
    return std::nullopt;
  size_t end = xml.find('>', element);
  size_t attr = xml.find("baseURI=\"", element);
  if (attr == std::string::npos || attr > end)
    return std::nullopt;
  size_t start = attr + 9;
  size_t close = xml.find('"', start);
  if (close == std::string::npos)
    return std::nullopt;
  return std::make_pair(start, close - start);
}
} // namespace

std::string FakeXmlFile::ReadFirst(const std::string& path, const std::string&) {
  std::string content = files_.ReadFile(path);
  if (text::Trim(content).empty() || text::Trim(content)[0] != '<')
    throw plat::PlatformError("The file is not well-formed XML.");
  auto at = FindBaseUri(content);
  if (!at)
    throw plat::PlatformError("No node matches the expression.");
  return content.substr(at->first, at->second);
}

void FakeXmlFile::WriteFirst(const std::string& path, const std::string& xpath,
                             const std::string& value) {
  ReadFirst(path, xpath);
  std::string content = files_.ReadFile(path);
  auto at = FindBaseUri(content);
  // As the real one: the document goes to a file beside the settings file,
  // which then replaces it whole.
  const std::string temporary = path + ".tmp";
  files_.WriteFile(temporary, content.replace(at->first, at->second, value));
  try {
    files_.MoveFile(temporary, path);
  } catch (const plat::PlatformError&) {
    files_.DeleteFile(temporary);
    throw;
  }
}

} // namespace fake
