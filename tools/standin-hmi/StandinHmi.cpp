// A stand-in for the remote HMI, for tests and the demo: it carries the name
// bin\javaw.exe in a JRE image and does, towards the launcher, what the real
// HMI does: it takes the Java command line, asks whether to trust the
// device's certificate in a window titled "Warning" while no trust record
// exists, writes the record on Accept, then shows a login window that takes
// characters, Tab and Enter from another process. Everything it sees goes to
// a journal (see Journal.h and README.md); settings in standin.ini or the
// environment make it misbehave on purpose.
#include "tools/standin-hmi/Journal.h"
#include "tools/standin-hmi/StandinConfig.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

using standin::Fields;

constexpr const wchar_t* kTrustKey = L"SOFTWARE\\Norwick\\Energy\\Automation\\TLS";
constexpr const wchar_t* kPromptClass = L"StandinHmiPrompt";
constexpr const wchar_t* kLoginClass = L"StandinHmiLogin";
constexpr const wchar_t* kPromptTitle = L"Warning";

// Control ids, fixed so that a test may also click or read a control.
constexpr int kPromptTextId = 201;
constexpr int kUserEditId = 101;
constexpr int kPasswordEditId = 102;
constexpr int kLoggedInTextId = 103;

constexpr int kExitOk = 0;
constexpr int kExitNow = 3;
constexpr int kExitNoWindow = 4;

enum Field { kUser = 0, kPassword = 1, kOk = 2, kFieldCount = 3 };
const wchar_t* const kFieldNames[] = {L"user", L"password", L"ok"};

struct App {
  HINSTANCE instance = nullptr;
  standin::Journal journal;
  standin::Arguments args;
  standin::Settings settings;
  std::wstring host;
  std::wstring trustName;

  HWND prompt = nullptr;
  HWND login = nullptr;
  HWND fields[kFieldCount] = {};
  std::vector<HWND> labels;
  HWND loggedInText = nullptr;

  // The field that has the login window's focus. Kept here rather than asked
  // of the system: the window is driven while another program is in the
  // foreground, where the system's keyboard focus says nothing about it.
  int field = kUser;
  bool placed = false; // the login window is on screen; later moves count
  bool enterDown = false;
  bool loggedIn = false;
  bool hung = false; // hang_ms has been served; the window hangs only once

  UINT_PTR delayTimer = 0;
  UINT_PTR promptTimer = 0;
  UINT_PTR lifetimeTimer = 0;

  bool quitting = false;
  int exitCode = kExitOk;
};

App app;

std::wstring FieldName() {
  if (app.loggedIn)
    return L"none";
  return kFieldNames[app.field];
}

void Quit(const wchar_t* reason, int code) {
  if (app.quitting)
    return;
  app.quitting = true;
  app.exitCode = code;
  app.journal.Write("exit", {{"code", std::to_wstring(code)}, {"reason", reason}});
  PostQuitMessage(code);
}

void StopTimer(UINT_PTR& timer) {
  if (timer)
    KillTimer(nullptr, timer);
  timer = 0;
}

void FailWindow(const wchar_t* call) {
  app.journal.Write("error", {{"call", call}, {"code", std::to_wstring(GetLastError())}});
  Quit(L"error", kExitNoWindow);
}

// Centred on the primary screen, as a Java window places itself; the
// position in the start-up information is left unused, as Java does.
POINT CentredOrigin(int width, int height) {
  return {(GetSystemMetrics(SM_CXSCREEN) - width) / 2,
          (GetSystemMetrics(SM_CYSCREEN) - height) / 2};
}

// A top-level window is made without its title and gets it once its
// controls exist: whoever looks for the window by its title (the launcher, a
// test) finds it complete. Found earlier, a prompt would have no Accept or
// Reject yet, and a click aimed at one would reach nobody. The title still
// comes before the window is shown, as a Java window has its title when it
// appears: the launcher looks for the HMI's windows again when its own window
// loses the activation to them, and one still without its title then is
// not seen until the launcher's wait ends.
void Entitle(HWND window, const std::wstring& title) {
  SetWindowTextW(window, title.c_str());
}

