#include "tests/wine/LauncherHarness.h"

#include "common/Text.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <system_error>
#include <thread>

namespace winetest {

namespace {

constexpr const wchar_t* kWindowCaptionPrefix = L"Veltra Substation Gateway - Dynamic Remote HMI";
constexpr const wchar_t* kMessageBoxClass = L"#32770";
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr UINT kMessageTimeoutMs = 5000;
constexpr std::chrono::milliseconds kPollInterval{50};

std::wstring Widen(const std::string& utf8) {
  std::u16string u16 = text::Utf8ToUtf16(utf8);
  return std::wstring(u16.begin(), u16.end());
}

std::string Narrow(const std::wstring& wide) {
  return text::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::string LastErrorText(const char* call) {
  return std::string(call) + " failed with error " + std::to_string(GetLastError());
}

// The window's text through WM_GETTEXT: a plain GetWindowTextW does not ask a
// control of another process for its contents.
std::wstring WindowTextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                           &length))
    throw HarnessError(LastErrorText("WM_GETTEXTLENGTH"));
  // Room for a text that grew between the two messages: the launcher
  // changes its texts while it works, and a buffer of the old length would
  // give a cut text.
  std::wstring buffer(2 * static_cast<size_t>(length) + 4096, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &copied))
    throw HarnessError(LastErrorText("WM_GETTEXT"));
  buffer.resize(std::min<size_t>(copied, buffer.size() - 1));
  return buffer;
}

std::wstring ClassNameOf(HWND window) {
  wchar_t name[64] = {};
  int n = GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

// The control `id` of a dialog; when nested windows share the id (the edit
// box inside a combo box), the innermost one.
HWND InnermostItem(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  if (!item)
    throw HarnessError("the dialog has no control with id " + std::to_string(id));
  while (HWND inner = GetDlgItem(item, id))
    item = inner;
  return item;
}

// Top-level windows of one process that satisfy `accept`; the first one wins.
HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)>& accept) {
  struct Search {
    DWORD processId;
    const std::function<bool(HWND)>* accept;
    HWND found;
  } search{processId, &accept, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->processId || !(*s->accept)(window))
          return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool StartsWith(const std::wstring& s, const std::wstring& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The caller's environment with KLOX_DATA_DIR replaced or removed and the
// extra variables set, as the sorted, double-NUL-terminated block that
// CreateProcessW takes.
std::wstring EnvironmentBlock(const std::optional<std::wstring>& kloxDataDir,
                              const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
  auto named = [](const std::wstring& entry, const std::wstring& name) {
    if (entry.size() <= name.size() || entry[name.size()] != L'=')
      return false;
    return std::equal(name.begin(), name.end(), entry.begin(),
                      [](wchar_t a, wchar_t b) { return std::towupper(a) == std::towupper(b); });
  };
  std::vector<std::pair<std::wstring, std::wstring>> set = extra;
  const std::wstring klox = L"KLOX_DATA_DIR";
  auto replaced = [&](const std::wstring& entry) {
    if (named(entry, klox))
      return true;
    for (const auto& [name, value] : set)
      if (named(entry, name))
        return true;
    return false;
  };

  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
      std::wstring entry(p);
      if (!replaced(entry))
        entries.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  if (kloxDataDir)
    entries.push_back(klox + L"=" + *kloxDataDir);
  for (const auto& [name, value] : set)
    entries.push_back(name + L"=" + value);
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
  });

  std::wstring result;
  for (const std::wstring& entry : entries) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

} // namespace

std::filesystem::path LauncherExePath() {
  return WindowsPath(VELTRA_LAUNCHER_EXE);
}

std::filesystem::path WindowsPath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.size() > 1 && wide[1] == L':')
    return wide;
  // Wine maps the Linux root to drive Z:. Wine's file dialogs take only
  // backslashes in a typed path, so none of the other kind is left.
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return L"Z:" + wide;
}

std::string FileContents(const std::filesystem::path& file) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw HarnessError(LastErrorText("CreateFileW") + " for " + file.string());
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(h);
  return bytes;
}

// --- CleanAppFolder ---

