// The stand-in HMI (tools/standin-hmi/) driven from outside the way the
// launcher drives the real HMI: started with the launcher's command line,
// its "Warning" prompt answered, its login window found by its whole title,
// moved off-screen and typed into with sent characters and posted keys. The
// launcher's own tests rely on the stand-in, so each promise it makes is
// checked here, against its windows, the trust record and its journal.
#include "tests/wine/LauncherHarness.h"
#include "tests/wine/StandinJournal.h"

#include "common/Text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <map>
#include <memory>

namespace {

namespace fs = std::filesystem;

using winetest::EventNames;
using winetest::JournalLine;
using winetest::Only;
using winetest::ReadJournal;

using testing::Contains;
using testing::ElementsAre;
using testing::Not;
using winetest::TempFolder;
using winetest::WaitUntil;

constexpr const wchar_t* kTrustKey = L"SOFTWARE\\Norwick\\Energy\\Automation\\TLS";
constexpr const wchar_t* kMainClass = L"com.norwickpower.hx.launcher.Launcher";
constexpr std::chrono::milliseconds kDeadline{20000};
// Control ids of the stand-in's windows (tools/standin-hmi/README.md).
constexpr int kAcceptId = IDOK;
constexpr int kRejectId = IDCANCEL;

std::string Narrow(const std::wstring& wide) {
  return text::Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

fs::path StandinExe() {
  return winetest::WindowsPath(VELTRA_STANDIN_EXE);
}

// The command line that the launcher composes for the HMI: the program path
// unquoted, the class path quoted, "-port" only when given.
std::wstring LauncherCommandLine(const fs::path& exe, const std::wstring& host,
                                 const std::wstring& port, const std::wstring& tail = L"") {
  std::wstring line = exe.wstring() +
                      L" --add-opens java.prefs/java.util.prefs=ALL-UNNAMED -Xms256m -Xmx1024m"
                      L" -classpath \"C:\\HMI lib\\*\" " +
                      kMainClass + L" -host " + host;
  if (!port.empty())
    line += L" -port " + port;
  return line + tail;
}

bool TrustValueExists(const std::wstring& name) {
  return RegGetValueW(HKEY_CURRENT_USER, kTrustKey, name.c_str(), RRF_RT_ANY, nullptr, nullptr,
                      nullptr) == ERROR_SUCCESS;
}

void CreateTrustValue(const std::wstring& name) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTrustKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                           sizeof one),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void DeleteTrustValue(const std::wstring& name) {
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kTrustKey, name.c_str());
}

// --- The journal -------------------------------------------------------------

std::vector<std::string> ArgumentLines(const std::vector<JournalLine>& lines) {
  std::vector<std::string> out;
  for (const JournalLine& l : lines) {
    if (l.event != "arg" && l.event != "main-class" && l.event != "unknown-arg" &&
        l.event != "missing-value")
      continue;
    std::string s = l.event;
    for (const auto& [key, value] : l.fields)
      s += " " + key + "=" + value;
    out.push_back(s);
  }
  return out;
}

std::string SettingLine(const JournalLine& l) {
  return l.event + " " + l.Get("name") + "=" + l.Get("value") + " (" + l.Get("source") + ")";
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// --- One stand-in process ----------------------------------------------------

// The caller's environment without any VELTRA_STANDIN_ variable, plus
// `settings` as VELTRA_STANDIN_<name>, as CreateProcessW takes it.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& settings) {
  const std::wstring prefix = L"VELTRA_STANDIN_";
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
      std::wstring entry(p);
      std::wstring head = entry.substr(0, prefix.size());
      std::transform(head.begin(), head.end(), head.begin(), ::towupper);
      if (head != prefix)
        entries.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : settings)
    entries.push_back(prefix + name + L"=" + value);
  std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
  });
  std::wstring result;
  for (const std::wstring& entry : entries)
    result += entry + L'\0';
  return result + L'\0';
}

