// The whole launch as an operator sees it: the real launcher signs in to the
// device simulator, installs the images it serves into an emptied cache,
// starts the HMI they carry (the stand-in, tools/standin-hmi/) and follows
// its certificate prompt and login window. The tests type into the
// launcher's boxes and press Launch, answer its boxes, and then read what the
// HMI saw in its journal: its command line, the prompt, the characters and
// keys that reached its login window and where that window was meanwhile.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"
#include "tests/wine/StandinJournal.h"

#include "common/Text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace {

namespace fs = std::filesystem;

using winetest::EventNames;
using winetest::JournalLine;
using winetest::Only;
using winetest::ReadJournal;

using plat::ControlId;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using winetest::CleanAppFolder;
using winetest::CountOf;
using winetest::DeviceSimulator;
using winetest::DeviceSimulatorOptions;
using winetest::Launcher;
using winetest::Paths;
using winetest::RecordedRequest;
using winetest::TempFolder;
using winetest::WaitUntil;

constexpr const wchar_t* kTrustKey = L"SOFTWARE\\Norwick\\Energy\\Automation\\TLS";
constexpr const char* kSessionCookie = "R930::AuthCookieHandler_R930HMI";
constexpr const char* kCaption = "Veltra Dynamic Remote HMI";
constexpr const char* kHost = "127.0.0.1";
constexpr const char* kEmergencyCode = "EMERG-123456"; // the simulator's default code

constexpr const char* kLogin = "/LOGIN";
constexpr const char* kInfoExt = "/cgi-bin/infoExt.cgi";
constexpr const char* kLogout = "/LOGOUT";

constexpr int kOffScreen = 20000;
constexpr int kVkTab = 9;
constexpr int kVkReturn = 13;

// A launch runs for up to 3.5 s (prompt) + 10 s (login window) + pauses
// after verification; this leaves ample room on a busy machine.
constexpr std::chrono::seconds kLaunchDeadline{60};
// Whatever happens to a test, a stand-in it started ends by itself.
constexpr const wchar_t* kStandinLifetimeMs = L"120000";

std::wstring Widen(const std::string& utf8) {
  std::u16string u16 = text::Utf8ToUtf16(utf8);
  return std::wstring(u16.begin(), u16.end());
}

// --- The stand-in's journal -----------------------------------------------------

// The code units typed into `field` of the login window.
std::wstring TypedInto(const std::vector<JournalLine>& lines, const std::string& field) {
  std::wstring units;
  for (const JournalLine& l : Only(lines, "char"))
    if (l.Get("field") == field)
      units += static_cast<wchar_t>(std::stoul(l.Get("code")));
  return units;
}

// "key field" of each key-down, e.g. "9 user".
std::vector<std::string> KeyDowns(const std::vector<JournalLine>& lines) {
  std::vector<std::string> keys;
  for (const JournalLine& l : Only(lines, "key-down"))
    keys.push_back(l.Get("key") + " " + l.Get("field"));
  return keys;
}

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// A journal rectangle "left,top,right,bottom".
Rect ParseRect(const std::string& text) {
  std::vector<std::string> parts = text::Split(text, ',');
  if (parts.size() != 4)
    throw winetest::HarnessError("not a rectangle: " + text);
  return {std::stoi(parts[0]), std::stoi(parts[1]), std::stoi(parts[2]), std::stoi(parts[3])};
}

// --- What each test sets up and takes down ----------------------------------------

// The trust record of one device address, absent before the test and after it.
class TrustValue {
public:
  explicit TrustValue(std::wstring name) : name_(std::move(name)) { Delete(); }
  ~TrustValue() { Delete(); }
  TrustValue(const TrustValue&) = delete;
  TrustValue& operator=(const TrustValue&) = delete;

  void Create() const {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kTrustKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      throw winetest::HarnessError("cannot create the trust key");
    const wchar_t data[] = L"trusted";
    const LONG rc = RegSetValueExW(key, name_.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(data), sizeof data);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
      throw winetest::HarnessError("cannot write the trust value");
  }
  bool Exists() const {
    return RegGetValueW(HKEY_CURRENT_USER, kTrustKey, name_.c_str(), RRF_RT_ANY, nullptr, nullptr,
                        nullptr) == ERROR_SUCCESS;
  }

private:
  void Delete() const { RegDeleteKeyValueW(HKEY_CURRENT_USER, kTrustKey, name_.c_str()); }
  std::wstring name_;
};

