#include "hmi/HmiContract.h"
#include "hmi/WindowWaits.h"
#include "platform/fake/FakePlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using plat::WindowHandle;
using testing::Each;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Le;

using FakeWindowSetup = void (*)(fake::FakeWindow&);

class HmiWaitsTest : public ::testing::Test {
protected:
  // Starts the clock at `tick`; scripts use ticks relative to it.
  void StartAt(uint32_t tick) {
    p.system.tick = tick;
    t0 = tick;
  }
  uint32_t At(uint32_t offset) const { return t0 + offset; }
  uint32_t Elapsed() const { return p.system.tick - t0; }

  // WaitForWindowName; returns timedOut.
  bool Wait(const std::string& title, uint32_t timeOut, bool waitForClose = false) {
    bool timedOut = false;
    hmi::WaitForWindowName(s, finder, title, timedOut, timeOut, waitForClose);
    return timedOut;
  }

  fake::FakePlatform p;
  hmi::HmiServices s = hmi::HmiServices::From(p.services);
  hmi::TWindowFinder finder{p.windows, p.ui, p.system};
  uint32_t t0 = p.system.tick;
};

// ---------------------------------------------------------------------------
// WaitForWindowName

TEST_F(HmiWaitsTest, TimeOutZeroLooksOnceWithoutWaiting) {
  EXPECT_TRUE(Wait("Warning", 0));
  EXPECT_EQ(p.windows.findCalls, 1);
  EXPECT_THAT(p.windows.waits, IsEmpty());
  EXPECT_EQ(Elapsed(), 0u);
}

TEST_F(HmiWaitsTest, WindowThereAtTheFirstLookCostsNoTime) {
  p.windows.Add({.title = "Warning"});
  EXPECT_FALSE(Wait("WARNING", 3500));
  EXPECT_THAT(p.windows.waits, IsEmpty());
  EXPECT_EQ(Elapsed(), 0u);
  EXPECT_EQ(p.ui.processMessagesCalls, 0);
}

TEST_F(HmiWaitsTest, WindowAppearingEndsTheWaitWhenItAppears) {
  p.windows.Add({.title = "Warning", .opensAt = At(1200)});
  EXPECT_FALSE(Wait("Warning", 3500));
  EXPECT_EQ(Elapsed(), 1200u);
  EXPECT_THAT(p.windows.waits, Each(Le(200u)));
  EXPECT_EQ(p.ui.processMessagesCalls, 1);
}

TEST_F(HmiWaitsTest, NoWindowTimesOutAfterTheWholeTime) {
  EXPECT_TRUE(Wait("Warning", 3500));
  EXPECT_EQ(Elapsed(), 3500u);
  // Looked at every 200 ms: the last slice is what was left.
  EXPECT_EQ(p.windows.waits.size(), 18u);
  EXPECT_THAT(p.windows.waits, Each(Le(200u)));
  EXPECT_EQ(p.windows.waits.back(), 100u);
  EXPECT_EQ(p.ui.processMessagesCalls, 0);
}

// Other messages wake the wait early and are processed; the time is measured
// from the start, also across the wrap of the tick count.
class RemainingTime : public HmiWaitsTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(RemainingTime, EachWakeWaitsOnlyForWhatIsLeft) {
  StartAt(GetParam());
  p.windows.ownMessagesAt = {At(1000), At(2500)};
  EXPECT_TRUE(Wait("Login (gw1)", 3500));
  EXPECT_THAT(p.windows.waits, Each(Le(200u)));
  EXPECT_EQ(Elapsed(), 3500u);
  EXPECT_EQ(p.ui.processMessagesCalls, 2);
}

INSTANTIATE_TEST_SUITE_P(StartTicks, RemainingTime,
                         testing::Values(1000u, 0xFFFFF000u, 0xFFFFFFFFu));

TEST_F(HmiWaitsTest, WindowThatAppearsAfterTheTickCountWrapsIsFound) {
  StartAt(0xFFFFFE00u);
  p.windows.Add({.title = "Login", .opensAt = At(2000)});
  EXPECT_FALSE(Wait("Login", 10000));
  EXPECT_EQ(Elapsed(), 2000u);
}

// A window that comes without any message for the launcher (it does not
// take the activation) is seen at the next look, 200 ms at most later, not
// only once some message happens to wake the wait.
TEST_F(HmiWaitsTest, WindowThatComesSilentlyIsSeenAtTheNextLook) {
  p.windows.Add({.title = "Warning", .opensAt = At(500), .wakes = false});
  p.windows.ownMessagesAt = {At(2000)};
  EXPECT_FALSE(Wait("Warning", 3500));
  EXPECT_EQ(Elapsed(), 600u);
}