HWND AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y,
                int w, int h, int id, DWORD exStyle = 0) {
  HWND control =
      CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), app.instance, nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               TRUE);
  return control;
}

// --- Login window -----------------------------------------------------------

void FocusField(int field) {
  app.field = field;
  SetFocus(app.fields[field]);
}

std::wstring ControlText(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  int n = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

void Submit() {
  if (app.loggedIn)
    return;
  std::wstring user = ControlText(app.fields[kUser]);
  std::wstring password = ControlText(app.fields[kPassword]);
  app.journal.Write("submit", {{"user", user}, {"password", password}});
  app.loggedIn = true;
  for (HWND control : app.fields)
    ShowWindow(control, SW_HIDE);
  for (HWND label : app.labels)
    ShowWindow(label, SW_HIDE);
  SetWindowTextW(app.loggedInText, (L"Logged in as " + user).c_str());
  ShowWindow(app.loggedInText, SW_SHOW);
  std::wstring title = L"HMI (" + app.host + L")";
  SetWindowTextW(app.login, title.c_str());
  app.journal.Write("logged-in", {{"title", title}});
}

// The window's thread blocks for `ms`, as the UI thread of an HMI stuck in
// work of its own: nothing sent to the window is handled meanwhile (a sender
// waits or times out) and posted messages queue up. The character that set
// it off has been taken, so its sender gets its answer first.
void Hang(unsigned ms) {
  app.hung = true;
  app.journal.Write("hang", {{"ms", std::to_wstring(ms)}});
  ReplyMessage(0);
  Sleep(ms);
  app.journal.Write("hang-end");
}

LRESULT CALLBACK LoginProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_CHAR: {
    // Characters sent to the window go into the focused field, as they do
    // in the HMI's own login window; a focused button takes none.
    app.journal.Write("char", {{"field", FieldName()},
                               {"code", std::to_wstring(wParam)},
                               {"text", std::wstring(1, static_cast<wchar_t>(wParam))},
                               {"rect", standin::RectText(hwnd)}});
    if (!app.loggedIn && app.field != kOk)
      SendMessageW(app.fields[app.field], WM_CHAR, wParam, lParam);
    if (app.settings.hangMs > 0 && !app.hung)
      Hang(app.settings.hangMs);
    return 0;
  }
  case WM_KEYDOWN:
    app.journal.Write("key-down", {{"key", std::to_wstring(wParam)},
                                   {"field", FieldName()},
                                   {"rect", standin::RectText(hwnd)}});
    if (wParam == VK_TAB && !app.loggedIn) {
      FocusField((app.field + 1) % kFieldCount);
      app.journal.Write("focus", {{"field", FieldName()}});
    } else if (wParam == VK_RETURN) {
      app.enterDown = true;
    }
    return 0;
  case WM_KEYUP:
    app.journal.Write("key-up", {{"key", std::to_wstring(wParam)},
                                 {"field", FieldName()},
                                 {"rect", standin::RectText(hwnd)}});
    // The default button acts on the release of Enter that follows its press.
    if (wParam == VK_RETURN && app.enterDown) {
      app.enterDown = false;
      Submit();
    }
    return 0;
  case WM_SETFOCUS:
    app.journal.Write("set-focus", {{"field", FieldName()}, {"rect", standin::RectText(hwnd)}});
    if (!app.loggedIn)
      SetFocus(app.fields[app.field]);
    return 0;
  case WM_COMMAND: {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (id == IDOK && code == BN_CLICKED) {
      Submit();
    } else if (code == EN_SETFOCUS || code == BN_SETFOCUS) {
      for (int f = 0; f < kFieldCount; ++f)
        if (app.fields[f] == reinterpret_cast<HWND>(lParam))
          app.field = f;
    }
    return 0;
  }
  case WM_WINDOWPOSCHANGING: {
    auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
    if (app.settings.refuseMove && app.placed && !(pos->flags & SWP_NOMOVE)) {
      RECT r{};
      GetWindowRect(hwnd, &r);
      if (pos->x != r.left || pos->y != r.top)
        app.journal.Write("move-refused", {{"x", std::to_wstring(pos->x)},
                                           {"y", std::to_wstring(pos->y)},
                                           {"rect", standin::RectText(hwnd)}});
      pos->flags |= SWP_NOMOVE;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  case WM_WINDOWPOSCHANGED: {
    auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
    if (app.placed && !(pos->flags & SWP_NOMOVE))
      app.journal.Write("moved", {{"rect", standin::RectText(hwnd)}});
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  case WM_CLOSE:
    if (app.settings.refuseClose) {
      app.journal.Write("close-refused");
      return 0;
    }
    DestroyWindow(hwnd);
    return 0;
  case WM_DESTROY:
    app.login = nullptr;
    Quit(L"closed", kExitOk);
    return 0;
  default:
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

void ShowLogin() {
  const std::wstring title = app.settings.loginTitle.value_or(L"Login (" + app.host + L")");
  const int width = 380;
  const int height = 230;
  POINT origin = CentredOrigin(width, height);
  app.login =
      CreateWindowExW(0, kLoginClass, L"", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                      origin.x, origin.y, width, height, nullptr, nullptr, app.instance, nullptr);
  if (!app.login) {
    FailWindow(L"CreateWindowExW");
    return;
  }
  app.labels.push_back(AddControl(app.login, L"STATIC", L"User name:", 0, 20, 24, 100, 20, 0));
  app.fields[kUser] = AddControl(app.login, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                                 130, 20, 210, 24, kUserEditId, WS_EX_CLIENTEDGE);
  app.labels.push_back(AddControl(app.login, L"STATIC", L"Password:", 0, 20, 64, 100, 20, 0));
  app.fields[kPassword] =
      AddControl(app.login, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD,
                 130, 60, 210, 24, kPasswordEditId, WS_EX_CLIENTEDGE);
  app.fields[kOk] = AddControl(app.login, L"BUTTON", L"OK",
                               WS_TABSTOP | BS_DEFPUSHBUTTON | BS_NOTIFY, 240, 120, 100, 30, IDOK);
  app.loggedInText = AddControl(app.login, L"STATIC", L"", 0, 20, 24, 320, 20, kLoggedInTextId);
  ShowWindow(app.loggedInText, SW_HIDE);

  Entitle(app.login, title);
  ShowWindow(app.login, SW_SHOWNORMAL);
  UpdateWindow(app.login);
  FocusField(kUser);
  app.placed = true;
  app.journal.Write("login-shown", {{"title", title}, {"rect", standin::RectText(app.login)}});
}

// --- Certificate prompt -----------------------------------------------------

void ClosePrompt() {
  StopTimer(app.promptTimer);
  HWND prompt = app.prompt;
  app.prompt = nullptr;
  if (prompt)
    DestroyWindow(prompt);
  ShowLogin();
}

void Accept(const wchar_t* by) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kTrustKey, 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    static const wchar_t kData[] = L"trusted";
    status = RegSetValueExW(key, app.trustName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(kData), sizeof kData);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS)
    app.journal.Write("trust-write-failed", {{"code", std::to_wstring(status)}});
  app.journal.Write("prompt-accepted", {{"name", app.trustName}, {"by", by}});
  ClosePrompt();
}

void Reject(const wchar_t* by) {
  app.journal.Write("prompt-rejected", {{"name", app.trustName}, {"by", by}});
  ClosePrompt();
}

LRESULT CALLBACK PromptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_COMMAND:
    if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK)
      Accept(L"button");
    else if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL)
      Reject(L"button");
    return 0;
  case WM_CLOSE:
    Reject(L"close");
    return 0;
  default:
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD);

