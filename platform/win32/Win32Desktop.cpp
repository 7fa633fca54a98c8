#include "platform/win32/Win32Desktop.h"

#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Text.h"

#include <tlhelp32.h>

#include <vector>

namespace plat::win32 {
namespace {

HANDLE ToEvent(EventHandle event) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event));
}

HKEY ToHkey(plat::RegistryKey key) {
  return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key));
}

} // namespace

// ---------------------------------------------------------------------------

WindowHandle Win32Windows::FindWindow(const std::optional<std::string>& className,
                                      const std::optional<std::string>& title) {
  std::wstring wideClass = className ? Widen(*className) : std::wstring();
  std::wstring wideTitle = title ? Widen(*title) : std::wstring();
  return ToWindowHandle(
      FindWindowW(className ? wideClass.c_str() : nullptr, title ? wideTitle.c_str() : nullptr));
}

std::vector<WindowHandle> Win32Windows::FindWindows(const std::optional<std::string>& className,
                                                    const std::optional<std::string>& title) {
  std::wstring wideClass = className ? Widen(*className) : std::wstring();
  std::wstring wideTitle = title ? Widen(*title) : std::wstring();
  // FindWindowExW with no parent walks the top-level windows in z-order, as
  // FindWindowW does, and goes on after the one given.
  std::vector<WindowHandle> found;
  HWND after = nullptr;
  while (found.size() < 4096) {
    after = FindWindowExW(nullptr, after, className ? wideClass.c_str() : nullptr,
                          title ? wideTitle.c_str() : nullptr);
    if (after == nullptr)
      break;
    found.push_back(ToWindowHandle(after));
  }
  return found;
}

uint32_t Win32Windows::WindowProcessId(WindowHandle window) {
  DWORD processId = 0;
  if (window == WindowHandle::None || GetWindowThreadProcessId(ToHwnd(window), &processId) == 0)
    return 0;
  return processId;
}

WindowHandle Win32Windows::GetForegroundWindow() {
  return ToWindowHandle(::GetForegroundWindow());
}

bool Win32Windows::IsWindow(WindowHandle window) {
  return window != WindowHandle::None && ::IsWindow(ToHwnd(window)) != FALSE;
}

bool Win32Windows::FlashWindow(WindowHandle window, bool invert) {
  return ::FlashWindow(ToHwnd(window), invert ? TRUE : FALSE) != FALSE;
}

bool Win32Windows::SetForegroundWindow(WindowHandle window) {
  return ::SetForegroundWindow(ToHwnd(window)) != FALSE;
}

bool Win32Windows::SetWindowPos(WindowHandle window, int64_t insertAfter, int32_t x, int32_t y,
                                int32_t cx, int32_t cy, uint32_t flags) {
  // HWND_TOPMOST and its kin are small negative numbers cast to a handle.
  HWND after = reinterpret_cast<HWND>(static_cast<intptr_t>(insertAfter));
  return ::SetWindowPos(ToHwnd(window), after, x, y, cx, cy, flags) != FALSE;
}

bool Win32Windows::ShowWindow(WindowHandle window, int32_t command) {
  // The result says whether the window was visible before, not whether the
  // call worked; it is passed on as it is.
  return ::ShowWindow(ToHwnd(window), command) != FALSE;
}

std::optional<WindowRect> Win32Windows::GetWindowRect(WindowHandle window) {
  RECT rect{};
  if (!::GetWindowRect(ToHwnd(window), &rect))
    return std::nullopt;
  return WindowRect{rect.left, rect.top, rect.right, rect.bottom};
}

bool Win32Windows::MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width,
                              int32_t height, bool repaint) {
  return ::MoveWindow(ToHwnd(window), x, y, width, height, repaint ? TRUE : FALSE) != FALSE;
}

bool Win32Windows::PostMessage(WindowHandle window, uint32_t message, uint64_t wParam,
                               int64_t lParam) {
  return PostMessageW(ToHwnd(window), message, static_cast<WPARAM>(wParam),
                      static_cast<LPARAM>(lParam)) != FALSE;
}

int64_t Win32Windows::SendMessage(WindowHandle window, uint32_t message, uint64_t wParam,
                                  int64_t lParam) {
  return SendMessageW(ToHwnd(window), message, static_cast<WPARAM>(wParam),
                      static_cast<LPARAM>(lParam));
}