// Whether the process `pid` runs and is a stand-in (its program is a
// javaw.exe), so that a process id used again by something else is left alone.
HANDLE OpenStandin(DWORD pid, DWORD access) {
  HANDLE process = OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process)
    return nullptr;
  wchar_t image[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const bool isStandin = QueryFullProcessImageNameW(process, 0, image, &size) &&
                         fs::path(image).filename() == L"javaw.exe";
  if (!isStandin) {
    CloseHandle(process);
    return nullptr;
  }
  return process;
}

bool StandinRunning(DWORD pid) {
  HANDLE process = OpenStandin(pid, SYNCHRONIZE);
  if (!process)
    return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

// Ends every stand-in that wrote to the journal and still runs. The launcher
// leaves the HMI running on purpose; the test must not.
class StandinReaper {
public:
  explicit StandinReaper(fs::path journal) : journal_(std::move(journal)) {}
  ~StandinReaper() {
    for (const JournalLine& start : Only(ReadJournal(journal_), "start")) {
      HANDLE process = OpenStandin(start.pid, PROCESS_TERMINATE | SYNCHRONIZE);
      if (!process)
        continue;
      if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 10000);
      }
      CloseHandle(process);
    }
  }
  StandinReaper(const StandinReaper&) = delete;
  StandinReaper& operator=(const StandinReaper&) = delete;

private:
  fs::path journal_;
};

// A login window of an earlier HMI for the same host: a top-level window of
// this test process, on a thread of its own with a message loop. It counts the
// close requests it gets and, when `closes` is false, ignores them.
class OldLoginWindow {
public:
  OldLoginWindow(const std::wstring& title, bool closes) : closes_(closes) {
    std::promise<HWND> made;
    std::future<HWND> window = made.get_future();
    thread_ = std::thread([this, title, &made] { Run(title, made); });
    window_ = window.get();
    if (!window_) {
      thread_.join();
      throw winetest::HarnessError("the old login window could not be made");
    }
  }
  ~OldLoginWindow() {
    // A destroyed window has already ended its loop.
    PostMessageW(window_, kEnd, 0, 0);
    thread_.join();
  }
  OldLoginWindow(const OldLoginWindow&) = delete;
  OldLoginWindow& operator=(const OldLoginWindow&) = delete;

  int CloseRequests() const { return closeRequests_; }
  bool Exists() const { return IsWindow(window_) != FALSE; }

private:
  static constexpr UINT kEnd = WM_APP + 1;
  static constexpr const wchar_t* kClass = L"VeltraTestOldLoginWindow";

  void Run(const std::wstring& title, std::promise<HWND>& made) {
    static std::once_flag registered;
    std::call_once(registered, [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = Proc;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
      wc.lpszClassName = kClass;
      RegisterClassExW(&wc);
    });
    HWND window = CreateWindowExW(0, kClass, title.c_str(), WS_OVERLAPPEDWINDOW, 100, 100, 380, 230,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (window)
      ShowWindow(window, SW_SHOWNOACTIVATE);
    made.set_value(window);
    if (!window)
      return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<OldLoginWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_CLOSE:
      ++self->closeRequests_;
      if (self->closes_)
        DestroyWindow(window);
      return 0;
    case kEnd:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
    }
  }

  const bool closes_;
  std::atomic<int> closeRequests_{0};
  std::thread thread_;
  HWND window_ = nullptr;
};

