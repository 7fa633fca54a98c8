#include "platform/win32/Win32Desktop.h"

#include "platform/win32/Win32Pump.h"
#include "platform/win32/Win32Text.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace plat::win32 {
namespace {

// The longest the launcher sleeps between two looks at an answer it waits
// for: the answer itself may not wake the wait.
constexpr DWORD kAnswerPollMs = 50;

// Answers to the messages sent with SendMessageCallbackW arrive on this
// thread, as calls of Answered while it takes its messages. Each send has a
// number of its own, so an answer that comes after its send gave up is
// recognised and dropped.
thread_local uint64_t t_lastSend = 0;
thread_local std::vector<uint64_t> t_answers;

void CALLBACK Answered(HWND, UINT, ULONG_PTR send, LRESULT) {
  t_answers.push_back(send);
}

bool TakeAnswer(uint64_t send) {
  auto it = std::find(t_answers.begin(), t_answers.end(), send);
  if (it == t_answers.end())
    return false;
  t_answers.erase(it);
  return true;
}

// Sends the message and waits up to `timeoutMs` for the window's thread to
// handle it, with the launcher's own messages running meanwhile (a close of
// the launcher is seen at once). A window whose thread hangs keeps the
// message; it is not sent again.
Delivery SendAndWait(HWND window, UINT message, WPARAM wParam, uint32_t timeoutMs,
                     const StopFlag& stop) {
  if (stop.Requested())
    return Delivery::Stopped;
  if (!::IsWindow(window))
    return Delivery::Gone;
  const uint64_t send = ++t_lastSend;
  if (!SendMessageCallbackW(window, message, wParam, 0, Answered, static_cast<ULONG_PTR>(send)))
    return ::IsWindow(window) ? Delivery::TimedOut : Delivery::Gone;
  const DWORD start = GetTickCount();
  for (;;) {
    DispatchPendingMessages();
    if (TakeAnswer(send))
      return Delivery::Taken;
    if (stop.Requested())
      return Delivery::Stopped;
    if (!::IsWindow(window))
      return Delivery::Gone;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs)
      return Delivery::TimedOut;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              std::min<DWORD>(timeoutMs - elapsed, kAnswerPollMs), QS_ALLINPUT);
  }
}

