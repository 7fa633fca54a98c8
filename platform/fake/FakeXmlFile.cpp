#include "platform/fake/FakeXmlFile.h"

#include "common/Text.h"

namespace fake {

namespace {
// The element and attribute an expression names, and which occurrence:
// "//Element/@attr" (the first) or "(//Parent/Element)[n]/@attr" (the n-th
// Element anywhere; the parent is not checked).
struct Query {
  std::string element, attribute;
  size_t occurrence = 1;
};

std::optional<Query> ParseQuery(const std::string& xpath) {
  Query q;
  size_t at = xpath.rfind("/@");
  if (at == std::string::npos)
    return std::nullopt;
  q.attribute = xpath.substr(at + 2);
  std::string path = xpath.substr(0, at);
  if (!path.empty() && path.front() == '(') {
    size_t close = path.find(")[");
    if (close == std::string::npos || path.back() != ']')
      return std::nullopt;
    auto n = text::ParseInt32(path.substr(close + 2, path.size() - close - 3));
    if (!n || *n < 1)
      return std::nullopt;
    q.occurrence = static_cast<size_t>(*n);
    path = path.substr(1, close - 1);
  }
  q.element = path.substr(path.rfind('/') + 1);
  return q;
}

// Position and length of the value the query names.
std::optional<std::pair<size_t, size_t>> Find(const std::string& xml, const Query& q) {
  size_t element = 0;
  for (size_t seen = 0; seen < q.occurrence;) {
    element = xml.find("<" + q.element, element);
    if (element == std::string::npos)
      return std::nullopt;
    const char next =
        element + 1 + q.element.size() < xml.size() ? xml[element + 1 + q.element.size()] : '\0';
    if (next == ' ' || next == '/' || next == '>' || next == '\t' || next == '\n' || next == '\r')
      ++seen;
    if (seen < q.occurrence)
      ++element;
  }
  size_t end = xml.find('>', element);
  size_t attr = xml.find(" " + q.attribute + "=\"", element);
  if (attr == std::string::npos || attr > end)
    return std::nullopt;
  size_t start = attr + q.attribute.size() + 3;
  size_t close = xml.find('"', start);
  if (close == std::string::npos)
    return std::nullopt;
  return std::make_pair(start, close - start);
}

std::pair<size_t, size_t> Locate(const std::string& content, const std::string& xpath) {
  if (text::Trim(content).empty() || text::Trim(content)[0] != '<')
    throw plat::PlatformError("The file is not well-formed XML.");
  std::optional<Query> q = ParseQuery(xpath);
  std::optional<std::pair<size_t, size_t>> at = q ? Find(content, *q) : std::nullopt;
  if (!at)
    throw plat::PlatformError("No node matches the expression.");
  return *at;
}
} // namespace

std::string FakeXmlFile::ReadFirst(const std::string& path, const std::string& xpath) {
  std::string content = files_.ReadFile(path);
  auto at = Locate(content, xpath);
  return content.substr(at.first, at.second);
}

void FakeXmlFile::WriteFirst(const std::string& path, const std::string& xpath,
                             const std::string& value) {
  std::string content = files_.ReadFile(path);
  auto at = Locate(content, xpath);
  // As the real one: the document goes to a file beside the settings file,
  // which then replaces it whole.
  const std::string temporary = path + ".tmp";
  files_.WriteFile(temporary, content.replace(at.first, at.second, value));
  try {
    files_.MoveFile(temporary, path);
  } catch (const plat::PlatformError&) {
    files_.DeleteFile(temporary);
    throw;
  }
}

} // namespace fake