// A started stand-in; the destructor ends it if it still runs.
class Standin {
public:
  Standin(const std::wstring& commandLine, const fs::path& workingDirectory,
          const std::vector<std::pair<std::wstring, std::wstring>>& settings) {
    std::wstring line = commandLine;
    std::wstring environment = EnvironmentBlock(settings);
    // Started as the launcher starts the HMI: no separate program name,
    // shown normally, 800 x 600 in the middle of the screen.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION;
    startup.wShowWindow = SW_SHOWNORMAL;
    startup.dwXSize = 800;
    startup.dwYSize = 600;
    startup.dwX = static_cast<DWORD>((GetSystemMetrics(SM_CXVIRTUALSCREEN) - 800) / 2);
    startup.dwY = static_cast<DWORD>((GetSystemMetrics(SM_CYVIRTUALSCREEN) - 600) / 2);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), workingDirectory.c_str(), &startup, &process_))
      throw winetest::HarnessError("CreateProcessW failed with error " +
                                   std::to_string(GetLastError()));
  }

  ~Standin() {
    if (Running()) {
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  Standin(const Standin&) = delete;
  Standin& operator=(const Standin&) = delete;

  DWORD Pid() const { return process_.dwProcessId; }
  HANDLE Process() const { return process_.hProcess; }
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  // A top-level window of this process whose whole title is `title`.
  HWND FindWindowTitled(const std::wstring& title) const {
    for (HWND w = FindWindowExW(nullptr, nullptr, nullptr, title.c_str()); w;
         w = FindWindowExW(nullptr, w, nullptr, title.c_str())) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == Pid())
        return w;
    }
    return nullptr;
  }

  HWND WaitForWindow(const std::wstring& title) const {
    HWND found = nullptr;
    if (!WaitUntil([&] { return (found = FindWindowTitled(title)) != nullptr; }, kDeadline,
                   process_.hProcess))
      throw winetest::HarnessError("no window \"" + Narrow(title) + "\" of the stand-in (" +
                                   (Running() ? "running" : "exited") + ")");
    return found;
  }

  // A visible top-level window of this process, whatever its title.
  HWND AnyVisibleWindow() const {
    struct Search {
      DWORD pid;
      HWND found;
    } search{Pid(), nullptr};
    EnumWindows(
        [](HWND w, LPARAM param) -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          DWORD owner = 0;
          GetWindowThreadProcessId(w, &owner);
          if (owner != s->pid || !IsWindowVisible(w))
            return TRUE;
          s->found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // The exit code once the process has ended within the deadline.
  DWORD WaitForExit() const {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(kDeadline.count())) !=
        WAIT_OBJECT_0)
      throw winetest::HarnessError("the stand-in did not exit");
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

private:
  PROCESS_INFORMATION process_{};
};

void SendText(HWND window, const std::wstring& text) {
  for (wchar_t c : text)
    SendMessageW(window, WM_CHAR, static_cast<WPARAM>(c), 0);
}

void PostTab(HWND window) {
  PostMessageW(window, WM_KEYDOWN, VK_TAB, 0);
}

void PostEnter(HWND window) {
  PostMessageW(window, WM_SETFOCUS, 0, 0);
  PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(window, WM_KEYUP, VK_RETURN, 0);
}

// The code units of the characters that the journal saw typed into `field`.
std::wstring TypedInto(const std::vector<JournalLine>& lines, const std::string& field) {
  std::wstring units;
  for (const JournalLine& l : Only(lines, "char"))
    if (l.Get("field") == field)
      units += static_cast<wchar_t>(std::stoul(l.Get("code")));
  return units;
}

// Each test has its own host name, so trust records never clash with another
// test run, and removes the records its host may have got.
class StandinHmiTest : public testing::Test {
protected:
  StandinHmiTest() {
    static std::atomic<unsigned> counter{0};
    host_ = L"standin-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    RemoveTrust();
  }
  ~StandinHmiTest() override { RemoveTrust(); }

  void RemoveTrust() {
    DeleteTrustValue(host_ + L":443");
    DeleteTrustValue(host_ + L":51443");
  }

  fs::path Journal() const { return temp_.Path() / L"journal.txt"; }

  // Launcher's command line, journal in the test's folder, `settings` more.
  std::unique_ptr<Standin>
  Start(const std::vector<std::pair<std::wstring, std::wstring>>& settings = {},
        const std::wstring& port = L"51443", const std::wstring& tail = L"") {
    auto all = settings;
    all.emplace_back(L"JOURNAL", Journal().wstring());
    return std::make_unique<Standin>(LauncherCommandLine(StandinExe(), host_, port, tail),
                                     temp_.Path(), all);
  }

  std::vector<JournalLine> JournalOf(const Standin& standin) const {
    return ReadJournal(Journal(), standin.Pid());
  }

