// The Win32 desktop services (windows of other processes, process starts,
// the registry) against the real system. The other process is this test
// program itself, started again to run only DesktopChild.DISABLED_WindowHost:
// a top-level window that counts what it is sent and can be told to hang.
#include "platform/win32/Win32Desktop.h"

#include "hmi/ProcessUtils.h"
#include "hmi/WindowFinder.h"
#include "hmi/WindowWaits.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"
#include "tests/wine/LauncherHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using plat::WindowHandle;
using plat::win32::Narrow;
using plat::win32::ToHwnd;
using plat::win32::Widen;
using winetest::WaitUntil;

constexpr std::chrono::milliseconds kDeadline{20000};
constexpr const wchar_t* kTitleVariable = L"VELTRA_DESKTOP_CHILD_TITLE";
constexpr const wchar_t* kEventVariable = L"VELTRA_DESKTOP_CHILD_EVENT";
constexpr const wchar_t* kChildClass = L"VeltraDesktopChild";
// Child messages: block until the release event is set; answer the count.
constexpr UINT kWmBlock = WM_APP + 1;
constexpr UINT kWmCount = WM_APP + 2;

// ---------------------------------------------------------------------------
// The child window. Everything it was sent adds up to one number: the sum of
// the printable WM_CHAR code units plus 100000 per Tab key-down. It answers kWmCount
// with it and leaves with it as its exit code.

std::atomic<long> childCount{0};
HANDLE childBlocked = nullptr;
HANDLE childRelease = nullptr;

LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_CHAR:
    // The posted Tab key-down comes back through TranslateMessage as a
    // WM_CHAR 9 as well; only what was sent as characters counts.
    if (wParam >= 0x20)
      childCount += static_cast<long>(wParam);
    return 0;
  case WM_KEYDOWN:
    if (wParam == VK_TAB)
      childCount += 100000;
    return 0;
  case kWmBlock:
    SetEvent(childBlocked);
    WaitForSingleObject(childRelease, 60000);
    return 0;
  case kWmCount:
    return childCount;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[512];
  DWORD length = GetEnvironmentVariableW(name, buffer, 512);
  return length > 0 && length < 512 ? std::wstring(buffer, length) : std::wstring();
}

TEST(DesktopChild, DISABLED_WindowHost) {
  std::wstring title = Variable(kTitleVariable);
  if (title.empty())
    GTEST_SKIP() << "runs only as the child of the desktop tests";
  std::wstring events = Variable(kEventVariable);
  childBlocked = OpenEventW(EVENT_MODIFY_STATE, FALSE, (events + L"-blocked").c_str());
  childRelease = OpenEventW(SYNCHRONIZE, FALSE, (events + L"-release").c_str());
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ChildProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kChildClass;
  RegisterClassExW(&windowClass);
  // Default position, size and show state: those of the start-up information.
  HWND window = CreateWindowExW(0, kChildClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr)
    ExitProcess(1);
  ShowWindow(window, SW_SHOWDEFAULT);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  ExitProcess(static_cast<UINT>(childCount.load()));
}

// ---------------------------------------------------------------------------