// A stand-in the test starts itself, apart from any launcher, for the device
// 127.0.0.1:1 (its trust record is removed before and after): another
// program's login window, or an earlier launch's HMI when its program lies in
// the JRE images. It trusts the device by itself, and is ended with the object.
class ApartStandin {
public:
  ApartStandin(const fs::path& program, const fs::path& journal,
               std::vector<std::pair<std::wstring, std::wstring>> settings)
      : journal_(journal), reaper_(journal) {
    settings.emplace_back(L"JOURNAL", journal.wstring());
    settings.emplace_back(L"LIFETIME_MS", kStandinLifetimeMs);
    settings.emplace_back(L"AUTO_ACCEPT", L"1");
    settings.emplace_back(L"PROMPT_MS", L"50");
    // The settings reach it through the environment it inherits; the test's
    // own is put back at once, so that no launcher started later sees them.
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved;
    for (const auto& [name, value] : settings) {
      const std::wstring variable = L"VELTRA_STANDIN_" + name;
      wchar_t old[32768];
      const DWORD n = GetEnvironmentVariableW(variable.c_str(), old, 32768);
      saved.emplace_back(variable,
                         n ? std::optional<std::wstring>(std::wstring(old, n)) : std::nullopt);
      SetEnvironmentVariableW(variable.c_str(), value.c_str());
    }
    std::wstring commandLine =
        winetest::QuoteArgument(program.wstring()) + L" -host 127.0.0.1 -port 1";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const std::wstring folder = program.parent_path().wstring();
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, folder.c_str(), &startup, &info);
    for (const auto& [variable, value] : saved)
      SetEnvironmentVariableW(variable.c_str(), value ? value->c_str() : nullptr);
    if (!started)
      throw winetest::HarnessError("the apart stand-in did not start");
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (!WaitUntil([&] { return !Only(Lines(), "login-shown").empty(); }))
      throw winetest::HarnessError("the apart stand-in shows no login window");
  }
  ApartStandin(const ApartStandin&) = delete;
  ApartStandin& operator=(const ApartStandin&) = delete;

  std::vector<JournalLine> Lines() const { return ReadJournal(journal_); }
  bool Running() const {
    auto starts = Only(Lines(), "start");
    return !starts.empty() && StandinRunning(starts[0].pid);
  }

private:
  fs::path journal_;
  TrustValue trust_{L"127.0.0.1:1"};
  StandinReaper reaper_;
};

// --- The fixture -----------------------------------------------------------------------

DeviceSimulatorOptions ServingTheStandin() {
  DeviceSimulatorOptions options;
  options.filesDir = winetest::WindowsPath(VELTRA_STANDIN_TESTDATA);
  return options;
}

// Members are taken down in reverse order: first the stand-ins, then the
// trust record they may have written, the device, the journal's folder and
// the cache their program runs from.
class LauncherHmi : public testing::Test {
protected:
  LauncherHmi() : device_(ServingTheStandin()), trust_(Widen(HostWithPort())), reaper_(Journal()) {}

  std::string HostWithPort() const {
    return std::string(kHost) + ":" + std::to_string(device_.Port());
  }
  fs::path Journal() const { return temp_.Path() / L"journal.txt"; }
  std::vector<JournalLine> JournalLines() const { return ReadJournal(Journal()); }

  // A launcher whose HMI writes its journal into the test's folder, with
  // stand-in settings (VELTRA_STANDIN_<name>) more.
  std::unique_ptr<Launcher> Start(std::vector<std::pair<std::wstring, std::wstring>> settings = {},
                                  std::vector<std::wstring> args = {}) {
    winetest::LaunchOptions options;
    options.args = std::move(args);
    options.environment = {{L"VELTRA_STANDIN_JOURNAL", Journal().wstring()},
                           {L"VELTRA_STANDIN_LIFETIME_MS", kStandinLifetimeMs}};
    for (auto& [name, value] : settings)
      options.environment.emplace_back(L"VELTRA_STANDIN_" + name, value);
    return std::make_unique<Launcher>(options);
  }

  // The operator fills in the boxes for a mode and presses Launch.
  void TypeAndLaunch(Launcher& launcher, int mode, const std::string& userName,
                     const std::string& password) {
    launcher.WaitUntilShown();
    // The click is posted and the texts are sent, which would overtake it:
    // the mode's own handler runs first, as it would for an operator.
    launcher.ClickMode(mode);
    ASSERT_TRUE(WaitUntil([&] { return launcher.CheckedMode() == mode; }));
    launcher.WaitUntilIdle();
    launcher.SetText(ControlId::edtHost, HostWithPort());
    launcher.SetText(ControlId::edtUserName, userName);
    launcher.SetText(ControlId::edtPassword, password);
    launcher.Click(ControlId::btnLaunch);
  }

