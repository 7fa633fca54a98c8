#include "platform/win32/Win32Text.h"
#include "platform/win32/Win32Handles.h"

#include <vector>

namespace plat::win32 {

std::string SystemErrorText(DWORD code) {
  LocalMemory buffer;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
  std::wstring message;
  if (length != 0 && buffer)
    message.assign(LocalAs<wchar_t>(buffer), length);
  while (!message.empty() &&
         (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
    message.pop_back();
  if (message.empty())
    return "System error " + std::to_string(code);
  return Narrow(message);
}

std::string WindowText(HWND window) {
  LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0)
    return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  LRESULT copied =
      SendMessageW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  if (copied <= 0)
    return {};
  return Narrow(std::wstring_view(buffer.data(), static_cast<size_t>(copied)));
}

} // namespace plat::win32
