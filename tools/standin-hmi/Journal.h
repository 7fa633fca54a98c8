// The stand-in's journal: one UTF-8 line per event, appended to a file that
// readers may open, read and delete while the stand-in runs. A line is
//   <pid> TAB <ms since start> TAB <event> [TAB <key>=<value>]...
// Values are escaped so that a line never holds a raw tab or line break:
// "\\" for a backslash, "\t", "\r", "\n", "\xHH" for other control
// characters and "\uXXXX" for a UTF-16 surrogate that has no partner.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

using Fields = std::vector<std::pair<std::string, std::wstring>>;

// UTF-16 text as UTF-8 with the journal's escapes applied.
std::string EscapeValue(std::wstring_view text);

// "left,top,right,bottom" of a window's screen rectangle.
std::wstring RectText(HWND window);

class Journal {
public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens `path` for appending; false (and no journal) when it cannot.
  bool Open(const std::wstring& path);

  // Writes one line with a single WriteFile call: nothing is buffered in the
  // process, so a reader sees every event as soon as it happened.
  void Write(std::string_view event, const Fields& fields = {});

private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  DWORD startTick_ = GetTickCount();
};

} // namespace standin