  // Waits until the journal holds `count` lines of `event`. Characters sent
  // to the window are handled before posted keys still in its queue, so a
  // sender must let a posted key be handled before it sends more (the
  // launcher pauses for that).
  void WaitForJournal(const Standin& standin, const std::string& event, size_t count) const {
    if (!WaitUntil([&] { return Only(JournalOf(standin), event).size() >= count; }, kDeadline,
                   standin.Process()))
      throw winetest::HarnessError("the journal did not get " + std::to_string(count) + " " +
                                   event + " lines");
  }

  TempFolder temp_;
  std::wstring host_;
};

TEST_F(StandinHmiTest, FollowsTheLaunchSequence) {
  const std::wstring user = L"opérateur 1";
  // A backslash and a quote for the journal's escapes; a character beyond
  // the BMP arrives as two WM_CHARs, one per surrogate.
  const std::wstring password = L"p\\w\"d€\U0001F600";
  const std::wstring trustName = host_ + L":51443";
  auto standin = Start({}, L"51443", L" -auth R930::AuthCookieHandler_R930HMI=c0ffee");

  HWND warning = standin->WaitForWindow(L"Warning");
  EXPECT_FALSE(TrustValueExists(trustName));
  HWND accept = GetDlgItem(warning, kAcceptId);
  ASSERT_NE(accept, nullptr);
  PostMessageW(accept, BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(warning); }, kDeadline, standin->Process()));
  EXPECT_TRUE(TrustValueExists(trustName));

  HWND login = standin->WaitForWindow(L"Login (" + host_ + L")");
  RECT shown{};
  ASSERT_TRUE(GetWindowRect(login, &shown));
  ASSERT_TRUE(
      MoveWindow(login, 20000, 20000, shown.right - shown.left, shown.bottom - shown.top, TRUE));
  RECT moved{};
  ASSERT_TRUE(GetWindowRect(login, &moved));
  ASSERT_EQ(moved.left, 20000);

  SendText(login, user);
  PostTab(login);
  WaitForJournal(*standin, "focus", 1);
  SendText(login, password);
  PostTab(login);
  PostEnter(login);
  standin->WaitForWindow(L"HMI (" + host_ + L")");

  PostMessageW(standin->FindWindowTitled(L"HMI (" + host_ + L")"), WM_CLOSE, 0, 0);
  EXPECT_EQ(standin->WaitForExit(), 0u);

  const std::vector<JournalLine> lines = JournalOf(*standin);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().event, "start");
  const auto cmdline = Only(lines, "cmdline");
  ASSERT_EQ(cmdline.size(), 1u);
  EXPECT_EQ(cmdline[0].Get("raw"),
            Narrow(LauncherCommandLine(StandinExe(), host_, L"51443",
                                       L" -auth R930::AuthCookieHandler_R930HMI=c0ffee")));
  EXPECT_THAT(ArgumentLines(lines),
              ElementsAre("arg name=--add-opens value=java.prefs/java.util.prefs=ALL-UNNAMED",
                          "arg name=-Xms256m", "arg name=-Xmx1024m",
                          "arg name=-classpath value=C:\\HMI lib\\*",
                          "main-class value=" + Narrow(kMainClass),
                          "arg name=-host value=" + Narrow(host_), "arg name=-port value=51443",
                          "arg name=-auth value=R930::AuthCookieHandler_R930HMI=c0ffee"));

  // The steps in the order they happened, without the keys in between.
  const std::vector<std::string> steps = {"trust-check", "prompt-shown", "prompt-accepted",
                                          "login-shown", "submit",       "logged-in",
                                          "exit"};
  std::vector<std::string> order;
  for (const std::string& e : EventNames(lines))
    if (std::find(steps.begin(), steps.end(), e) != steps.end())
      order.push_back(e);
  EXPECT_EQ(order, steps);
  EXPECT_EQ(Only(lines, "trust-check").at(0).Get("found"), "0");
  EXPECT_EQ(Only(lines, "prompt-accepted").at(0).Get("by"), "button");
  EXPECT_EQ(Only(lines, "prompt-accepted").at(0).Get("name"), Narrow(trustName));

  EXPECT_EQ(TypedInto(lines, "user"), user);
  EXPECT_EQ(TypedInto(lines, "password"), password);
  EXPECT_EQ(TypedInto(lines, "ok"), L"");
  // Every character and key arrived while the window was off-screen.
  for (const JournalLine& l : lines) {
    if (l.event == "char" || l.event == "key-down" || l.event == "key-up") {
      EXPECT_EQ(l.Get("rect"), RectText(moved)) << l.event;
    }
  }
  const auto keys = Only(lines, "key-down");
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].Get("field"), "user");
  EXPECT_EQ(keys[1].Get("field"), "password");
  EXPECT_EQ(keys[2].Get("field"), "ok");

  const auto submit = Only(lines, "submit");
  ASSERT_EQ(submit.size(), 1u);
  EXPECT_EQ(submit[0].Get("user"), Narrow(user));
  EXPECT_EQ(submit[0].Get("password"), Narrow(password));
  EXPECT_EQ(lines.back().event, "exit");
  EXPECT_EQ(lines.back().Get("reason"), "closed");
}