bool Win32Windows::SendMessageTimeout(WindowHandle window, uint32_t message, uint64_t wParam,
                                      int64_t lParam, uint32_t flags, uint32_t timeoutMs) {
  return SendMessageTimeoutW(ToHwnd(window), message, static_cast<WPARAM>(wParam),
                             static_cast<LPARAM>(lParam), flags, timeoutMs, nullptr) != 0;
}

EventHandle Win32Windows::CreateEvent() {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return static_cast<EventHandle>(reinterpret_cast<uintptr_t>(event));
}

uint32_t Win32Windows::MsgWaitForEvent(EventHandle event, uint32_t timeoutMs, uint32_t wakeMask) {
  HANDLE handles[1] = {ToEvent(event)};
  return MsgWaitForMultipleObjects(1, handles, FALSE, timeoutMs, wakeMask);
}

bool Win32Windows::CloseEvent(EventHandle event) {
  return event != EventHandle::None && ::CloseHandle(ToEvent(event)) != FALSE;
}

// ---------------------------------------------------------------------------

std::optional<StartedProcess> Win32Processes::CreateProcess(const std::string& commandLine,
                                                            const std::string& currentDirectory,
                                                            const StartupInfo& startup) {
  // CreateProcessW may write into the command line, so it gets a buffer of
  // its own.
  std::wstring wide = Widen(commandLine);
  std::vector<wchar_t> buffer(wide.begin(), wide.end());
  buffer.push_back(L'\0');
  std::wstring directory = Widen(currentDirectory);

  STARTUPINFOW info{};
  info.cb = sizeof info;
  info.dwFlags = startup.flags;
  info.wShowWindow = startup.showWindow;
  info.dwX = startup.x;
  info.dwY = startup.y;
  info.dwXSize = startup.xSize;
  info.dwYSize = startup.ySize;

  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &info, &started))
    return std::nullopt;
  // Both handles go to the caller, who owns them from here.
  return StartedProcess{ToHandle32(started.hProcess), ToHandle32(started.hThread)};
}

void Win32Processes::WaitForInputIdle(uint32_t process) {
  ::WaitForInputIdle(FromHandle32(process), INFINITE);
}

std::optional<uint32_t> Win32Processes::GetExitCodeProcess(uint32_t process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(FromHandle32(process), &code))
    return std::nullopt;
  return code;
}

void Win32Processes::CloseHandle(uint32_t handle) {
  ::CloseHandle(FromHandle32(handle));
}

uint32_t Win32Processes::ProcessIdOf(uint32_t process) {
  return GetProcessId(FromHandle32(process));
}

namespace {

uint64_t StartTimeOf(DWORD processId) {
  KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
    return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

} // namespace

std::vector<ProcessEntry> Win32Processes::RunningProcesses() {
  std::vector<ProcessEntry> processes;
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return processes;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    ProcessEntry process;
    process.id = entry.th32ProcessID;
    process.parentId = entry.th32ParentProcessID;
    process.exeName = Narrow(entry.szExeFile);
    process.started = StartTimeOf(entry.th32ProcessID);
    processes.push_back(std::move(process));
  }
  return processes;
}

std::optional<std::string> Win32Processes::ProcessImagePath(uint32_t processId) {
  KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process)
    return std::nullopt;
  std::vector<wchar_t> path(32768);
  DWORD length = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &length))
    return std::nullopt;
  return Narrow(std::wstring(path.data(), length));
}

int32_t Win32Processes::GetSystemMetrics(int32_t index) {
  return ::GetSystemMetrics(index);
}

// ---------------------------------------------------------------------------

plat::RegistryKey Win32Registry::OpenCurrentUserKey(const std::string& keyName, uint32_t access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(keyName).c_str(), 0, access, &key) != ERROR_SUCCESS)
    return plat::RegistryKey::None;
  return static_cast<plat::RegistryKey>(reinterpret_cast<uintptr_t>(key));
}

bool Win32Registry::ValueExists(plat::RegistryKey key, const std::string& valueName) {
  if (key == plat::RegistryKey::None)
    return false;
  // Without a data buffer the call only tells whether the value is there.
  return RegQueryValueExW(ToHkey(key), Widen(valueName).c_str(), nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

void Win32Registry::CloseKey(plat::RegistryKey key) {
  if (key != plat::RegistryKey::None)
    RegCloseKey(ToHkey(key));
}

} // namespace plat::win32