CleanAppFolder::CleanAppFolder() {
  wchar_t common[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
    throw HarnessError("the common application-data folder is unknown");
  path_ = std::filesystem::path(common) / L"Veltra Dynamic Remote HMI";
  wchar_t local[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)))
    throw HarnessError("the local application-data folder is unknown");
  userPath_ = std::filesystem::path(local) / L"Veltra Dynamic Remote HMI";
  for (const std::filesystem::path& folder : {path_, userPath_}) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (ec)
      throw HarnessError("cannot remove " + folder.string() + ": " + ec.message());
  }
}

CleanAppFolder::~CleanAppFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  std::filesystem::remove_all(userPath_, ec);
}

std::vector<std::filesystem::path> CleanAppFolder::Files() const {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec))
    return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_))
    if (entry.is_regular_file())
      files.push_back(entry.path().lexically_relative(path_));
  std::sort(files.begin(), files.end());
  return files;
}

std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return arg;
  // Backslashes are literal unless they precede a quote; there (and before
  // the closing quote) each one must be doubled.
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               HANDLE process) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    if (condition())
      return true;
    if (Clock::now() >= deadline)
      return false;
    if (process) {
      if (WaitForSingleObject(process, static_cast<DWORD>(kPollInterval.count())) == WAIT_OBJECT_0)
        return condition(); // the process is gone: nothing will change any more
    } else {
      std::this_thread::sleep_for(kPollInterval);
    }
  }
}

// --- TempFolder ---

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate =
        base / (L"veltra-wine-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw HarnessError("cannot create a temporary folder under " + base.string());
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempFolder::WriteFile(const std::filesystem::path& name,
                                            const std::string& bytes) {
  std::filesystem::path file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw HarnessError(LastErrorText("CreateFileW") + " for " + file.string());
  DWORD written = 0;
  BOOL ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  if (!ok || written != bytes.size())
    throw HarnessError("cannot write " + file.string());
  return file;
}

// --- Launcher ---

Launcher::Launcher(const LaunchOptions& options) {
  if (options.workingDirectory.empty()) {
    ownWorkingDirectory_.emplace();
    workingDirectory_ = ownWorkingDirectory_->Path();
  } else {
    workingDirectory_ = options.workingDirectory;
  }
  const std::filesystem::path exe = options.exe.empty() ? LauncherExePath() : options.exe;

  std::wstring commandLine = QuoteArgument(exe.wstring());
  for (const std::wstring& arg : options.args)
    commandLine += L" " + QuoteArgument(arg);
  std::wstring environment = EnvironmentBlock(options.kloxDataDir, options.environment);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, environment.data(), workingDirectory_.c_str(),
                      &startup, &process_))
    throw HarnessError(LastErrorText("CreateProcessW") + " for " + exe.string());
  processId_ = process_.dwProcessId;
}

Launcher::~Launcher() {
  if (Running()) {
    HWND window = window_ ? window_ : FindWindowOfProcess();
    if (window)
      PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, 10000);
    }
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool Launcher::WaitForExit(std::chrono::milliseconds timeout) {
  return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) ==
         WAIT_OBJECT_0;
}