TEST_F(HmiWaitsTest, LastLookWhenTheTimeRunsOut) {
  // The window comes silently in the last slice of the wait.
  p.windows.Add({.title = "Warning", .opensAt = At(3450), .wakes = false});
  EXPECT_FALSE(Wait("Warning", 3500));
  EXPECT_EQ(Elapsed(), 3500u);
}

TEST_F(HmiWaitsTest, DeadlinePassedWhileProcessingEndsTheWait) {
  p.windows.ownMessagesAt = {At(500)};
  // A handler that runs for 800 ms (a plain sleep inside it).
  p.ui.onProcessMessages = [&] { p.system.tick += 800; };
  EXPECT_TRUE(Wait("Warning", 1000));
  // No wait after the handler: the time left is 0, not 1000 - 1300 wrapped
  // around.
  EXPECT_THAT(p.windows.waits, ElementsAre(200u, 200u, 200u));
  EXPECT_EQ(Elapsed(), 1300u);
  EXPECT_EQ(p.windows.findCalls, 4);
}

TEST_F(HmiWaitsTest, DeadlineReachedExactlyEndsTheWait) {
  p.windows.ownMessagesAt = {At(1000)};
  EXPECT_TRUE(Wait("Warning", 1000));
  EXPECT_THAT(p.windows.waits, ElementsAre(200u, 200u, 200u, 200u, 200u));
  EXPECT_EQ(Elapsed(), 1000u);
}

TEST_F(HmiWaitsTest, WaitForCloseFollowsTheWindowUntilItIsGone) {
  p.windows.Add({.title = "Warning", .opensAt = At(1000), .closesAt = At(4100)});
  EXPECT_FALSE(Wait("Warning", 3500, true));
  // Looked for every 200 ms from 1000 on: the look at 4200 misses it and is
  // followed by one more pause.
  EXPECT_EQ(Elapsed(), 4400u);
  EXPECT_THAT(p.system.sleeps, Each(200u));
}

TEST_F(HmiWaitsTest, TimeOutZeroWithWaitForCloseStillWaitsForTheWindowToGo) {
  p.windows.Add({.title = "Warning", .closesAt = At(1000)});
  EXPECT_FALSE(Wait("Warning", 0, true));
  EXPECT_THAT(p.windows.waits, IsEmpty());
  EXPECT_EQ(Elapsed(), 1200u);
  EXPECT_EQ(p.system.sleeps.size(), 6u);
  EXPECT_EQ(p.ui.processMessagesCalls, 6);
}

TEST_F(HmiWaitsTest, WaitForCloseHasNoLimitAndKeepsMessagesFlowing) {
  p.windows.Add({.title = "Warning"});
  struct Enough {};
  p.ui.onProcessMessages = [&] {
    if (p.ui.processMessagesCalls == 1000)
      throw Enough{};
  };
  EXPECT_THROW(Wait("Warning", 3500, true), Enough);
  EXPECT_EQ(p.system.sleeps.size(), 999u);
}

TEST_F(HmiWaitsTest, ClosingTheLauncherEndsBothWaits) {
  plat::StopFlag stop;
  p.windows.Add({.title = "Warning", .opensAt = At(1000)});
  // The operator closes the launcher at 2000, while the prompt is open.
  p.windows.ownMessagesAt = {At(2000)};
  p.ui.onProcessMessages = [&] {
    if (Elapsed() >= 2000)
      stop.Request();
  };
  bool timedOut = false;
  hmi::WaitForWindowName(s, finder, "Warning", timedOut, 3500, true, &stop);
  EXPECT_FALSE(timedOut);
  EXPECT_LE(Elapsed(), 2200u);

  // Closed before a window came: the wait for it ends at the next message.
  plat::StopFlag closed;
  p.windows.ownMessagesAt = {At(3000)};
  p.ui.onProcessMessages = [&] { closed.Request(); };
  hmi::WaitForWindowName(s, finder, "Login (gw1)", timedOut, 10000, false, &closed);
  EXPECT_TRUE(timedOut);
  EXPECT_EQ(Elapsed(), 3000u);
}

TEST_F(HmiWaitsTest, TimedOutWindowIsNotWaitedForToClose) {
  EXPECT_TRUE(Wait("Warning", 3500, true));
  EXPECT_THAT(p.system.sleeps, IsEmpty());
}

// ---------------------------------------------------------------------------
// WaitForWindowReady and the keystrokes

