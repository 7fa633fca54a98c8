#include "hmi/WindowFinder.h"

#include <algorithm>

namespace hmi {
namespace {

// Only the z-order changes; the window is neither moved, sized nor activated.
constexpr uint32_t kZOrderOnly = 0x0001 | 0x0002 | 0x0010; // SWP_NOSIZE, SWP_NOMOVE, SWP_NOACTIVATE

constexpr int32_t kSwHide = 0;
constexpr int32_t kSwShowMaximized = 3;
constexpr int32_t kSwShow = 5;
constexpr int32_t kSwMinimize = 6;
constexpr int32_t kSwRestore = 9;

} // namespace

TWindowFinder::TWindowFinder(plat::IWindows& windows, plat::IUi& ui, plat::ISystem& system,
                             IOwnedObject* owner)
    : windows_(windows), ui_(ui), system_(system), owner_(owner) {}

void TWindowFinder::SetDelay(int32_t ADelay) {
  FDelay = std::max(ADelay, 0);
}

TFindAction TWindowFinder::GetActionOrder(int32_t Index) {
  Index = std::clamp(Index, 0, kLastFindAction);
  TFindAction action = static_cast<TFindAction>(Index);
  if (FOnActionOrder)
    FOnActionOrder(*this, Index, action);
  return action;
}

plat::WindowHandle TWindowFinder::Candidate() {
  switch (FMode) {
  case fmVCLObject: {
    if (FVCLObject == nullptr)
      return plat::WindowHandle::None;
    if (auto window = FVCLObject->FormWindow())
      return *window;
    for (IOwnedObject* o = FVCLObject->Owner(); o != nullptr; o = o->Owner())
      if (auto window = o->FormWindow())
        return *window;
    return plat::WindowHandle::None;
  }
  case fmNewTopWindow:
    return windows_.GetForegroundWindow();
  case fmWindowClass:
    return windows_.FindWindow(FWindowClass, std::nullopt);
  case fmWindowTitle:
    return windows_.FindWindow(std::nullopt, FWindowTitle);
  case fmWindowClassAndTitle:
    return windows_.FindWindow(FWindowClass, FWindowTitle);
  case fmWindowHandle:
    return FWindowHandle;
  }
  return plat::WindowHandle::None;
}

void TWindowFinder::Perform(TFindAction action, plat::WindowHandle window) {
  switch (action) {
  case faFlash:
    windows_.FlashWindow(window, true);
    break;
  case faBringToNewTop:
    windows_.SetForegroundWindow(window);
    break;
  case faSendToBack:
    windows_.SetWindowPos(window, plat::kHwndBottom, 0, 0, 0, 0, kZOrderOnly);
    break;
  case faMakeNewTopmost:
    windows_.SetWindowPos(window, plat::kHwndTopmost, 0, 0, 0, 0, kZOrderOnly);
    break;
  case faMakeNoNewTopmost:
    windows_.SetWindowPos(window, plat::kHwndNoTopmost, 0, 0, 0, 0, kZOrderOnly);
    break;
  case faMaximize:
    windows_.ShowWindow(window, kSwShowMaximized);
    break;
  case faMinimize:
    windows_.ShowWindow(window, kSwMinimize);
    break;
  case faRestore:
    windows_.ShowWindow(window, kSwRestore);
    break;
  case faShow:
    windows_.ShowWindow(window, kSwShow);
    break;
  case faHide:
    windows_.ShowWindow(window, kSwHide);
    break;
  case faClose:
    windows_.SendMessage(window, plat::kWmClose, 0, 0);
    break;
  }
  // Ordinals 11 to 15 can be in the set but stand for no action.
}

bool TWindowFinder::Find() {
  FLastFound = plat::WindowHandle::None;
  plat::WindowHandle candidate = Candidate();
  if (candidate == plat::WindowHandle::None || !windows_.IsWindow(candidate))
    return false;
  FLastFound = candidate;
  // The fields are read afresh at each position: the messages processed
  // after an action may run a handler that uses this finder too.
  for (int32_t position = 0; position <= kLastFindAction; ++position) {
    TFindAction action = GetActionOrder(position);
    if (!FActions.Contains(action))
      continue;
    Perform(action, FLastFound);
    ui_.ProcessMessages();
    if (FDelay > 0)
      system_.Sleep(static_cast<uint32_t>(FDelay));
  }
  return true;
}

// ---------------------------------------------------------------------------

namespace {

bool FindByTitle(TWindowFinder& finder, const std::string& title, TFindActions actions) {
  finder.SetMode(fmWindowTitle);
  finder.SetWindowTitle(title);
  finder.SetActions(actions);
  return finder.Find();
}

} // namespace

plat::WindowHandle FindWindowByTitle(TWindowFinder& finder, const std::string& aWindowTitle) {
  if (!FindByTitle(finder, aWindowTitle, {}))
    return plat::WindowHandle::None;
  return finder.LastFound();
}

void HideWindow(TWindowFinder& finder, const std::string& aWindowTitle) {
  FindByTitle(finder, aWindowTitle, {faHide});
}

void MinimizeWindow(TWindowFinder& finder, const std::string& aWindowTitle) {
  FindByTitle(finder, aWindowTitle, {faMinimize});
}

bool CloseWindow(TWindowFinder& finder, const std::string& aWindowTitle) {
  return FindByTitle(finder, aWindowTitle, {faClose});
}

} // namespace hmi
