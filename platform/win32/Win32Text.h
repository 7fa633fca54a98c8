// Conversions between the logic's UTF-8 text and the wide strings of the
// Win32 API, and the system's own wording of an error code.
#pragma once

#include "common/Text.h"

#include "platform/win32/Win32Api.h"

#include <string>
#include <string_view>

namespace plat::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 code units");

inline std::wstring Widen(std::string_view utf8) {
  std::u16string u16 = text::Utf8ToUtf16(utf8);
  return std::wstring(u16.begin(), u16.end());
}

inline std::string Narrow(std::wstring_view wide) {
  return text::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// The system's message for an error code, without the trailing line break;
// "System error N" when the system has no text for it.
std::string SystemErrorText(DWORD code);

// The text of a window through WM_GETTEXT, so that it works for every class.
std::string WindowText(HWND window);

} // namespace plat::win32