void ShowPrompt() {
  const int width = 460;
  const int height = 170;
  POINT origin = CentredOrigin(width, height);
  app.prompt =
      CreateWindowExW(0, kPromptClass, L"", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, origin.x,
                      origin.y, width, height, nullptr, nullptr, app.instance, nullptr);
  if (!app.prompt) {
    FailWindow(L"CreateWindowExW");
    return;
  }
  std::wstring text =
      L"The certificate presented by " + app.trustName + L" is not trusted. Accept it and connect?";
  AddControl(app.prompt, L"STATIC", text.c_str(), 0, 20, 20, 410, 50, kPromptTextId);
  AddControl(app.prompt, L"BUTTON", L"Accept", WS_TABSTOP | BS_DEFPUSHBUTTON, 220, 84, 100, 30,
             IDOK);
  AddControl(app.prompt, L"BUTTON", L"Reject", WS_TABSTOP, 330, 84, 100, 30, IDCANCEL);
  Entitle(app.prompt, kPromptTitle);
  ShowWindow(app.prompt, SW_SHOWNORMAL);
  UpdateWindow(app.prompt);
  app.journal.Write("prompt-shown",
                    {{"name", app.trustName}, {"rect", standin::RectText(app.prompt)}});
  if (app.settings.autoAccept || app.settings.autoReject)
    app.promptTimer = SetTimer(nullptr, 0, app.settings.promptMs, OnTimer);
}