  // The launcher has closed by itself, with no box left open and no crash.
  void ExpectLauncherClosedByItself(Launcher& launcher) {
    ASSERT_TRUE(launcher.WaitForExit(kLaunchDeadline))
        << (launcher.FindMessageBox()
                ? "a box is open: " + Launcher::MessageBoxText(launcher.FindMessageBox())
                : std::string("no box is open"));
    EXPECT_EQ(launcher.Close(), 0u);
  }

  // The journal of the one stand-in the launch started, once it holds `event`.
  std::vector<JournalLine> StandinJournalWith(const std::string& event) {
    std::vector<JournalLine> lines;
    const bool seen = WaitUntil([&] {
      lines = JournalLines();
      return !Only(lines, event).empty();
    });
    EXPECT_TRUE(seen) << "no " << event << " in the journal: " << testing::PrintToString(lines);
    EXPECT_EQ(Only(lines, "start").size(), 1u) << "one HMI per launch";
    return lines;
  }

  // The typed fields at submit, and every character and key of them
  // delivered while the login window was off-screen at its own size.
  static void ExpectTypedOffScreen(const std::vector<JournalLine>& lines, const std::string& user,
                                   const std::string& password) {
    const auto submit = Only(lines, "submit");
    ASSERT_EQ(submit.size(), 1u);
    EXPECT_EQ(submit[0].Get("user"), user);
    EXPECT_EQ(submit[0].Get("password"), password);
    EXPECT_EQ(TypedInto(lines, "user"), Widen(user));
    EXPECT_EQ(TypedInto(lines, "password"), Widen(password));
    EXPECT_EQ(TypedInto(lines, "ok"), L"");
    // Tab in the user name, Tab in the password, Enter on OK.
    EXPECT_THAT(KeyDowns(lines),
                ElementsAre(std::to_string(kVkTab) + " user", std::to_string(kVkTab) + " password",
                            std::to_string(kVkReturn) + " ok"));

    const auto shown = Only(lines, "login-shown");
    ASSERT_EQ(shown.size(), 1u);
    const Rect original = ParseRect(shown[0].Get("rect"));
    size_t delivered = 0;
    for (const JournalLine& l : lines) {
      // A WM_SETFOCUS may also come from the window system (activation), so
      // only what was typed counts here.
      if (l.event != "char" && l.event != "key-down" && l.event != "key-up")
        continue;
      ++delivered;
      const Rect r = ParseRect(l.Get("rect"));
      EXPECT_EQ(r.left, kOffScreen) << testing::PrintToString(l);
      EXPECT_EQ(r.top, kOffScreen) << testing::PrintToString(l);
      EXPECT_EQ(r.right - r.left, original.right - original.left) << testing::PrintToString(l);
      EXPECT_EQ(r.bottom - r.top, original.bottom - original.top) << testing::PrintToString(l);
    }
    EXPECT_GE(delivered, 4u);
  }

  // Nothing was typed into the login window. (Its WM_SETFOCUS lines are not
  // telling: the window system sends one when the window is activated.)
  static void ExpectNothingTyped(const std::vector<JournalLine>& lines) {
    const auto names = EventNames(lines);
    for (const char* event : {"char", "key-down", "key-up", "submit"})
      EXPECT_THAT(names, Not(Contains(event)));
  }

  // The HMI's command line carries none of the secrets the operator typed.
  static void ExpectNoSecretOnCommandLine(const std::vector<JournalLine>& lines,
                                          const std::vector<std::string>& secrets) {
    const auto cmdline = Only(lines, "cmdline");
    ASSERT_EQ(cmdline.size(), 1u);
    for (const std::string& secret : secrets)
      EXPECT_THAT(cmdline[0].Get("raw"), Not(HasSubstr(secret)));
  }

  // The value of the option `name` on the HMI's command line, if given.
  static std::optional<std::string> Argument(const std::vector<JournalLine>& lines,
                                             const std::string& name) {
    for (const JournalLine& l : Only(lines, "arg"))
      if (l.Get("name") == name)
        return l.Get("value");
    return std::nullopt;
  }

