#include "hmi/WindowFinder.h"
#include "platform/fake/FakePlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using hmi::TFindAction;
using hmi::TFindActions;
using hmi::TWindowFinder;
using plat::WindowHandle;
using testing::ElementsAre;
using testing::IsEmpty;

class WindowFinderTest : public ::testing::Test {
protected:
  fake::FakePlatform p;
  TWindowFinder finder{p.windows, p.ui, p.system};
};

// ---------------------------------------------------------------------------
// Which window each mode finds. Every case asks for a flash, so that a window
// found shows in the journal and a case that finds nothing shows that nothing
// was done.

enum class Scene { Login, Warning, Untitled, Gone, None };

struct ModeCase {
  const char* name;
  hmi::TFindMode mode;
  const char* windowClass;
  const char* title;
  Scene handle;   // for fmWindowHandle
  Scene expected; // Scene::None: nothing found
};

class FinderModes : public WindowFinderTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(FinderModes, FindsTheExpectedWindowAndActsOnlyOnIt) {
  const ModeCase& c = GetParam();
  std::map<Scene, WindowHandle> scene;
  scene[Scene::None] = WindowHandle::None;
  scene[Scene::Gone] = p.windows.Add({.title = "Old login", .closesAt = p.system.tick - 10});
  scene[Scene::Untitled] = p.windows.Add({.title = "", .className = "#32770"});
  scene[Scene::Login] = p.windows.Add({.title = "Login (gw1)"});
  scene[Scene::Warning] = p.windows.Add({.title = "Warning", .className = "SunAwtDialog"});
  // Hidden windows count as well.
  p.windows.Show(scene[Scene::Warning], plat::ShowAs::Hidden);
  p.windows.foreground = scene[Scene::Login];
  p.windows.journal.clear();

  finder.SetMode(c.mode);
  finder.SetWindowClass(c.windowClass);
  finder.SetWindowTitle(c.title);
  finder.SetWindowHandle(scene[c.handle]);
  finder.SetActions({hmi::faFlash});

  bool found = finder.Find();

