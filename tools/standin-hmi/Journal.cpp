#include "tools/standin-hmi/Journal.h"

namespace standin {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    out += kHex[(value >> shift) & 0xF];
}

} // namespace

std::string EscapeValue(std::wstring_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[++i]) - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      // A half of a pair, as a WM_CHAR carries it: kept visible, not replaced.
      AppendHex(out, "\\u", static_cast<unsigned>(c), 4);
      continue;
    }
    switch (c) {
    case U'\\':
      out += "\\\\";
      break;
    case U'\t':
      out += "\\t";
      break;
    case U'\r':
      out += "\\r";
      break;
    case U'\n':
      out += "\\n";
      break;
    default:
      if (c < 0x20 || c == 0x7F)
        AppendHex(out, "\\x", static_cast<unsigned>(c), 2);
      else
        AppendUtf8(out, c);
    }
  }
  return out;
}

std::wstring RectText(HWND window) {
  RECT r{};
  if (!window || !GetWindowRect(window, &r))
    return L"none";
  return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right) +
         L"," + std::to_wstring(r.bottom);
}

Journal::~Journal() {
  if (file_ != INVALID_HANDLE_VALUE)
    CloseHandle(file_);
}

bool Journal::Open(const std::wstring& path) {
  // Shared for reading, writing and deleting: tests read the journal while
  // the stand-in runs, and several stand-ins may append to one journal.
  file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ != INVALID_HANDLE_VALUE;
}

void Journal::Write(std::string_view event, const Fields& fields) {
  if (file_ == INVALID_HANDLE_VALUE)
    return;
  std::string line = std::to_string(GetCurrentProcessId()) + "\t" +
                     std::to_string(GetTickCount() - startTick_) + "\t" + std::string(event);
  for (const auto& [key, value] : fields) {
    line += '\t';
    line += key;
    line += '=';
    line += EscapeValue(value);
  }
  line += '\n';
  DWORD written = 0;
  WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace standin