  CleanAppFolder app_;
  TempFolder temp_;
  DeviceSimulator device_;
  TrustValue trust_;
  StandinReaper reaper_;
};

// --- Credentials typed into the HMI -----------------------------------------------------

TEST_F(LauncherHmi, ModeNoneTypesTheCredentialsIntoTheLoginWindowOffScreen) {
  // A name beyond ASCII reaches the window as UTF-16 code units.
  const std::string user = "opérateur";
  const std::string password = "Pässwort 1";
  device_.Configure(R"({"users": {"opérateur": "Pässwort 1"}})");
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, user, password));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith("submit");
  EXPECT_EQ(Only(lines, "trust-check").at(0).Get("found"), "0");
  EXPECT_EQ(Only(lines, "prompt-accepted").at(0).Get("by"), "auto");
  EXPECT_TRUE(trust_.Exists());
  ExpectTypedOffScreen(lines, user, password);
  ExpectNoSecretOnCommandLine(lines, {password});
  EXPECT_EQ(Argument(lines, "-host"), kHost);
  EXPECT_EQ(Argument(lines, "-port"), std::to_string(device_.Port()));
  EXPECT_EQ(Argument(lines, "-auth"), std::nullopt);

  EXPECT_THAT(Paths(device_.Requests()),
              ElementsAre("/info.cgi", kLogin, kInfoExt, "/cgi-bin/ReadBinaryFile.cgi",
                          "/cgi-bin/ReadBinaryFile.cgi", kLogout));
}

TEST_F(LauncherHmi, AutologinWithATrustedDeviceTypesOnlyTheKeys) {
  device_.Configure(R"({"autologin": "enabled"})");
  trust_.Create();
  auto launcher = Start({}, {L"-host", Widen(HostWithPort()), L"-autologin"});
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith("submit");
  EXPECT_EQ(Only(lines, "trust-check").at(0).Get("found"), "1");
  EXPECT_THAT(EventNames(lines), Not(Contains("prompt-shown")));
  ExpectTypedOffScreen(lines, "", "");
  EXPECT_EQ(CountOf(device_.Requests(), kLogin), 1u);
}

// With the device trusted the HMI shows no prompt, and its login window tells
// that none will come: the launcher types at once instead of first sitting
// out the wait for a prompt (3.5 s from the HMI's start). The stand-in ends
// itself 3 s after its start, so its journal shows the login submitted
// before its end only when the launcher did not sit out that wait.
// (params.txt leaves no start-up pause and 100 ms between the fields.)
TEST_F(LauncherHmi, TrustedDeviceIsTypedIntoWithoutWaitingForAPrompt) {
  trust_.Create();
  TempFolder work;
  work.WriteFile("params.txt", "0\r\n100\r\n");
  winetest::LaunchOptions options;
  options.workingDirectory = work.Path();
  options.environment = {{L"VELTRA_STANDIN_JOURNAL", Journal().wstring()},
                         {L"VELTRA_STANDIN_LIFETIME_MS", L"3000"}};
  Launcher launcher(options);
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(launcher));

  const auto lines = StandinJournalWith("exit");
  EXPECT_EQ(Only(lines, "trust-check").at(0).Get("found"), "1");
  EXPECT_EQ(Only(lines, "exit").at(0).Get("reason"), "lifetime");
  const auto names = EventNames(lines);
  EXPECT_THAT(names, Not(Contains("prompt-shown")));
  const auto at = [&](const char* event) {
    return std::find(names.begin(), names.end(), event) - names.begin();
  };
  EXPECT_LT(at("login-shown"), at("submit"));
  EXPECT_LT(at("submit"), at("exit")) << testing::PrintToString(lines);
  ExpectTypedOffScreen(lines, "admin", "Adm1n-pw");
}