std::wstring OwnPath() {
  wchar_t buffer[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return std::wstring(buffer, length);
}

class DesktopTest : public ::testing::Test {
protected:
  plat::win32::Win32Services w;
  hmi::HmiServices s = hmi::HmiServices::From(w.services);
};

// The child window, started and waited for; closed, or else ended, at the end.
class ChildWindowTest : public DesktopTest {
protected:
  void SetUp() override {
    static int counter = 0;
    std::wstring suffix =
        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    title = L"Veltra Desktop Child " + suffix;
    std::wstring eventName = L"VeltraDesktopChild-" + suffix;
    blocked = CreateEventW(nullptr, TRUE, FALSE, (eventName + L"-blocked").c_str());
    release = CreateEventW(nullptr, TRUE, FALSE, (eventName + L"-release").c_str());
    ASSERT_NE(blocked, nullptr);
    ASSERT_NE(release, nullptr);
    SetEnvironmentVariableW(kTitleVariable, title.c_str());
    SetEnvironmentVariableW(kEventVariable, eventName.c_str());

    const plat::WindowPlacement placement{100, 80, 800, 600};
    std::string command = "\"" + Narrow(OwnPath()) +
                          "\" --gtest_also_run_disabled_tests"
                          " --gtest_filter=DesktopChild.DISABLED_WindowHost";
    std::optional<uint32_t> started = w.processes.CreateProcess(command, "", placement);
    SetEnvironmentVariableW(kTitleVariable, nullptr);
    SetEnvironmentVariableW(kEventVariable, nullptr);
    ASSERT_TRUE(started.has_value());
    child = *started;
    ASSERT_TRUE(WaitUntil(
        [&] { return (window = w.windows.FindWindow(std::nullopt, Narrow(title))) != None; },
        kDeadline, Process()))
        << "the child's window did not appear";
  }

  void TearDown() override {
    if (release != nullptr)
      SetEvent(release);
    // The process handle is the services' own; it closes with them.
    if (child != 0 && w.processes.GetExitCodeProcess(child) == plat::kStillActive) {
      if (window != None)
        PostMessageW(ToHwnd(window), WM_CLOSE, 0, 0);
      if (WaitForSingleObject(Process(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(Process(), 99);
    }
    if (release != nullptr)
      CloseHandle(release);
    if (blocked != nullptr)
      CloseHandle(blocked);
  }

  HANDLE Process() const { return plat::win32::FromHandle32(child); }
  std::optional<uint32_t> ExitCodeOnceEnded() {
    WaitUntil([&] { return w.processes.GetExitCodeProcess(child) != plat::kStillActive; },
              kDeadline, Process());
    return w.processes.GetExitCodeProcess(child);
  }
  long Count() { return static_cast<long>(SendMessageW(ToHwnd(window), kWmCount, 0, 0)); }
  // The child's thread sits in a handler until `release` is set.
  void Block() {
    ASSERT_TRUE(PostMessageW(ToHwnd(window), kWmBlock, 0, 0));
    // Sent messages overtake posted ones: only once the child is inside the
    // blocking handler is the next send sure to wait behind it.
    ASSERT_EQ(WaitForSingleObject(blocked, 20000), WAIT_OBJECT_0);
  }

  static constexpr WindowHandle None = WindowHandle::None;
  std::wstring title;
  HANDLE blocked = nullptr;
  HANDLE release = nullptr;
  uint32_t child = 0;
  WindowHandle window = None;
};

TEST_F(ChildWindowTest, FoundByWholeTitleOrClassInAnyLetterCase) {
  std::string t = Narrow(title);
  std::string upper = t;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(w.windows.FindWindow(std::nullopt, upper), window);
  EXPECT_EQ(w.windows.FindWindow(std::string("veltradesktopchild"), t), window);
  EXPECT_EQ(w.windows.FindWindow(std::nullopt, t.substr(0, t.size() - 1)), None);
  EXPECT_EQ(w.windows.FindWindow(std::string("Edit"), t), None);
  EXPECT_TRUE(w.windows.IsWindow(window));
}

// Whose window it is: the started process's id, its parent (this test), its
// program and start time, as the finder's owner rules read them.
TEST_F(ChildWindowTest, TheWindowsOwnerItsParentAndItsProgramAreKnown) {
  const uint32_t id = w.processes.ProcessIdOf(child);
  EXPECT_EQ(id, GetProcessId(Process()));
  EXPECT_EQ(w.windows.WindowProcessId(window), id);
  EXPECT_EQ(w.windows.WindowProcessId(None), 0u);
  EXPECT_EQ(w.windows.FindWindows(std::nullopt, Narrow(title)), std::vector<WindowHandle>{window});
  EXPECT_TRUE(w.windows.FindWindows(std::nullopt, Narrow(title) + "x").empty());

  std::optional<plat::ProcessEntry> entry, self;
  for (const plat::ProcessEntry& p : w.processes.RunningProcesses()) {
    if (p.id == id)
      entry = p;
    if (p.id == GetCurrentProcessId())
      self = p;
  }
  ASSERT_TRUE(entry.has_value());
  ASSERT_TRUE(self.has_value());
  EXPECT_EQ(entry->parentId, GetCurrentProcessId());
  EXPECT_EQ(entry->exeName, Narrow(std::filesystem::path(OwnPath()).filename().wstring()));
  EXPECT_GE(entry->started, self->started);
  EXPECT_NE(entry->started, 0u);
  EXPECT_EQ(w.processes.ProcessImagePath(id), Narrow(OwnPath()));

  hmi::TWindowFinder finder(w.windows, w.ui, w.system);
  bool logging = false;
  launch::DiagnosticLog log(w.services, logging);
  hmi::KeepToProcessTree(finder, s, child, log);
  EXPECT_EQ(hmi::FindWindowByTitle(finder, Narrow(title)), window);
  hmi::KeepToImagePrograms(finder, s, "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImage\\v1",
                           log);
  EXPECT_EQ(hmi::FindWindowByTitle(finder, Narrow(title)), None);
}

TEST_F(ChildWindowTest, StartupInformationPlacesTheFirstWindowWhileTheProcessRuns) {
  auto rect = w.windows.GetWindowRect(window);
  ASSERT_TRUE(rect.has_value());
  EXPECT_EQ(rect->left, 100);
  EXPECT_EQ(rect->top, 80);
  EXPECT_EQ(rect->right, 900);
  EXPECT_EQ(rect->bottom, 680);
  EXPECT_EQ(w.processes.GetExitCodeProcess(child), plat::kStillActive);
}

TEST_F(ChildWindowTest, CharactersAreSentKeysPostedAndClosingEndsTheProcess) {
  // "a", "é", "€" and a character beyond the BMP as two surrogates.
  plat::StopFlag stop;
  EXPECT_EQ(hmi::SendStringToWindow(s, window, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", stop),
            plat::Delivery::Taken);
  const long chars = 'a' + 0xE9 + 0x20AC + 0xD83D + 0xDE00;
  EXPECT_EQ(Count(), chars); // every character handled before the send returned
  hmi::SendTabToWindow(s, window);
  EXPECT_TRUE(WaitUntil([&] { return Count() == chars + 100000; }, kDeadline));

  hmi::TWindowFinder finder(w.windows, w.ui, w.system);
  EXPECT_TRUE(hmi::CloseWindow(finder, Narrow(title)));
  EXPECT_EQ(ExitCodeOnceEnded(), static_cast<uint32_t>(chars + 100000));
  EXPECT_FALSE(w.windows.IsWindow(window));
  EXPECT_EQ(w.windows.FindWindow(std::nullopt, Narrow(title)), None);
}

TEST_F(ChildWindowTest, MovedOffScreenAndHiddenItIsStillFound) {
  EXPECT_TRUE(w.windows.Move(window, 20000, 20000, 800, 600));
  auto rect = w.windows.GetWindowRect(window);
  ASSERT_TRUE(rect.has_value());
  EXPECT_EQ(rect->left, 20000);
  EXPECT_EQ(rect->top, 20000);
  EXPECT_EQ(rect->right, 20800);
  EXPECT_EQ(rect->bottom, 20600);

  hmi::TWindowFinder finder(w.windows, w.ui, w.system);
  hmi::HideWindow(finder, Narrow(title));
  EXPECT_FALSE(IsWindowVisible(ToHwnd(window)));
  EXPECT_EQ(hmi::FindWindowByTitle(finder, Narrow(title)), window);
}

TEST_F(ChildWindowTest, FinderActionsReachTheWindow) {
  hmi::TWindowFinder finder(w.windows, w.ui, w.system);
  finder.SetMode(hmi::fmWindowHandle);
  finder.SetWindowHandle(window);

  finder.SetActions({hmi::faMinimize});
  ASSERT_TRUE(finder.Find());
  EXPECT_TRUE(IsIconic(ToHwnd(window)));
  finder.SetActions({hmi::faRestore});
  finder.Find();
  EXPECT_FALSE(IsIconic(ToHwnd(window)));

  auto topmost = [&] {
    return (GetWindowLongPtrW(ToHwnd(window), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  };
  finder.SetActions({hmi::faMakeNewTopmost});
  finder.Find();
  EXPECT_TRUE(topmost());
  finder.SetActions({hmi::faMakeNoNewTopmost, hmi::faSendToBack, hmi::faFlash});
  finder.Find();
  EXPECT_FALSE(topmost());
}

TEST_F(ChildWindowTest, ABusyWindowTimesOutAndIsSentNothingMore) {
  plat::StopFlag stop;
  EXPECT_EQ(w.windows.WaitUntilReady(window, 4000, stop), plat::Delivery::Taken);
  Block();
  EXPECT_EQ(w.windows.WaitUntilReady(window, 300, stop), plat::Delivery::TimedOut);
  // The first character waits in the hung window's queue; the second is
  // never sent.
  EXPECT_EQ(w.windows.TypeText(window, "ab", 300, stop), plat::Delivery::TimedOut);
  SetEvent(release);
  EXPECT_EQ(w.windows.WaitUntilReady(window, 10000, stop), plat::Delivery::Taken);
  EXPECT_EQ(Count(), 'a');
}

// The operator closes the launcher while a keystroke waits for a hung
// window: the close arrives as one of the launcher's own messages, which run
// during the wait; the wait ends then, not at its time limit, and nothing
// more is sent.
plat::StopFlag* closeRequest = nullptr;

TEST_F(ChildWindowTest, AStopEndsTheWaitForABusyWindow) {
  Block();
  plat::StopFlag stop;
  closeRequest = &stop;
  const UINT_PTR timer =
      SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR, DWORD) { closeRequest->Request(); });
  const plat::Delivery d = w.windows.TypeText(window, "xy", 60000, stop);
  KillTimer(nullptr, timer);
  closeRequest = nullptr;
  EXPECT_EQ(d, plat::Delivery::Stopped);
  EXPECT_EQ(w.windows.TypeText(window, "z", 60000, stop), plat::Delivery::Stopped);
  SetEvent(release);
  plat::StopFlag never;
  EXPECT_EQ(w.windows.WaitUntilReady(window, 10000, never), plat::Delivery::Taken);
  EXPECT_EQ(Count(), 'x');
}

TEST_F(DesktopTest, ExitCodeOfAShortProgramAndAStartThatFails) {
  const plat::WindowPlacement startup = hmi::CenteredPlacement({1280, 1024});
  auto started = w.processes.CreateProcess("cmd.exe /c exit 7", "C:\\windows", startup);
  ASSERT_TRUE(started.has_value());
  HANDLE process = plat::win32::FromHandle32(*started);
  EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(w.processes.GetExitCodeProcess(*started), 7u);

  EXPECT_FALSE(w.processes.CreateProcess("C:\\no such folder\\javaw.exe -host gw1", "", startup)
                   .has_value());
  EXPECT_FALSE(
      w.processes.CreateProcess("cmd.exe /c exit 7", "C:\\no such folder", startup).has_value());
  EXPECT_FALSE(w.processes.GetExitCodeProcess(0).has_value());
  EXPECT_GT(w.processes.VirtualScreen().width, 0);
  EXPECT_GT(w.processes.VirtualScreen().height, 0);
}

TEST_F(DesktopTest, ExecApplicationGivesTheProcessHandle) {
  std::optional<uint32_t> proc = hmi::ExecApplication(s, "cmd.exe", "/c exit 5", "C:\\windows", 0);
  ASSERT_TRUE(proc.has_value());
  HANDLE process = plat::win32::FromHandle32(*proc);
  EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(w.processes.GetExitCodeProcess(*proc), 5u);

  EXPECT_FALSE(hmi::ExecApplication(s, "C:\\no such folder\\javaw.exe", "", "C:\\windows", 0));
}

// A window of the test's own thread, in the foreground, as the launcher's
// window is when the operator presses Launch.
class ForegroundWindow {
public:
  ForegroundWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"VeltraDesktopOwnWindow";
    RegisterClassExW(&windowClass); // fails harmlessly when registered before
    window_ =
        CreateWindowExW(0, windowClass.lpszClassName, L"Veltra desktop test", WS_OVERLAPPEDWINDOW,
                        10, 10, 300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&msg);
  }
  ~ForegroundWindow() {
    if (window_ != nullptr)
      DestroyWindow(window_);
  }
  ForegroundWindow(const ForegroundWindow&) = delete;
  ForegroundWindow& operator=(const ForegroundWindow&) = delete;
  HWND Get() const { return window_; }

private:
  HWND window_ = nullptr;
};

// The wait for another process's window looks again only when a message
// wakes the waiting thread. A thread without windows is never woken by the
// new window (measured: the wait runs to its end and times out, the window
// long there); a thread whose window has the foreground is, by the
// activation messages when the new window takes it.
TEST_F(DesktopTest, WaitForAnotherProcesssWindowWokenByLosingTheForeground) {
  ForegroundWindow own;
  ASSERT_NE(own.Get(), nullptr);
  std::wstring title = L"Veltra Desktop Waited For " + std::to_wstring(GetCurrentProcessId());
  SetEnvironmentVariableW(kTitleVariable, title.c_str());
  std::optional<uint32_t> proc =
      hmi::ExecApplication(s, "\"" + Narrow(OwnPath()) + "\"",
                           "--gtest_also_run_disabled_tests"
                           " --gtest_filter=DesktopChild.DISABLED_WindowHost",
                           "", 0);
  SetEnvironmentVariableW(kTitleVariable, nullptr);
  ASSERT_TRUE(proc.has_value());
  HANDLE process = plat::win32::FromHandle32(*proc);

  hmi::TWindowFinder finder(w.windows, w.ui, w.system);
  bool timedOut = true;
  hmi::WaitForWindowName(s, finder, Narrow(title), timedOut, 20000, false);
  EXPECT_FALSE(timedOut);

  EXPECT_TRUE(hmi::CloseWindow(finder, Narrow(title)));
  if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
    TerminateProcess(process, 99);
}

// A message wait on a thread of its own, so that no message of the test's
// thread can end it early.
TEST_F(DesktopTest, MessageWaitTimesOutOrWakesForAMessage) {
  plat::WaitEnd timedOut = plat::WaitEnd::Failed, woken = plat::WaitEnd::Failed;
  std::thread waiter([&] {
    plat::win32::Win32Windows windows;
    timedOut = windows.WaitForMessages(50);
    PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
    woken = windows.WaitForMessages(20000);
  });
  waiter.join();
  EXPECT_EQ(timedOut, plat::WaitEnd::TimedOut);
  EXPECT_EQ(woken, plat::WaitEnd::Message);
}

// ---------------------------------------------------------------------------
// The registry: a scratch key of this test under HKEY_CURRENT_USER.

class RegistryTest : public DesktopTest {
protected:
  void SetUp() override {
    keyName = "Software\\VeltraDesktopTest\\" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Widen(keyName).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t data[] = L"trusted";
    RegSetValueExW(key, L"gw1:443", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
    RegSetValueExW(key, L"empty", 0, REG_BINARY, nullptr, 0);
    RegCloseKey(key);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VeltraDesktopTest"); }
  std::string keyName;
};

TEST_F(RegistryTest, ValuesOfAnyTypeExistNamesInAnyLetterCase) {
  EXPECT_TRUE(w.registry.ValueExists(keyName, "gw1:443"));
  EXPECT_TRUE(w.registry.ValueExists(keyName, "GW1:443"));
  EXPECT_TRUE(w.registry.ValueExists(keyName, "empty"));
  EXPECT_FALSE(w.registry.ValueExists(keyName, "gw2:443"));
  EXPECT_FALSE(w.registry.ValueExists(keyName, "gw1"));

  EXPECT_TRUE(hmi::CheckRegistryValueExists(s, keyName, "gw1:443"));
  EXPECT_FALSE(hmi::CheckRegistryValueExists(s, keyName + "\\missing", "gw1:443"));
}

TEST_F(RegistryTest, AMissingKeyDoesNotOpenAndIsNotCreated) {
  std::string missing = keyName + "\\not here";
  EXPECT_FALSE(w.registry.ValueExists(missing, "gw1:443"));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Widen(missing).c_str(), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
}

} // namespace