bool Launcher::Running() const {
  return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void Launcher::Fail(const std::string& what) {
  std::string state;
  DWORD code = 0;
  if (Running())
    state = "the launcher is still running";
  else if (GetExitCodeProcess(process_.hProcess, &code))
    state = "the launcher has exited with code " + std::to_string(code);
  throw HarnessError(what + " (" + state + ")");
}

HWND Launcher::FindWindowOfProcess() {
  return FindTopLevel(processId_, [](HWND window) {
    wchar_t caption[128] = {};
    // Reading a top-level window's caption needs no message to its process.
    GetWindowTextW(window, caption, static_cast<int>(std::size(caption)));
    return StartsWith(caption, kWindowCaptionPrefix);
  });
}

HWND Launcher::Window(std::chrono::milliseconds timeout) {
  if (window_ && IsWindow(window_))
    return window_;
  window_ = nullptr;
  if (!WaitUntil([&] { return (window_ = FindWindowOfProcess()) != nullptr; }, timeout,
                 process_.hProcess))
    Fail("the login window did not appear within " + std::to_string(timeout.count()) + " ms");
  return window_;
}

HWND Launcher::WaitUntilShown(std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  HWND window = Window(timeout);
  auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (!WaitUntil([&] { return IsWindowVisible(window) != FALSE; },
                 std::max(rest, std::chrono::milliseconds(0)), process_.hProcess)) {
    std::string detail;
    if (HWND box = FindMessageBox())
      detail = "; a message box says: " + MessageBoxText(box);
    Fail("the login window was not shown within " + std::to_string(timeout.count()) + " ms" +
         detail);
  }
  return window;
}

bool Launcher::WindowVisible() {
  return IsWindowVisible(Window()) != FALSE;
}

HWND Launcher::Control(int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  // Enumerates all descendants: a radio item may sit inside its group box.
  EnumChildWindows(
      Window(),
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (GetDlgCtrlID(child) != s->id)
          return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (!search.found)
    Fail("the login window has no control with id " + std::to_string(id));
  return search.found;
}

std::string Launcher::Caption() {
  return Narrow(WindowTextOf(Window()));
}

std::string Launcher::Text(plat::ControlId control) {
  return Narrow(WindowTextOf(Control(static_cast<int>(control))));
}

std::string Launcher::StatusPart(int part) {
  HWND bar = Control(static_cast<int>(plat::ControlId::statusBar));
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0, SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &length))
    throw HarnessError(LastErrorText("SB_GETTEXTLENGTHW"));
  // The launcher changes the text while it works, and SB_GETTEXTW copies
  // the text of its moment whole, however long: the buffer leaves room for a
  // text that grew since its length was asked (a buffer of the old length
  // gave "0" for "0.0 of 0.1 MB (0%)").
  const size_t chars = 2 * static_cast<size_t>(LOWORD(length)) + 4096;
  // The status bar writes into a buffer of its own process.
  HANDLE process = process_.hProcess;
  void* remote = VirtualAllocEx(process, nullptr, chars * sizeof(wchar_t), MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
  if (remote == nullptr)
    throw HarnessError(LastErrorText("VirtualAllocEx"));
  std::wstring text(chars, L'\0');
  DWORD_PTR ignored = 0;
  bool sent = SendMessageTimeoutW(bar, SB_GETTEXTW, static_cast<WPARAM>(part),
                                  reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG,
                                  kMessageTimeoutMs, &ignored) != 0;
  SIZE_T read = 0;
  bool copied =
      sent && ReadProcessMemory(process, remote, text.data(), chars * sizeof(wchar_t), &read) != 0;
  std::string why = copied ? "" : LastErrorText(sent ? "ReadProcessMemory" : "SB_GETTEXTW");
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  if (!copied)
    throw HarnessError(why);
  text.resize(std::wcslen(text.c_str()));
  return Narrow(text);
}

bool Launcher::Visible(plat::ControlId control) {
  return IsWindowVisible(Control(static_cast<int>(control))) != FALSE;
}

bool Launcher::Enabled(plat::ControlId control) {
  return IsWindowEnabled(Control(static_cast<int>(control))) != FALSE;
}

int Launcher::CheckedMode() {
  for (int i = 0; i < plat::kOperationalModeCount; ++i) {
    DWORD_PTR state = 0;
    if (!SendMessageTimeoutW(Control(plat::kRadioItemBase + i), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &state))
      throw HarnessError(LastErrorText("BM_GETCHECK"));
    if (state == BST_CHECKED)
      return i;
  }
  return -1;
}

void Launcher::SetText(plat::ControlId control, const std::string& text) {
  std::wstring wide = Widen(text);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(Control(static_cast<int>(control)), WM_SETTEXT, 0,
                           reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &result) ||
      !result)
    throw HarnessError(LastErrorText("WM_SETTEXT"));
}

// Posted, not sent: a handler that opens a modal box would otherwise hold the
// test until someone answers it.
void Launcher::Click(plat::ControlId control) {
  if (!PostMessageW(Control(static_cast<int>(control)), BM_CLICK, 0, 0))
    throw HarnessError(LastErrorText("PostMessageW(BM_CLICK)"));
}