// An operator who closes the certificate prompt without trusting the device
// gets no login typed for them; the HMI stays with its login window.
TEST_F(LauncherHmi, PromptClosedWithoutAcceptingClosesTheLauncherAndLeavesTheHmi) {
  auto launcher = Start({{L"AUTO_REJECT", L"1"}, {L"PROMPT_MS", L"50"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith("login-shown");
  EXPECT_EQ(Only(lines, "prompt-rejected").at(0).Get("by"), "auto");
  EXPECT_FALSE(trust_.Exists());
  ExpectNothingTyped(lines);
  ExpectNoSecretOnCommandLine(lines, {"Adm1n-pw"});
  EXPECT_TRUE(StandinRunning(lines.front().pid));
}

// --- Emergency access ----------------------------------------------------------------------

struct EmergencyCase {
  const char* name;
  int release;
  bool newCodeBox;      // the operator is asked to generate a new code
  bool sessionHandedOn; // "-auth" with the session, and no logout
};

void PrintTo(const EmergencyCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherHmiEmergency : public LauncherHmi,
                             public testing::WithParamInterface<EmergencyCase> {};

TEST_P(LauncherHmiEmergency, StartsTheHmiAndTypesNothing) {
  const EmergencyCase& c = GetParam();
  const std::string banner =
      "Veltra build 1234 Release " + std::to_string(c.release) + " (2026-01-01)";
  device_.Configure(R"({"emergency": "true", "infoext": {"build_version": ")" + banner + R"("}})");
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 2, kEmergencyCode, ""));
  if (c.newCodeBox) {
    HWND box = launcher->WaitForMessageBox(kLaunchDeadline);
    launcher->WaitUntilIdle();
    EXPECT_EQ(Launcher::MessageBoxCaption(box), kCaption);
    EXPECT_EQ(Launcher::MessageBoxText(box),
              "Please generate a new emergency access code and press Enter when it is available.");
    launcher->PressOk(box);
  }
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith("login-shown");
  ExpectNothingTyped(lines);
  // Neither waited for nor moved.
  EXPECT_THAT(EventNames(lines), Not(Contains("moved")));
  ExpectNoSecretOnCommandLine(lines, {kEmergencyCode});

  const std::vector<RecordedRequest> requests = device_.Requests();
  const auto infoExt = std::find_if(requests.begin(), requests.end(),
                                    [](const RecordedRequest& r) { return r.path == kInfoExt; });
  ASSERT_NE(infoExt, requests.end());
  const std::string session = infoExt->cookies.at(kSessionCookie);
  if (c.sessionHandedOn) {
    EXPECT_EQ(Argument(lines, "-auth"), std::string(kSessionCookie) + "=" + session);
    EXPECT_EQ(CountOf(requests, kLogout), 0u);
  } else {
    EXPECT_EQ(Argument(lines, "-auth"), std::nullopt);
    EXPECT_EQ(CountOf(requests, kLogout), 1u);
    const auto cmdline = Only(lines, "cmdline");
    ASSERT_EQ(cmdline.size(), 1u);
    EXPECT_THAT(cmdline[0].Get("raw"), Not(HasSubstr(session)));
  }
}

INSTANTIATE_TEST_SUITE_P(Launcher, LauncherHmiEmergency,
                         testing::Values(EmergencyCase{"Release409", 409, true, false},
                                         EmergencyCase{"Release410", 410, false, true}),
                         [](const testing::TestParamInfo<EmergencyCase>& info) {
                           return info.param.name;
                         });

// --- Windows with the login title that are not this launch's HMI ---------------------

// The stand-in's program put into a JRE image of the cache that no launch
// uses: an HMI an earlier launch started.
fs::path EarlierHmiProgram(const CleanAppFolder& app) {
  const fs::path program = app.Path() / L"JREImage" / L"v0-earlier" / L"bin" / L"javaw.exe";
  fs::create_directories(program.parent_path());
  fs::copy_file(winetest::WindowsPath(VELTRA_STANDIN_EXE), program,
                fs::copy_options::overwrite_existing);
  return program;
}

// An earlier HMI's login window for this host that will not close stops the
// launch. (Its title in another letter case still counts as the same.)
TEST_F(LauncherHmi, OldLoginWindowThatStaysStopsTheLaunch) {
  ApartStandin old(
      EarlierHmiProgram(app_), temp_.Path() / L"old.txt",
      {{L"LOGIN_TITLE", Widen("LOGIN (" + std::string(kHost) + ")")}, {L"REFUSE_CLOSE", L"1"}});
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));

  HWND box = launcher->WaitForMessageBox(kLaunchDeadline);
  launcher->WaitUntilIdle();
  EXPECT_EQ(Launcher::MessageBoxCaption(box), kCaption);
  EXPECT_EQ(Launcher::MessageBoxText(box), "Please close the login form for this host.");
  launcher->PressOk(box);
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  EXPECT_THAT(EventNames(old.Lines()), Contains("close-refused"));
  EXPECT_TRUE(old.Running());
  ExpectNothingTyped(old.Lines());
  EXPECT_THAT(JournalLines(), IsEmpty()) << "no HMI may start";
}

