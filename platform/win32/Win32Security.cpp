#include "platform/win32/Win32Storage.h"

#include "platform/Platform.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Text.h"

namespace plat::win32 {
namespace {

using RtlGetVersionFn = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);

// The version the system really runs. GetVersionExW answers with the version
// named in the program's manifest when that is older, so the call of the
// system's own layer comes first.
unsigned RealMajorVersion() {
  if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
    if (FARPROC address = GetProcAddress(ntdll, "RtlGetVersion")) {
      // Through the generic function pointer type, which converts to any
      // other without a warning.
      auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(address));
      RTL_OSVERSIONINFOW info{};
      info.dwOSVersionInfoSize = sizeof info;
      if (rtlGetVersion(&info) == 0) // STATUS_SUCCESS
        return info.dwMajorVersion;
    }
  }
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(&info))
    return info.dwMajorVersion;
#pragma GCC diagnostic pop
  return 0;
}

class Win32Security : public ISecurity {
public:
  unsigned OsMajorVersion() override { return RealMajorVersion(); }

  std::optional<bool> TokenElevated() override {
    KernelHandle token;
    // The thread's own token is asked for with the process's rights, so that
    // an impersonated client with fewer rights cannot make the query fail.
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
      if (GetLastError() != ERROR_NO_TOKEN)
        return std::nullopt;
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return std::nullopt;
    }
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &returned))
      return std::nullopt;
    return elevation.TokenIsElevated != 0;
  }

  bool InAdministratorsGroup() override {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    AllocatedSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.put()))
      throw PlatformError(SystemErrorText(GetLastError()));
    BOOL member = FALSE;
    BOOL checked = CheckTokenMembership(nullptr, administrators.get(), &member);
    return checked && member;
  }
};

} // namespace

std::unique_ptr<ISecurity> CreateWin32Security() {
  return std::make_unique<Win32Security>();
}

} // namespace plat::win32