TEST_F(StandinHmiTest, EnterWithoutItsReleaseDoesNotSubmit) {
  CreateTrustValue(host_ + L":51443");
  auto standin = Start();
  HWND login = standin->WaitForWindow(L"Login (" + host_ + L")");
  SendText(login, L"a");
  PostMessageW(login, WM_KEYDOWN, VK_RETURN, 0);
  WaitForJournal(*standin, "key-down", 1);
  EXPECT_NE(standin->FindWindowTitled(L"Login (" + host_ + L")"), nullptr);
  EXPECT_THAT(EventNames(JournalOf(*standin)), Not(Contains("submit")));

  SendText(login, L"b");
  PostMessageW(login, WM_KEYUP, VK_RETURN, 0);
  standin->WaitForWindow(L"HMI (" + host_ + L")");
  const auto submit = Only(JournalOf(*standin), "submit");
  ASSERT_EQ(submit.size(), 1u);
  EXPECT_EQ(submit[0].Get("user"), "ab");
}

TEST_F(StandinHmiTest, RecordedTrustSkipsThePrompt) {
  CreateTrustValue(host_ + L":51443");
  auto standin = Start();
  standin->WaitForWindow(L"Login (" + host_ + L")");
  EXPECT_EQ(standin->FindWindowTitled(L"Warning"), nullptr);
  const auto lines = JournalOf(*standin);
  ASSERT_EQ(Only(lines, "trust-check").size(), 1u);
  EXPECT_EQ(Only(lines, "trust-check")[0].Get("found"), "1");
  EXPECT_THAT(EventNames(lines), Not(Contains("prompt-shown")));
}

TEST_F(StandinHmiTest, PromptClosedWithoutAcceptRecordsNoTrust) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    // Answers the prompt; false when the answer could not be given. A click
    // posted to a button that is not there would go to nobody.
    bool (*answer)(HWND warning);
    const char* by;
  };
  const Case cases[] = {
      {"Reject button",
       {},
       [](HWND w) {
         HWND reject = GetDlgItem(w, kRejectId);
         return reject && PostMessageW(reject, BM_CLICK, 0, 0);
       },
       "button"},
      {"window closed",
       {},
       [](HWND w) { return PostMessageW(w, WM_CLOSE, 0, 0) != FALSE; },
       "close"},
      {"auto_reject", {{L"AUTO_REJECT", L"1"}, {L"PROMPT_MS", L"50"}}, nullptr, "auto"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto standin = Start(c.settings);
    HWND warning = standin->WaitForWindow(L"Warning");
    if (c.answer) {
      ASSERT_TRUE(c.answer(warning));
    }
    // The HMI goes on to its login window, untrusted.
    standin->WaitForWindow(L"Login (" + host_ + L")");
    EXPECT_FALSE(IsWindow(warning));
    EXPECT_FALSE(TrustValueExists(host_ + L":51443"));
    const auto rejected = Only(JournalOf(*standin), "prompt-rejected");
    ASSERT_EQ(rejected.size(), 1u);
    EXPECT_EQ(rejected[0].Get("by"), c.by);
  }
}