bool PostAll(HWND window, std::initializer_list<MSG> messages) {
  bool all = true;
  for (const MSG& m : messages)
    all = PostMessageW(window, m.message, m.wParam, m.lParam) != FALSE && all;
  return all;
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

std::optional<WindowRect> Win32Windows::GetWindowRect(WindowHandle window) {
  RECT rect{};
  if (!::GetWindowRect(ToHwnd(window), &rect))
    return std::nullopt;
  return WindowRect{rect.left, rect.top, rect.right, rect.bottom};
}

bool Win32Windows::Flash(WindowHandle window) {
  return ::FlashWindow(ToHwnd(window), TRUE) != FALSE;
}

bool Win32Windows::BringToFront(WindowHandle window) {
  return ::SetForegroundWindow(ToHwnd(window)) != FALSE;
}

bool Win32Windows::Restack(WindowHandle window, Stacking where) {
  HWND after = where == Stacking::Bottom    ? HWND_BOTTOM
               : where == Stacking::Topmost ? HWND_TOPMOST
                                            : HWND_NOTOPMOST;
  return ::SetWindowPos(ToHwnd(window), after, 0, 0, 0, 0,
                        SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE) != FALSE;
}

bool Win32Windows::Show(WindowHandle window, ShowAs how) {
  int command = SW_SHOW;
  switch (how) {
  case ShowAs::Hidden:
    command = SW_HIDE;
    break;
  case ShowAs::Shown:
    command = SW_SHOW;
    break;
  case ShowAs::Maximized:
    command = SW_SHOWMAXIMIZED;
    break;
  case ShowAs::Minimized:
    command = SW_MINIMIZE;
    break;
  case ShowAs::Restored:
    command = SW_RESTORE;
    break;
  }
  // The result says whether the window was visible before, not whether the
  // call worked.
  return ::ShowWindow(ToHwnd(window), command) != FALSE;
}

bool Win32Windows::Move(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height) {
  return ::MoveWindow(ToHwnd(window), x, y, width, height, TRUE) != FALSE;
}

Delivery Win32Windows::AskToClose(WindowHandle window, uint32_t timeoutMs, const StopFlag& stop) {
  return SendAndWait(ToHwnd(window), WM_CLOSE, 0, timeoutMs, stop);
}

Delivery Win32Windows::WaitUntilReady(WindowHandle window, uint32_t timeoutMs,
                                      const StopFlag& stop) {
  return SendAndWait(ToHwnd(window), WM_NULL, 0, timeoutMs, stop);
}

Delivery Win32Windows::TypeText(WindowHandle window, const std::string& text,
                                uint32_t perKeyTimeoutMs, const StopFlag& stop) {
  // One WM_CHAR per UTF-16 code unit: a character beyond the first plane goes
  // as its two surrogates.
  for (wchar_t unit : Widen(text)) {
    const Delivery d =
        SendAndWait(ToHwnd(window), WM_CHAR, static_cast<WPARAM>(unit), perKeyTimeoutMs, stop);
    if (d != Delivery::Taken)
      return d;
  }
  return ::IsWindow(ToHwnd(window)) || text.empty() ? Delivery::Taken : Delivery::Gone;
}

bool Win32Windows::PressTab(WindowHandle window) {
  // A key-down alone moves the focus on; the HMI takes no key-up for it.
  return PostAll(ToHwnd(window), {MSG{nullptr, WM_KEYDOWN, VK_TAB, 0, 0, {}}});
}

bool Win32Windows::PressEnter(WindowHandle window) {
  // Focus first; the form submits on the release, as a default button does.
  return PostAll(ToHwnd(window), {MSG{nullptr, WM_SETFOCUS, 0, 0, 0, {}},
                                  MSG{nullptr, WM_KEYDOWN, VK_RETURN, 0, 0, {}},
                                  MSG{nullptr, WM_KEYUP, VK_RETURN, 0, 0, {}}});
}

WaitEnd Win32Windows::WaitForMessages(uint32_t timeoutMs) {
  switch (MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs, QS_ALLINPUT)) {
  case WAIT_OBJECT_0:
    return WaitEnd::Message;
  case WAIT_TIMEOUT:
    return WaitEnd::TimedOut;
  default:
    return WaitEnd::Failed;
  }
}

// ---------------------------------------------------------------------------

std::optional<uint32_t> Win32Processes::CreateProcess(const std::string& commandLine,
                                                      const std::string& currentDirectory,
                                                      const WindowPlacement& placement) {
  // CreateProcessW may write into the command line, so it gets a buffer of
  // its own.
  std::wstring wide = Widen(commandLine);
  std::vector<wchar_t> buffer(wide.begin(), wide.end());
  buffer.push_back(L'\0');
  std::wstring directory = Widen(currentDirectory);

  STARTUPINFOW info{};
  info.cb = sizeof info;
  info.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION;
  info.wShowWindow = SW_SHOWNORMAL;
  // A position left of or above the primary screen is negative: the system
  // reads these unsigned fields as their 32-bit two's complement.
  info.dwX = static_cast<DWORD>(placement.x);
  info.dwY = static_cast<DWORD>(placement.y);
  info.dwXSize = static_cast<DWORD>(placement.width);
  info.dwYSize = static_cast<DWORD>(placement.height);

  PROCESS_INFORMATION started{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &info, &started))
    return std::nullopt;
  KernelHandle thread(started.hThread);
  started_.emplace_back(started.hProcess);
  return ToHandle32(started.hProcess);
}

std::optional<uint32_t> Win32Processes::GetExitCodeProcess(uint32_t process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(FromHandle32(process), &code))
    return std::nullopt;
  return code;
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

ScreenSize Win32Processes::VirtualScreen() {
  return {::GetSystemMetrics(SM_CXVIRTUALSCREEN), ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// ---------------------------------------------------------------------------

bool Win32Registry::ValueExists(const std::string& keyName, const std::string& valueName) {
  RegistryKeyHandle key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(keyName).c_str(), 0, KEY_READ, key.put()) !=
      ERROR_SUCCESS)
    return false;
  // Without a data buffer the call only tells whether the value is there.
  return RegQueryValueExW(key.get(), Widen(valueName).c_str(), nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

} // namespace plat::win32