// --- Start-up ---------------------------------------------------------------

bool TrustRecordExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kTrustKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  bool exists = RegQueryValueExW(key, app.trustName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS;
  RegCloseKey(key);
  return exists;
}

void ShowFirstWindow() {
  const bool trusted = TrustRecordExists();
  app.journal.Write("trust-check", {{"name", app.trustName}, {"found", trusted ? L"1" : L"0"}});
  if (trusted)
    ShowLogin();
  else
    ShowPrompt();
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (id == app.delayTimer) {
    StopTimer(app.delayTimer);
    ShowFirstWindow();
  } else if (id == app.promptTimer) {
    StopTimer(app.promptTimer);
    // Accept wins when both are set: it is the answer the launcher waits for.
    if (app.settings.autoAccept)
      Accept(L"auto");
    else
      Reject(L"auto");
  } else if (id == app.lifetimeTimer) {
    StopTimer(app.lifetimeTimer);
    Quit(L"lifetime", kExitOk);
  }
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0)
      return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring ModuleDirectory() {
  std::wstring path = ModulePath();
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FromUtf8(const std::string& bytes) {
  if (bytes.empty())
    return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  return text;
}

// The settings file beside the program, UTF-8 with or without a byte-order
// mark; empty when there is none.
std::wstring ReadIniText(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return {};
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(h, buffer, sizeof buffer, &read, nullptr) && read > 0 && bytes.size() < 65536)
    bytes.append(buffer, read);
  CloseHandle(h);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    bytes.erase(0, 3);
  return FromUtf8(bytes);
}

std::vector<std::pair<std::wstring, std::wstring>> StandinEnvironment() {
  std::vector<std::pair<std::wstring, std::wstring>> found;
  const std::wstring prefix = standin::AsciiLower(standin::kEnvPrefix);
  wchar_t* block = GetEnvironmentStringsW();
  if (!block)
    return found;
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    std::wstring entry(p);
    size_t eq = entry.find(L'=', 1); // "=C:=..." entries begin with '='
    if (eq == std::wstring::npos)
      continue;
    std::wstring name = entry.substr(0, eq);
    if (standin::AsciiLower(name.substr(0, prefix.size())) == prefix)
      found.emplace_back(name, entry.substr(eq + 1));
  }
  FreeEnvironmentStringsW(block);
  return found;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0)
    return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return full;
}

