#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

namespace plat::win32 {

std::string Win32System::EnvironmentVariable(const std::string& name) {
  std::wstring wideName = Widen(name);
  std::vector<wchar_t> buffer(256);
  for (;;) {
    DWORD length =
        GetEnvironmentVariableW(wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return {};
    if (length < buffer.size())
      return Narrow(std::wstring_view(buffer.data(), length));
    // Too small: `length` is the size needed, terminator included. The value
    // may grow again before the next call, hence the loop.
    buffer.resize(length);
  }
}

std::vector<std::string> Win32System::CommandLineArguments() {
  int count = 0;
  LocalMemory memory(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!memory)
    throw PlatformError("The command line cannot be read. " + SystemErrorText(GetLastError()));
  wchar_t** args = LocalAs<wchar_t*>(memory);
  std::vector<std::string> result;
  result.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    result.push_back(Narrow(args[i]));
  return result;
}

std::string Win32System::ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0)
      throw PlatformError("The program's own path cannot be read. " +
                          SystemErrorText(GetLastError()));
    // A result that fills the buffer may have been cut short.
    if (length < buffer.size())
      return Narrow(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<FileVersion> Win32System::ExecutableFileVersion() {
  std::wstring path = Widen(ExecutablePath());
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0)
    return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
    return std::nullopt;
  void* block = nullptr;
  UINT blockSize = 0;
  if (!VerQueryValueW(data.data(), L"\\", &block, &blockSize) || block == nullptr ||
      blockSize < sizeof(VS_FIXEDFILEINFO))
    return std::nullopt;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
  if (fixed->dwSignature != 0xFEEF04BD)
    return std::nullopt;
  return FileVersion{fixed->dwFileVersionMS, fixed->dwFileVersionLS};
}

std::optional<std::string> Win32System::CommonAppDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return std::nullopt;
  return Narrow(buffer);
}

std::optional<std::string> Win32System::LocalAppDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return std::nullopt;
  return Narrow(buffer);
}

std::string Win32System::TempFolder() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (length == 0 || length >= buffer.size())
    throw PlatformError("The temporary folder cannot be found. " + SystemErrorText(GetLastError()));
  std::wstring path(buffer.data(), length);

  // The temporary path may come in short (8.3) form; callers compare and
  // show it, so expand it when the folder exists.
  DWORD longLength = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (longLength != 0) {
    std::vector<wchar_t> longPath(longLength);
    DWORD written = GetLongPathNameW(path.c_str(), longPath.data(), longLength);
    if (written != 0 && written < longLength)
      path.assign(longPath.data(), written);
  }

  // Drop the trailing separator, but keep a drive root whole ("C:\").
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') &&
         !(path.size() == 3 && path[1] == L':'))
    path.pop_back();
  return Narrow(path);
}

uint32_t Win32System::ProcessId() {
  return GetCurrentProcessId();
}

uint32_t Win32System::TickCount() {
  return GetTickCount();
}

void Win32System::Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

namespace {

// Owns one hold of a mutex; the mutex belongs to the thread that waited for
// it, so the object is released on that thread (the GUI thread).
class MutexLock : public NamedLock {
public:
  explicit MutexLock(KernelHandle mutex) : mutex_(std::move(mutex)) {}
  ~MutexLock() override { ReleaseMutex(mutex_.get()); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

private:
  KernelHandle mutex_;
};

} // namespace

namespace {

// Every signed-in user of the machine (Authenticated Users) may wait for the
// lock and let it go, and nothing more; the system and administrators keep
// full control.
constexpr const wchar_t* kSharedLockRights = L"D:(A;;0x00100001;;;AU)(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// The lock in the machine-wide namespace, made with rights that let the
// launchers of every user open it; null when it can neither be made nor
// opened there.
HANDLE OpenGlobalMutex(const std::wstring& name) {
  const std::wstring fullName = L"Global\\" + name;
  LocalMemory descriptor;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedLockRights, SDDL_REVISION_1,
                                                           descriptor.put(), nullptr)) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    // The access asked for is what the descriptor grants, so a lock another
    // user made opens as well.
    HANDLE mutex = CreateMutexExW(&attributes, fullName.c_str(), 0, kLockAccess);
    descriptor.reset();
    if (mutex != nullptr)
      return mutex;
  }
  return OpenMutexW(kLockAccess, FALSE, fullName.c_str());
}

} // namespace

std::unique_ptr<NamedLock> Win32System::AcquireNamedLock(const std::string& name, uint32_t waitMs) {
  // Launchers of every session share the machine-wide cache, so they meet in
  // the global namespace. Where that is closed to this process (a service
  // without the right), the session's namespace still keeps this user's
  // launchers apart.
  KernelHandle mutex(OpenGlobalMutex(Widen(name)));
  if (!mutex) {
    const std::wstring localName = L"Local\\" + Widen(name);
    mutex.reset(CreateMutexW(nullptr, FALSE, localName.c_str()));
  }
  if (!mutex)
    throw PlatformError("Cannot create the lock " + name + ". " + SystemErrorText(GetLastError()));
  switch (WaitForSingleObject(mutex.get(), waitMs)) {
  case WAIT_OBJECT_0:
  // The last holder ended without letting go: the lock is ours now. What it
  // was doing is checked by the caller as always (images by their markers).
  case WAIT_ABANDONED:
    return std::make_unique<MutexLock>(std::move(mutex));
  case WAIT_TIMEOUT:
    return nullptr;
  default:
    throw PlatformError("Cannot wait for the lock " + name + ". " +
                        SystemErrorText(GetLastError()));
  }
}

} // namespace plat::win32