TEST_F(StandinHmiTest, LoginTitleAndTrustRecordName) {
  struct Case {
    const char* name;
    std::wstring port;
    std::optional<std::wstring> loginTitle;
    std::wstring expectedTitle; // "%s" stands for the host
    std::wstring expectedTrust;
  };
  const Case cases[] = {
      {"port given", L"51443", std::nullopt, L"Login (%s)", L"%s:51443"},
      {"no port: 443", L"", std::nullopt, L"Login (%s)", L"%s:443"},
      {"device type below release 300", L"", L"Q614 (%s)", L"Q614 (%s)", L"%s:443"},
      {"host left out of the caption", L"51443", L"Login", L"Login", L"%s:51443"},
  };
  auto withHost = [&](std::wstring s) {
    if (size_t at = s.find(L"%s"); at != std::wstring::npos)
      s.replace(at, 2, host_);
    return s;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTrust();
    std::vector<std::pair<std::wstring, std::wstring>> settings{{L"AUTO_ACCEPT", L"1"},
                                                                {L"PROMPT_MS", L"50"}};
    if (c.loginTitle)
      settings.emplace_back(L"LOGIN_TITLE", withHost(*c.loginTitle));
    auto standin = Start(settings, c.port);
    standin->WaitForWindow(withHost(c.expectedTitle));
    EXPECT_TRUE(TrustValueExists(withHost(c.expectedTrust)));
    const auto accepted = Only(JournalOf(*standin), "prompt-accepted");
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0].Get("by"), "auto");
    EXPECT_EQ(accepted[0].Get("name"), Narrow(withHost(c.expectedTrust)));
  }
}

TEST_F(StandinHmiTest, RefuseMoveKeepsThePosition) {
  CreateTrustValue(host_ + L":51443");
  auto standin = Start({{L"REFUSE_MOVE", L"1"}});
  HWND login = standin->WaitForWindow(L"Login (" + host_ + L")");
  RECT before{};
  ASSERT_TRUE(GetWindowRect(login, &before));
  MoveWindow(login, 20000, 20000, before.right - before.left, before.bottom - before.top, TRUE);
  RECT after{};
  ASSERT_TRUE(GetWindowRect(login, &after));
  EXPECT_EQ(RectText(after), RectText(before));

  SendText(login, L"x");
  const auto lines = JournalOf(*standin);
  const auto refused = Only(lines, "move-refused");
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].Get("x"), "20000");
  EXPECT_EQ(refused[0].Get("y"), "20000");
  const auto chars = Only(lines, "char");
  ASSERT_EQ(chars.size(), 1u);
  EXPECT_EQ(chars[0].Get("rect"), RectText(before));
}

// hang_ms: the first character is taken, then the window's thread blocks.
// A sender that gives up after a while is told so during the hang; once the
// hang is over the window answers again, and it hangs only once.
TEST_F(StandinHmiTest, HangAfterTheFirstCharacterHoldsWhatIsSentUntilItEnds) {
  // Far longer than the second send waits, so that send falls in the hang.
  constexpr UINT kHangMs = 4000;
  constexpr UINT kImpatientMs = 200;
  CreateTrustValue(host_ + L":51443");
  auto standin = Start({{L"HANG_MS", std::to_wstring(kHangMs)}});
  HWND login = standin->WaitForWindow(L"Login (" + host_ + L")");
  const auto deadline = static_cast<UINT>(kDeadline.count());

  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutW(login, WM_CHAR, L'a', 0, SMTO_NORMAL, deadline, &result));
  // The first character was answered before the hang, which has begun.
  const std::vector<std::string> events = EventNames(JournalOf(*standin));
  ASSERT_THAT(events, Contains("hang"));
  ASSERT_THAT(events, Not(Contains("hang-end")));

  SetLastError(0);
  EXPECT_FALSE(SendMessageTimeoutW(login, WM_CHAR, L'b', 0, SMTO_NORMAL, kImpatientMs, &result));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));

  WaitForJournal(*standin, "hang-end", 1);
  EXPECT_TRUE(SendMessageTimeoutW(login, WM_CHAR, L'c', 0, SMTO_NORMAL, deadline, &result));

  // The characters and the hang in the order the window met them: nothing
  // was handled during the hang. What becomes of the character whose sender
  // gave up is the system's affair (Wine takes it back, so it never arrives),
  // so only the first three entries and the last one are checked.
  std::vector<std::string> seen;
  for (const JournalLine& l : JournalOf(*standin)) {
    if (l.event == "char")
      seen.push_back("char " + l.Get("text"));
    else if (l.event == "hang")
      seen.push_back("hang " + l.Get("ms"));
    else if (l.event == "hang-end")
      seen.push_back("hang-end");
  }
  ASSERT_GE(seen.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(seen.begin(), seen.begin() + 3),
              ElementsAre("char a", "hang " + std::to_string(kHangMs), "hang-end"));
  EXPECT_EQ(seen.back(), "char c");
}