std::wstring CurrentDirectory() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  std::wstring dir(n, L'\0');
  n = GetCurrentDirectoryW(n, dir.data());
  dir.resize(n);
  return dir;
}

bool RegisterClasses() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = app.instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpfnWndProc = PromptProc;
  wc.lpszClassName = kPromptClass;
  if (!RegisterClassExW(&wc))
    return false;
  wc.lpfnWndProc = LoginProc;
  wc.lpszClassName = kLoginClass;
  return RegisterClassExW(&wc) != 0;
}

void JournalStart(const std::wstring& journalPath, const standin::LoadedSettings& loaded) {
  std::wstring exe = ModuleDirectory();
  app.journal.Write("start", {{"dir", exe}, {"cwd", CurrentDirectory()}, {"journal", journalPath}});
  app.journal.Write("cmdline", {{"raw", GetCommandLineW()}});
  for (const standin::ArgEntry& e : app.args.entries) {
    Fields fields;
    if (e.name)
      fields.emplace_back("name", *e.name);
    if (e.value)
      fields.emplace_back("value", *e.value);
    app.journal.Write(std::string(e.kind.begin(), e.kind.end()), fields);
  }
  for (const standin::SettingNote& note : loaded.notes) {
    std::string kind(note.kind.begin(), note.kind.end());
    app.journal.Write(kind, {{"name", note.name}, {"value", note.value}, {"source", note.source}});
  }
}

// Starts a copy of this program with the same command line, working
// directory and environment, except that the copy starts none itself; it
// shows the windows, as the real program that a first one hands over to.
void StartChild() {
  SetEnvironmentVariableW(L"VELTRA_STANDIN_START_CHILD", L"0");
  const std::wstring program = ModulePath();
  std::wstring commandLine = GetCommandLineW();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    app.journal.Write("child-failed", {{"code", std::to_wstring(GetLastError())}});
    Quit(L"error", kExitNoWindow);
    return;
  }
  app.journal.Write("child-started", {{"pid", std::to_wstring(info.dwProcessId)}});
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  Quit(L"child", kExitOk);
}

int Run(HINSTANCE instance) {
  app.instance = instance;

  std::vector<std::wstring> args;
  int argc = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i)
      args.emplace_back(argv[i]);
    LocalFree(argv);
  }
  app.args = standin::ParseArguments(args);
  app.host = app.args.host.value_or(L"");
  app.trustName = app.args.TrustValueName();

  standin::LoadedSettings loaded = standin::LoadSettings(
      ReadIniText(ModuleDirectory() + L"\\standin.ini"), StandinEnvironment());
  app.settings = loaded.settings;

  const std::wstring journalPath =
      FullPath(app.settings.journal.empty() ? L"standin-journal.txt" : app.settings.journal);
  app.journal.Open(journalPath);
  JournalStart(journalPath, loaded);

  if (app.settings.exitNow) {
    Quit(L"exit_now", kExitNow);
    return app.exitCode;
  }
  if (app.settings.startChild) {
    StartChild();
    return app.exitCode;
  }
  if (!RegisterClasses()) {
    FailWindow(L"RegisterClassExW");
    return app.exitCode;
  }
  if (app.settings.lifetimeMs)
    app.lifetimeTimer = SetTimer(nullptr, 0, *app.settings.lifetimeMs, OnTimer);

  if (app.settings.noWindow) {
    app.journal.Write("no-window");
  } else if (app.settings.delayMs > 0) {
    app.journal.Write("delay", {{"ms", std::to_wstring(app.settings.delayMs)}});
    app.delayTimer = SetTimer(nullptr, 0, app.settings.delayMs, OnTimer);
  } else {
    ShowFirstWindow();
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Keys that reach the login window itself are its own to interpret;
    // translating them would add a character for every Tab and Enter.
    if (!app.login || msg.hwnd != app.login)
      TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return app.exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return Run(instance);
}