void Launcher::ClickMode(int index) {
  if (!PostMessageW(Control(plat::kRadioItemBase + index), BM_CLICK, 0, 0))
    throw HarnessError(LastErrorText("PostMessageW(BM_CLICK)"));
}

HWND Launcher::FindMessageBox() {
  return FindTopLevel(processId_, [&](HWND window) {
    return window != window_ && IsWindowVisible(window) && ClassNameOf(window) == kMessageBoxClass;
  });
}

HWND Launcher::WaitForMessageBox(std::chrono::milliseconds timeout) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindMessageBox()) != nullptr; }, timeout, process_.hProcess))
    Fail("no message box appeared within " + std::to_string(timeout.count()) + " ms");
  return box;
}

std::string Launcher::MessageBoxCaption(HWND box) {
  return Narrow(WindowTextOf(box));
}

std::string Launcher::MessageBoxText(HWND box) {
  HWND text = GetDlgItem(box, kMessageBoxTextId);
  if (!text)
    throw HarnessError("the message box has no text control");
  return Narrow(WindowTextOf(text));
}

void Launcher::PressOk(HWND box) {
  if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                    reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK))))
    throw HarnessError(LastErrorText("PostMessageW(WM_COMMAND IDOK)"));
  if (!WaitUntil([&] { return !IsWindow(box); }, kDefaultDeadline, process_.hProcess))
    Fail("the message box did not close after OK");
}

HWND Launcher::FindDialog(const std::string& caption) {
  const std::wstring wanted = Widen(caption);
  return FindTopLevel(processId_, [&](HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return window != window_ && IsWindowVisible(window) && wanted == text;
  });
}

HWND Launcher::WaitForDialog(const std::string& caption, std::chrono::milliseconds timeout) {
  HWND dialog = nullptr;
  if (!WaitUntil([&] { return (dialog = FindDialog(caption)) != nullptr; }, timeout,
                 process_.hProcess))
    Fail("no window \"" + caption + "\" appeared within " + std::to_string(timeout.count()) +
         " ms");
  return dialog;
}

void Launcher::SetDialogItemText(HWND dialog, int id, const std::string& text) {
  std::wstring wide = Widen(text);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(InnermostItem(dialog, id), WM_SETTEXT, 0,
                           reinterpret_cast<LPARAM>(wide.c_str()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &result) ||
      !result)
    throw HarnessError(LastErrorText("WM_SETTEXT"));
}

std::string Launcher::DialogItemText(HWND dialog, int id) {
  return Narrow(WindowTextOf(InnermostItem(dialog, id)));
}

void Launcher::ClickDialogButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button)
    throw HarnessError("the dialog has no button with id " + std::to_string(id));
  if (!PostMessageW(button, BM_CLICK, 0, 0))
    throw HarnessError(LastErrorText("PostMessageW(BM_CLICK)"));
}

void Launcher::WaitUntilGone(HWND window, std::chrono::milliseconds timeout) {
  if (!WaitUntil([&] { return !IsWindow(window); }, timeout, process_.hProcess))
    Fail("a window of the launcher did not close within " + std::to_string(timeout.count()) +
         " ms");
}

void Launcher::WaitUntilIdle(std::chrono::milliseconds timeout) {
  for (int round = 0; round < 2; ++round) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(Window(), WM_NULL, 0, 0, SMTO_NORMAL,
                             static_cast<UINT>(timeout.count()), &result))
      Fail("the launcher's window did not answer within " + std::to_string(timeout.count()) +
           " ms");
  }
}

DWORD Launcher::Close(std::chrono::milliseconds timeout) {
  if (Running()) {
    if (!PostMessageW(Window(timeout), WM_CLOSE, 0, 0))
      throw HarnessError(LastErrorText("PostMessageW(WM_CLOSE)"));
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0)
      Fail("the launcher did not end within " + std::to_string(timeout.count()) +
           " ms of WM_CLOSE");
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.hProcess, &code))
    throw HarnessError(LastErrorText("GetExitCodeProcess"));
  return code;
}

} // namespace winetest