TEST_F(StandinHmiTest, ExitNowEndsWithCodeThree) {
  auto standin = Start({{L"EXIT_NOW", L"1"}});
  EXPECT_EQ(standin->WaitForExit(), 3u);
  const auto lines = JournalOf(*standin);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().event, "exit");
  EXPECT_EQ(lines.back().Get("code"), "3");
  EXPECT_THAT(EventNames(lines), Not(Contains("trust-check")));
}

TEST_F(StandinHmiTest, NoWindowShowsNothingForItsLifetime) {
  auto standin = Start({{L"NO_WINDOW", L"1"}, {L"LIFETIME_MS", L"1500"}});
  bool sawWindow = false;
  EXPECT_TRUE(WaitUntil(
      [&] {
        sawWindow = sawWindow || standin->AnyVisibleWindow() != nullptr;
        return !standin->Running();
      },
      kDeadline, standin->Process()));
  EXPECT_FALSE(sawWindow);
  EXPECT_EQ(standin->WaitForExit(), 0u);
  const auto lines = JournalOf(*standin);
  EXPECT_THAT(EventNames(lines), Contains("no-window"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().Get("reason"), "lifetime");
}

// As the launcher finds it: javaw.exe in the bin folder of a JRE image with
// standin.ini beside it, the image folder as working directory, the journal
// in its default place there.
TEST_F(StandinHmiTest, SettingsFileBesideTheProgramAndEnvironmentWins) {
  const fs::path image = temp_.Path() / L"JREImage";
  fs::create_directories(image / L"bin");
  const fs::path javaw = image / L"bin" / L"javaw.exe";
  ASSERT_TRUE(CopyFileW(StandinExe().c_str(), javaw.c_str(), FALSE));
  temp_.WriteFile(fs::path(L"JREImage") / L"bin" / L"standin.ini",
                  "\xEF\xBB\xBF# made by the test\r\n"
                  "[standin]\r\n"
                  "login_title = From the file\r\n"
                  "auto_accept=yes\r\n"
                  "prompt_ms=50\r\n"
                  "Refuse_Move=1\r\n"
                  "delay_ms=soon\r\n"
                  "colour=blue\r\n");

  Standin standin(LauncherCommandLine(javaw, host_, L"51443"), image,
                  {{L"LOGIN_TITLE", L"From the environment"}, {L"SHAPE", L"round"}});
  standin.WaitForWindow(L"From the environment");
  EXPECT_TRUE(TrustValueExists(host_ + L":51443"));

  const auto lines = ReadJournal(image / L"standin-journal.txt", standin.Pid());
  std::vector<std::string> settings;
  for (const JournalLine& l : lines)
    if (l.event.find("setting") != std::string::npos)
      settings.push_back(SettingLine(l));
  std::sort(settings.begin(), settings.end());
  EXPECT_THAT(settings,
              ElementsAre("bad-setting delay_ms=soon (ini)", "setting auto_accept=yes (ini)",
                          "setting login_title=From the environment (env)",
                          "setting prompt_ms=50 (ini)", "setting refuse_move=1 (ini)",
                          "unknown-setting colour=blue (ini)",
                          "unknown-setting shape=round (env)"));
  EXPECT_EQ(Only(lines, "start").at(0).Get("journal"),
            Narrow((image / L"standin-journal.txt").wstring()));
}

TEST_F(StandinHmiTest, UnknownArgumentsAreRecordedNotFatal) {
  const std::wstring line = StandinExe().wstring() + L" -Dfile.encoding=UTF-8 -Xss1m -cp lib\\* " +
                            kMainClass + L" -host " + host_ + L" -extra 1 -port";
  Standin standin(
      line, temp_.Path(),
      {{L"JOURNAL", Journal().wstring()}, {L"AUTO_ACCEPT", L"1"}, {L"PROMPT_MS", L"50"}});
  standin.WaitForWindow(L"Login (" + host_ + L")");
  // "-port" without its number leaves the port at 443.
  EXPECT_TRUE(TrustValueExists(host_ + L":443"));
  EXPECT_THAT(ArgumentLines(JournalOf(standin)),
              ElementsAre("unknown-arg value=-Dfile.encoding=UTF-8", "arg name=-Xss1m",
                          "arg name=-cp value=lib\\*", "main-class value=" + Narrow(kMainClass),
                          "arg name=-host value=" + Narrow(host_), "unknown-arg value=-extra",
                          "unknown-arg value=1", "missing-value name=-port"));
}

} // namespace
