#include "tests/wine/StandinJournal.h"

#include "common/Text.h"

#include <algorithm>
#include <iterator>

namespace winetest {

namespace {

// Undoes the journal's escapes; a "\uXXXX" (half of a surrogate pair) is
// kept as written, since UTF-8 cannot hold it.
std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 >= value.size()) {
      out += value[i];
      continue;
    }
    const char c = value[++i];
    if (c == 't')
      out += '\t';
    else if (c == 'r')
      out += '\r';
    else if (c == 'n')
      out += '\n';
    else if (c == 'x' && i + 2 < value.size()) {
      out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (c == 'u')
      out += "\\u";
    else
      out += c;
  }
  return out;
}

std::string ReadShared(const std::filesystem::path& file) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(h);
  return bytes;
}

} // namespace

void PrintTo(const JournalLine& l, std::ostream* os) {
  *os << l.pid << " " << l.event;
  for (const auto& [key, value] : l.fields)
    *os << " " << key << "=" << value;
}

std::vector<JournalLine> ReadJournal(const std::filesystem::path& file) {
  std::vector<JournalLine> lines;
  const std::string content = ReadShared(file);
  const std::string complete = content.substr(0, content.rfind('\n') + 1);
  for (const std::string& raw : text::Split(complete, '\n')) {
    std::vector<std::string> parts = text::Split(raw, '\t');
    if (parts.size() < 3)
      continue;
    JournalLine line;
    line.pid = static_cast<DWORD>(std::stoul(parts[0]));
    line.event = parts[2];
    for (size_t i = 3; i < parts.size(); ++i) {
      const size_t eq = parts[i].find('=');
      line.fields[parts[i].substr(0, eq)] = Unescape(parts[i].substr(eq + 1));
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<JournalLine> ReadJournal(const std::filesystem::path& file, DWORD pid) {
  std::vector<JournalLine> lines = ReadJournal(file);
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [&](const JournalLine& l) { return l.pid != pid; }),
              lines.end());
  return lines;
}

std::vector<JournalLine> Only(const std::vector<JournalLine>& lines, const std::string& event) {
  std::vector<JournalLine> found;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
               [&](const JournalLine& l) { return l.event == event; });
  return found;
}

std::vector<std::string> EventNames(const std::vector<JournalLine>& lines) {
  std::vector<std::string> names;
  for (const JournalLine& l : lines)
    names.push_back(l.event);
  return names;
}

} // namespace winetest