TEST_F(LauncherHmi, OldLoginWindowThatClosesLetsTheLaunchGoOn) {
  ApartStandin old(EarlierHmiProgram(app_), temp_.Path() / L"old.txt",
                   {{L"LOGIN_TITLE", Widen("Login (" + std::string(kHost) + ")")}});
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto closed = Only(old.Lines(), "exit");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].Get("reason"), "closed");
  ExpectNothingTyped(old.Lines());
  const auto lines = StandinJournalWith("submit");
  ExpectTypedOffScreen(lines, "admin", "Adm1n-pw");
}

// Another program's window with this host's login title is not the HMI's:
// it is neither asked to close nor typed into, and the launch goes on.
TEST_F(LauncherHmi, ForeignLoginWindowBeforeTheLaunchIsLeftAlone) {
  OldLoginWindow foreign(Widen("Login (" + std::string(kHost) + ")"), true);
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  EXPECT_EQ(foreign.CloseRequests(), 0);
  EXPECT_TRUE(foreign.Exists());
  ExpectTypedOffScreen(StandinJournalWith("submit"), "admin", "Adm1n-pw");
}

// A second stand-in, started apart from the launcher while it waits for its
// HMI's login window, shows the same title first: it gets nothing, and the
// HMI the launch started gets the credentials. (The device is trusted and the
// launch's HMI shows its window late, so that the launcher is already
// waiting for a login window when only the foreign one is there.)
TEST_F(LauncherHmi, ForeignLoginWindowDuringTheWaitGetsNothing) {
  trust_.Create();
  auto launcher = Start({{L"DELAY_MS", L"6000"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_TRUE(WaitUntil([&] { return !Only(JournalLines(), "start").empty(); }, kLaunchDeadline));
  ApartStandin foreign(winetest::WindowsPath(VELTRA_STANDIN_EXE), temp_.Path() / L"foreign.txt",
                       {{L"LOGIN_TITLE", Widen("Login (" + std::string(kHost) + ")")}});
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  ExpectNothingTyped(foreign.Lines());
  EXPECT_TRUE(foreign.Running());
  for (const JournalLine& l : foreign.Lines())
    EXPECT_NE(l.event, "moved") << "the foreign window was moved";
  ExpectTypedOffScreen(StandinJournalWith("submit"), "admin", "Adm1n-pw");
}

// An HMI whose first program starts the real one, which shows the windows
// and ends itself: the child's login window is typed into.
TEST_F(LauncherHmi, HmiThatHandsOverToAChildIsStillTypedInto) {
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}, {L"START_CHILD", L"1"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  std::vector<JournalLine> lines;
  ASSERT_TRUE(WaitUntil([&] {
    lines = JournalLines();
    return !Only(lines, "submit").empty();
  })) << testing::PrintToString(lines);
  const auto handedOver = Only(lines, "child-started");
  ASSERT_EQ(handedOver.size(), 1u);
  const DWORD child = static_cast<DWORD>(std::stoul(handedOver[0].Get("pid")));
  std::vector<JournalLine> childLines;
  for (const JournalLine& l : lines)
    if (l.pid == child)
      childLines.push_back(l);
  ExpectTypedOffScreen(childLines, "admin", "Adm1n-pw");
}

// --- An HMI that fails ------------------------------------------------------------------------

struct FailingHmiCase {
  const char* name;
  const wchar_t* setting;
  const char* event; // what its journal shows
};

void PrintTo(const FailingHmiCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherHmiFailing : public LauncherHmi,
                           public testing::WithParamInterface<FailingHmiCase> {};

// No prompt comes, so the launcher waits for the trust record in vain and
// closes, silently: the operator sees the HMI's own state.
TEST_P(LauncherHmiFailing, LauncherClosesWithoutABox) {
  const FailingHmiCase& c = GetParam();
  auto launcher = Start({{c.setting, L"1"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith(c.event);
  EXPECT_THAT(EventNames(lines), Not(Contains("login-shown")));
  ExpectNothingTyped(lines);
  EXPECT_FALSE(trust_.Exists());
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LauncherHmiFailing,
    testing::Values(FailingHmiCase{"ExitsAtOnce", L"EXIT_NOW", "exit"},
                    FailingHmiCase{"ShowsNoWindow", L"NO_WINDOW", "no-window"}),
    [](const testing::TestParamInfo<FailingHmiCase>& info) { return info.param.name; });

} // namespace

// --- Nothing redirects or holds the launch -------------------------------------------------

// Launch pressed again while the certificate prompt is open runs nothing:
// no second sign-in at the device, no box, one HMI.
TEST_F(LauncherHmi, SecondPressWhileThePromptIsOpenDoesNothing) {
  auto launcher = Start({{L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"2500"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  StandinJournalWith("prompt-shown");
  launcher->Click(ControlId::btnLaunch);
  launcher->Click(ControlId::btnLaunch);
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith("submit");
  ExpectTypedOffScreen(lines, "admin", "Adm1n-pw");
  const auto requests = device_.Requests();
  EXPECT_EQ(CountOf(requests, "/info.cgi"), 1u) << testing::PrintToString(Paths(requests));
  EXPECT_EQ(CountOf(requests, kLogin), 1u);
  EXPECT_EQ(CountOf(requests, kLogout), 1u);
}

// The host box edited while the device's LOGOUT is slow, after the device
// was verified: the HMI is still started for the verified device, and the
// verified credentials go to its login window.
TEST_F(LauncherHmi, HostEditedDuringASlowLogoutDoesNotRedirectTheHmi) {
  trust_.Create();
  device_.Configure(R"({"delay_ms": {"/LOGOUT": 3000}})");
  auto launcher = Start();
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_TRUE(
      WaitUntil([&] { return CountOf(device_.Requests(), kLogout) == 1; }, kLaunchDeadline));
  launcher->SetText(ControlId::edtHost, "127.0.0.2:" + std::to_string(device_.Port() + 1));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));

  const auto lines = StandinJournalWith("submit");
  EXPECT_EQ(Argument(lines, "-host"), kHost);
  EXPECT_EQ(Argument(lines, "-port"), std::to_string(device_.Port()));
  EXPECT_EQ(Only(lines, "login-shown").at(0).Get("title"), std::string("Login (") + kHost + ")");
  ExpectTypedOffScreen(lines, "admin", "Adm1n-pw");
}

// An HMI whose login window stops taking messages (its thread blocked for
// seconds) once it has taken the first character: the second one is not
// taken within a keystroke's time limit, the launcher gives up and closes
// while the HMI still hangs. That character is handled once the hang is
// over; nothing after it is ever typed.
TEST_F(LauncherHmi, HungLoginWindowStopsTheTypingAndTheLauncherCloses) {
  trust_.Create();
  auto launcher = Start({{L"HANG_MS", L"12000"}});
  ASSERT_NO_FATAL_FAILURE(TypeAndLaunch(*launcher, 0, "admin", "Adm1n-pw"));
  ASSERT_NO_FATAL_FAILURE(ExpectLauncherClosedByItself(*launcher));
  EXPECT_THAT(EventNames(JournalLines()), Not(Contains("hang-end")))
      << "the launcher sat out the hang";

  const auto lines = StandinJournalWith("hang-end");
  EXPECT_EQ(TypedInto(lines, "user"), L"ad");
  EXPECT_THAT(KeyDowns(lines), IsEmpty());
  EXPECT_THAT(EventNames(lines), Not(Contains("submit")));
}