TEST_F(HmiWaitsTest, WindowReadyGivesTheWindowUpTo4Seconds) {
  plat::StopFlag stop;
  WindowHandle login = p.windows.Add({.title = "Login"});
  EXPECT_EQ(hmi::WaitForWindowReady(s, login, stop), plat::Delivery::Taken);
  EXPECT_EQ(Elapsed(), 0u);

  p.windows.Script(login).hung = true;
  EXPECT_EQ(hmi::WaitForWindowReady(s, login, stop), plat::Delivery::TimedOut);
  EXPECT_EQ(Elapsed(), 4000u);

  EXPECT_EQ(hmi::WaitForWindowReady(s, WindowHandle::None, stop), plat::Delivery::Gone);
  EXPECT_EQ(Elapsed(), 4000u);
  EXPECT_THAT(p.windows.journal,
              ElementsAre("ready 4000 ms -> Login", "ready 4000 ms -> Login (timed out)",
                          "ready 4000 ms -> (no window)"));
}

TEST_F(HmiWaitsTest, CredentialsAreTypedAsCharactersAndKeys) {
  plat::StopFlag stop;
  WindowHandle login = p.windows.Add({.title = "Login (gw1)"});
  EXPECT_EQ(hmi::SendStringToWindow(s, login, "op", stop), plat::Delivery::Taken);
  EXPECT_TRUE(hmi::SendTabToWindow(s, login));
  EXPECT_EQ(hmi::SendStringToWindow(s, login, "", stop), plat::Delivery::Taken);
  EXPECT_TRUE(hmi::SendTabToWindow(s, login));
  EXPECT_TRUE(hmi::SendEnterToWindow(s, login));
  EXPECT_THAT(p.windows.journal,
              ElementsAre("type 'o' -> Login (gw1)", "type 'p' -> Login (gw1)",
                          "Tab -> Login (gw1)", "Tab -> Login (gw1)", "Enter -> Login (gw1)"));
}

TEST_F(HmiWaitsTest, TextGoesAsUtf16CodeUnitsSurrogatesIncluded) {
  plat::StopFlag stop;
  WindowHandle login = p.windows.Add({.title = "Login"});
  const std::string text = "a \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // "a é€😀"
  hmi::SendStringToWindow(s, login, text, stop);
  std::vector<uint64_t> units;
  for (const fake::JournalEntry& e : p.windows.journal.Records()) {
    EXPECT_EQ(e.intent, "type") << e.Line();
    EXPECT_EQ(e.window, login) << e.Line();
    units.push_back(e.unit);
  }
  EXPECT_THAT(units, ElementsAre(0x61, 0x20, 0xE9, 0x20AC, 0xD83D, 0xDE00));
  EXPECT_EQ(p.windows.Typed(login), text);
}