  EXPECT_EQ(found, c.expected != Scene::None);
  EXPECT_EQ(finder.LastFound(), scene[c.expected]);
  if (c.expected == Scene::None) {
    EXPECT_THAT(p.windows.journal, IsEmpty());
    EXPECT_EQ(p.ui.processMessagesCalls, 0);
  } else {
    std::string title = c.expected == Scene::Login     ? "Login (gw1)"
                        : c.expected == Scene::Warning ? "Warning"
                                                       : "";
    EXPECT_THAT(p.windows.journal, ElementsAre("flash -> " + title));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FinderModes,
    testing::Values(
        ModeCase{"TitleInOtherLetterCase", hmi::fmWindowTitle, "", "LOGIN (GW1)", Scene::None,
                 Scene::Login},
        ModeCase{"PartOfATitle", hmi::fmWindowTitle, "", "Login", Scene::None, Scene::None},
        ModeCase{"EmptyTitleFindsTheUntitledWindow", hmi::fmWindowTitle, "", "", Scene::None,
                 Scene::Untitled},
        ModeCase{"HiddenWindowByTitle", hmi::fmWindowTitle, "", "warning", Scene::None,
                 Scene::Warning},
        ModeCase{"TitleOfAClosedWindow", hmi::fmWindowTitle, "", "Old login", Scene::None,
                 Scene::None},
        ModeCase{"ClassAloneTakesTheTopmostOfIt", hmi::fmWindowClass, "sunawtframe", "",
                 Scene::None, Scene::Login},
        ModeCase{"ClassAndTitle", hmi::fmWindowClassAndTitle, "SunAwtDialog", "Warning",
                 Scene::None, Scene::Warning},
        ModeCase{"ClassAndTitleOfDifferentWindows", hmi::fmWindowClassAndTitle, "SunAwtDialog",
                 "Login (gw1)", Scene::None, Scene::None},
        ModeCase{"Foreground", hmi::fmNewTopWindow, "", "", Scene::None, Scene::Login},
        ModeCase{"Handle", hmi::fmWindowHandle, "", "", Scene::Warning, Scene::Warning},
        ModeCase{"HandleOfADestroyedWindow", hmi::fmWindowHandle, "", "", Scene::Gone, Scene::None},
        ModeCase{"NoHandle", hmi::fmWindowHandle, "", "", Scene::None, Scene::None},
        ModeCase{"NoObject", hmi::fmVCLObject, "", "Login (gw1)", Scene::None, Scene::None}),
    [](const testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(WindowFinderTest, NothingInTheForegroundFindsNothing) {
  p.windows.Add({.title = "Login (gw1)"});
  finder.SetMode(hmi::fmNewTopWindow);
  EXPECT_FALSE(finder.Find());
  EXPECT_EQ(finder.LastFound(), WindowHandle::None);
}

TEST_F(WindowFinderTest, AFailedFindForgetsTheLastWindow) {
  WindowHandle login = p.windows.Add({.title = "Login"});
  finder.SetMode(hmi::fmWindowTitle);
  finder.SetWindowTitle("Login");
  ASSERT_TRUE(finder.Find());
  ASSERT_EQ(finder.LastFound(), login);
  finder.SetWindowTitle("Warning");
  EXPECT_FALSE(finder.Find());
  EXPECT_EQ(finder.LastFound(), WindowHandle::None);
}

// ---------------------------------------------------------------------------
// fmVCLObject: the window of the form that is, or owns, the object.

struct Component : hmi::IOwnedObject {
  explicit Component(hmi::IOwnedObject* owner = nullptr,
                     std::optional<WindowHandle> window = std::nullopt)
      : owner(owner), window(window) {}
  hmi::IOwnedObject* owner;
  std::optional<WindowHandle> window; // set for a form
  hmi::IOwnedObject* Owner() const override { return owner; }
  std::optional<WindowHandle> FormWindow() const override { return window; }
};

TEST_F(WindowFinderTest, ObjectModeClimbsTheOwnersToTheFirstForm) {
  WindowHandle formWindow = p.windows.Add({.title = "Veltra", .className = "TLoginForm"});
  WindowHandle otherWindow = p.windows.Add({.title = "Other", .className = "TOtherForm"});
  Component application;
  Component outerForm(&application, otherWindow);
  Component form(&outerForm, formWindow);
  Component panel(&form);
  Component button(&panel);
  Component orphan(&application);
  finder.SetMode(hmi::fmVCLObject);

  finder.SetVCLObject(&button);
  EXPECT_TRUE(finder.Find());
  EXPECT_EQ(finder.LastFound(), formWindow);

  finder.SetVCLObject(&form); // a form stands for itself
  EXPECT_TRUE(finder.Find());
  EXPECT_EQ(finder.LastFound(), formWindow);

  finder.SetVCLObject(&orphan);
  EXPECT_FALSE(finder.Find());
  EXPECT_EQ(finder.LastFound(), WindowHandle::None);
}

TEST_F(WindowFinderTest, ObjectModeOnAFormWithoutLiveWindowFindsNothing) {
  Component form(nullptr, WindowHandle::None);
  Component gone(nullptr, p.windows.Add({.title = "Gone", .closesAt = p.system.tick}));
  finder.SetMode(hmi::fmVCLObject);
  finder.SetVCLObject(&form);
  EXPECT_FALSE(finder.Find());
  finder.SetVCLObject(&gone);
  EXPECT_FALSE(finder.Find());
}

TEST_F(WindowFinderTest, TheFinderItselfFindsItsOwningForm) {
  WindowHandle formWindow = p.windows.Add({.title = "Veltra", .className = "TLoginForm"});
  Component form(nullptr, formWindow);
  TWindowFinder owned(p.windows, p.ui, p.system, &form);
  owned.SetVCLObject(&owned);
  EXPECT_TRUE(owned.Find());
  EXPECT_EQ(owned.LastFound(), formWindow);
}

// ---------------------------------------------------------------------------
// Actions: what each one does and in which order they run.

class FinderActionsTest : public WindowFinderTest {
protected:
  void SetUp() override {
    window = p.windows.Add({.title = "Login"});
    finder.SetMode(hmi::fmWindowHandle);
    finder.SetWindowHandle(window);
  }
  WindowHandle window;
};

TEST_F(FinderActionsTest, EveryActionInOrdinalOrderWithItsCall) {
  finder.SetActions(TFindActions::FromBits(0x07FF));
  ASSERT_TRUE(finder.Find());
  EXPECT_THAT(p.windows.journal,
              ElementsAre("flash -> Login", "to front -> Login", "restack bottom -> Login",
                          "restack topmost -> Login", "restack not topmost -> Login",
                          "show maximized -> Login", "show minimized -> Login",
                          "show restored -> Login", "show shown -> Login", "show hidden -> Login",
                          "close 5000 ms -> Login"));
  EXPECT_FALSE(p.windows.Exists(window));
  EXPECT_EQ(p.ui.processMessagesCalls, 11);
}

TEST_F(FinderActionsTest, MinimiseAndRestoreRunInThatOrder) {
  finder.SetActions({hmi::faRestore, hmi::faMinimize});
  ASSERT_TRUE(finder.Find());
  EXPECT_THAT(p.windows.journal, ElementsAre("show minimized -> Login", "show restored -> Login"));
  EXPECT_EQ(p.windows.ShowState(window), plat::ShowAs::Restored);
}

TEST_F(FinderActionsTest, MessagesRunAfterEachActionAndNotWithoutOne) {
  std::vector<size_t> journalSizeAtProcessing;
  p.ui.onProcessMessages = [&] { journalSizeAtProcessing.push_back(p.windows.journal.size()); };

  ASSERT_TRUE(finder.Find()); // no actions
  EXPECT_THAT(journalSizeAtProcessing, IsEmpty());

  finder.SetActions({hmi::faFlash, hmi::faShow, hmi::faBringToNewTop});
  ASSERT_TRUE(finder.Find());
  EXPECT_THAT(journalSizeAtProcessing, ElementsAre(1u, 2u, 3u));
}

TEST_F(FinderActionsTest, BitsAboveTheLastActionAreNeverPerformed) {
  finder.SetActions(TFindActions::FromBits(0xF800));
  EXPECT_TRUE(finder.Find());
  EXPECT_THAT(p.windows.journal, IsEmpty());
  EXPECT_EQ(p.ui.processMessagesCalls, 0);
}

TEST_F(FinderActionsTest, DelayIsSleptAfterEachActionAndNeverNegative) {
  finder.SetDelay(-5);
  EXPECT_EQ(finder.Delay(), 0);
  finder.SetActions({hmi::faFlash, hmi::faShow});
  finder.Find();
  EXPECT_THAT(p.system.sleeps, IsEmpty());

  finder.SetDelay(30);
  EXPECT_EQ(finder.Delay(), 30);
  finder.Find();
  EXPECT_THAT(p.system.sleeps, ElementsAre(30u, 30u));
}

TEST_F(FinderActionsTest, ActionOrderIsClampedBeforeTheHandlerSeesIt) {
  std::vector<int32_t> seen;
  EXPECT_EQ(finder.GetActionOrder(-3), hmi::faFlash);
  EXPECT_EQ(finder.GetActionOrder(12), hmi::faClose);
  EXPECT_EQ(finder.GetActionOrder(4), hmi::faMakeNoNewTopmost);
  finder.SetOnActionOrder([&](TWindowFinder& sender, int32_t index, TFindAction& action) {
    EXPECT_EQ(&sender, &finder);
    EXPECT_EQ(action, static_cast<TFindAction>(index));
    seen.push_back(index);
  });
  finder.GetActionOrder(-3);
  finder.GetActionOrder(12);
  EXPECT_THAT(seen, ElementsAre(0, 10));
}

TEST_F(FinderActionsTest, HandlerReversesTheOrder) {
  finder.SetOnActionOrder([](TWindowFinder&, int32_t index, TFindAction& action) {
    action = static_cast<TFindAction>(hmi::faClose - index);
  });
  finder.SetActions({hmi::faMinimize, hmi::faRestore, hmi::faFlash});
  finder.Find();
  EXPECT_THAT(p.windows.journal,
              ElementsAre("show restored -> Login", "show minimized -> Login", "flash -> Login"));
}

TEST_F(FinderActionsTest, HandlerRepeatsOneActionAndDropsTheOthers) {
  // Every position yields faFlash: it runs eleven times, and faHide, though
  // in the set, never.
  finder.SetOnActionOrder(
      [](TWindowFinder&, int32_t, TFindAction& action) { action = hmi::faFlash; });
  finder.SetActions({hmi::faFlash, hmi::faHide});
  finder.Find();
  EXPECT_EQ(p.windows.journal.size(), 11u);
  EXPECT_EQ(p.windows.journal.back(), "flash -> Login");
  EXPECT_EQ(p.windows.ShowState(window), plat::ShowAs::Shown);
}

TEST_F(FinderActionsTest, ADerivedFinderDecidesTheOrder) {
  struct CloseFirst : TWindowFinder {
    using TWindowFinder::TWindowFinder;
    TFindAction GetActionOrder(int32_t Index) override {
      return Index == 0 ? hmi::faClose : TWindowFinder::GetActionOrder(Index - 1);
    }
  } derived(p.windows, p.ui, p.system);
  derived.SetMode(hmi::fmWindowHandle);
  derived.SetWindowHandle(window);
  derived.SetActions({hmi::faClose, hmi::faFlash});
  derived.Find();
  // Closed first; the flash that follows finds no window any more.
  EXPECT_THAT(p.windows.journal, ElementsAre("close 5000 ms -> Login", "flash -> (no window)"));
}

// ---------------------------------------------------------------------------
// The login form's wrappers.

TEST_F(WindowFinderTest, WrappersSearchByTitleAndKeepTheirSettings) {
  WindowHandle login = p.windows.Add({.title = "Login (gw1)"});
  finder.SetMode(hmi::fmWindowClass);
  finder.SetActions({hmi::faFlash});

  EXPECT_EQ(hmi::FindWindowByTitle(finder, "login (gw1)"), login);
  EXPECT_EQ(finder.Mode(), hmi::fmWindowTitle);
  EXPECT_EQ(finder.WindowTitle(), "login (gw1)");
  EXPECT_EQ(finder.Actions(), TFindActions{});
  EXPECT_THAT(p.windows.journal, IsEmpty());
  EXPECT_EQ(hmi::FindWindowByTitle(finder, "Login"), WindowHandle::None);

  hmi::MinimizeWindow(finder, "Login (gw1)");
  EXPECT_EQ(finder.Actions(), TFindActions{hmi::faMinimize});
  hmi::HideWindow(finder, "Login (gw1)");
  EXPECT_EQ(finder.Actions(), TFindActions{hmi::faHide});
  EXPECT_THAT(p.windows.journal,
              ElementsAre("show minimized -> Login (gw1)", "show hidden -> Login (gw1)"));
}

TEST_F(WindowFinderTest, CloseWindowTellsWhetherAWindowWasAsked) {
  WindowHandle stubborn = p.windows.Add({.title = "Login", .refusesClose = true});
  EXPECT_TRUE(hmi::CloseWindow(finder, "Login"));
  EXPECT_EQ(finder.Actions().Bits(), 1024);
  EXPECT_TRUE(p.windows.Exists(stubborn));

  p.windows.Script(stubborn).refusesClose = false;
  EXPECT_TRUE(hmi::CloseWindow(finder, "Login"));
  EXPECT_FALSE(p.windows.Exists(stubborn));
  EXPECT_FALSE(hmi::CloseWindow(finder, "Login"));
  EXPECT_THAT(p.windows.journal, ElementsAre("close 5000 ms -> Login", "close 5000 ms -> Login"));
}

} // namespace