// A keystroke that is not taken ends the typing there: what follows would
// land in whatever field has the focus by then.
TEST_F(HmiWaitsTest, TypingStopsAtTheFirstKeystrokeNotTaken) {
  struct Case {
    const char* name;
    FakeWindowSetup setup;
    plat::Delivery result;
    std::string typed;
    uint32_t elapsed;
  };
  const Case cases[] = {
      {"hung from the start", [](fake::FakeWindow& w) { w.hung = true; }, plat::Delivery::TimedOut,
       "", hmi::kKeyTimeoutMs},
      {"hangs after two", [](fake::FakeWindow& w) { w.hangsAfterChars = 2; },
       plat::Delivery::TimedOut, "se", hmi::kKeyTimeoutMs},
      {"gone", [](fake::FakeWindow& w) { w.closesAt = 0; }, plat::Delivery::Gone, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakePlatform fp;
    hmi::HmiServices fs = hmi::HmiServices::From(fp.services);
    fake::FakeWindow script{.title = "Login"};
    c.setup(script);
    WindowHandle login = fp.windows.Add(script);
    plat::StopFlag stop;
    const uint32_t start = fp.system.tick;
    EXPECT_EQ(hmi::SendStringToWindow(fs, login, "secret", stop), c.result);
    EXPECT_EQ(fp.windows.Typed(login), c.typed);
    EXPECT_EQ(fp.system.tick - start, c.elapsed);
    EXPECT_LE(fp.windows.journal.size(), c.typed.size() + 1);
  }
}

TEST_F(HmiWaitsTest, ClosingTheLauncherWhileTypingStopsAtOnce) {
  plat::StopFlag stop;
  WindowHandle login = p.windows.Add({.title = "Login"});
  p.windows.onIntent = [&](const fake::JournalEntry& e) {
    if (e.intent == "type")
      stop.Request();
  };
  EXPECT_EQ(hmi::SendStringToWindow(s, login, "secret", stop), plat::Delivery::Stopped);
  EXPECT_EQ(p.windows.Typed(login), "s");
}

// ---------------------------------------------------------------------------
// The trust record

constexpr const char* kTrustKey = "SOFTWARE\\Norwick\\Energy\\Automation\\TLS";

struct TrustNameCase {
  const char* hostText;
  const char* valueName;
};

class TrustValueNames : public testing::TestWithParam<TrustNameCase> {};

TEST_P(TrustValueNames, HostTextAsTypedWithThePortWhenItHasNone) {
  EXPECT_EQ(hmi::TrustValueName(GetParam().hostText), GetParam().valueName);
}

INSTANTIATE_TEST_SUITE_P(Table, TrustValueNames,
                         testing::Values(TrustNameCase{"gw1", "gw1:443"},
                                         TrustNameCase{"10.0.0.5:51443", "10.0.0.5:51443"},
                                         TrustNameCase{"gw1:443", "gw1:443"},
                                         TrustNameCase{"fe80::1", "fe80::1"},
                                         TrustNameCase{" gw1 ", " gw1 :443"},
                                         TrustNameCase{"Gw1.Example", "Gw1.Example:443"},
                                         TrustNameCase{"", ":443"}));

TEST_F(HmiWaitsTest, TrustKeyIsTheHmisOwn) {
  EXPECT_STREQ(hmi::kTrustKeyName, kTrustKey);
}

TEST_F(HmiWaitsTest, RegistryValueExistsOnlyInAKeyThatOpens) {
  EXPECT_FALSE(hmi::CheckRegistryValueExists(s, kTrustKey, "gw1:443")); // no key
  p.registry.AddValue(kTrustKey, "other:443");
  EXPECT_FALSE(hmi::CheckRegistryValueExists(s, kTrustKey, "gw1:443"));
  p.registry.AddValue(kTrustKey, "GW1:443");
  EXPECT_TRUE(
      hmi::CheckRegistryValueExists(s, "software\\norwick\\energy\\automation\\tls", "gw1:443"));
  p.registry.deniedKeys.insert(kTrustKey);
  EXPECT_FALSE(hmi::CheckRegistryValueExists(s, kTrustKey, "gw1:443"));

  const std::string query = std::string("query ") + kTrustKey + " gw1:443";
  EXPECT_EQ(p.registry.journal.front(), query + " (no key)");
  EXPECT_EQ(p.registry.journal[1], query);
  EXPECT_EQ(p.registry.journal.back(), query + " (no key)");
}

TEST_F(HmiWaitsTest, LoginAuthorisedWithZeroChecksOnceAndNeitherPausesNorProcesses) {
  EXPECT_FALSE(hmi::LoginAuthorised(
      s, [] { return std::string("gw1"); }, 0));
  EXPECT_EQ(Elapsed(), 0u);
  EXPECT_EQ(p.ui.processMessagesCalls, 0);
  EXPECT_EQ(p.registry.journal.size(), 1u);

  p.registry.AddValue(kTrustKey, "gw1:443");
  EXPECT_TRUE(hmi::LoginAuthorised(
      s, [] { return std::string("gw1"); }, 0));
}

struct TrustTimingCase {
  const char* name;
  std::optional<uint32_t> recordAfter; // nothing: never created
  bool trusted;
  uint32_t returnsAfter;
};

class TrustTiming : public HmiWaitsTest, public testing::WithParamInterface<TrustTimingCase> {};

TEST_P(TrustTiming, ChecksEvery200MsUntilTheTimeIsUp) {
  const TrustTimingCase& c = GetParam();
  if (c.recordAfter)
    p.registry.AddValue(kTrustKey, "gw1:51443", At(*c.recordAfter));
  EXPECT_EQ(hmi::LoginAuthorised(
                s, [] { return std::string("gw1:51443"); }, 5000),
            c.trusted);
  EXPECT_EQ(Elapsed(), c.returnsAfter);
  EXPECT_THAT(p.system.sleeps, Each(200u));
  EXPECT_EQ(p.ui.processMessagesCalls, static_cast<int>(p.system.sleeps.size()));
}

INSTANTIATE_TEST_SUITE_P(Table, TrustTiming,
                         testing::Values(TrustTimingCase{"AlreadyThere", 0u, true, 0},
                                         TrustTimingCase{"AfterOneSecond", 1000u, true, 1000},
                                         TrustTimingCase{"BetweenTwoChecks", 1050u, true, 1200},
                                         TrustTimingCase{"AtTheLastCheck", 5000u, true, 5000},
                                         TrustTimingCase{"JustTooLate", 5001u, false, 5200},
                                         TrustTimingCase{"Never", std::nullopt, false, 5200}),
                         [](const testing::TestParamInfo<TrustTimingCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(HmiWaitsTest, LoginAuthorisedReadsTheHostBoxAtEachCheck) {
  // The operator corrects the host box while the launcher waits.
  p.registry.AddValue(kTrustKey, "gw2:443");
  int asked = 0;
  auto hostBox = [&] { return std::string(++asked < 3 ? "gw1" : "gw2"); };
  EXPECT_TRUE(hmi::LoginAuthorised(s, hostBox, 5000));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(Elapsed(), 400u);
}

} // namespace
