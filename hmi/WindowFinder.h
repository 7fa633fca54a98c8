// Finds one top-level window by one of six criteria and performs a chosen set
// of window actions on it, in an order that a handler may change.
#pragma once

#include "common/DiagnosticLog.h"
#include "hmi/HmiServices.h"
#include "platform/Desktop.h"
#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

namespace hmi {

// An object of the launcher's UI that has an owner, as the fmVCLObject mode
// sees it: forms have a window, everything else only an owner.
class IOwnedObject {
public:
  virtual ~IOwnedObject() = default;
  // The object that owns (and frees) this one; null at the top.
  virtual IOwnedObject* Owner() const = 0;
  // A form's window (None while it has none); nothing when this is no form.
  virtual std::optional<plat::WindowHandle> FormWindow() const = 0;
};

enum TFindMode : uint8_t {
  fmVCLObject,           // the window of the form that is, or owns, VCLObject
  fmNewTopWindow,        // the foreground window
  fmWindowClass,         // by class name
  fmWindowTitle,         // by whole title
  fmWindowClassAndTitle, // by both
  fmWindowHandle,        // WindowHandle itself
};

enum TFindAction : uint8_t {
  faFlash,
  faBringToNewTop,
  faSendToBack,
  faMakeNewTopmost,
  faMakeNoNewTopmost,
  faMaximize,
  faMinimize,
  faRestore,
  faShow,
  faHide,
  faClose,
};

inline constexpr int32_t kLastFindAction = faClose;

// A set of actions over 16 bits: bit n stands for the action of ordinal n.
class TFindActions {
public:
  constexpr TFindActions() = default;
  constexpr TFindActions(std::initializer_list<TFindAction> actions) {
    for (TFindAction a : actions)
      if (a <= 15)
        bits_ = static_cast<uint16_t>(bits_ | (1u << a));
  }
  static constexpr TFindActions FromBits(uint16_t bits) {
    TFindActions set;
    set.bits_ = bits;
    return set;
  }
  constexpr uint16_t Bits() const { return bits_; }
  // Ordinals above 15 are in no set.
  constexpr bool Contains(TFindAction action) const {
    return action <= 15 && (bits_ >> action & 1u) != 0;
  }
  constexpr bool operator==(const TFindActions&) const = default;

private:
  uint16_t bits_ = 0;
};

class TWindowFinder;

// Whether the finder may take a window that matches its criteria. A finder
// without one takes the first match, whichever program made it.
using TWindowOwnerRule = std::function<bool(plat::WindowHandle)>;

// May replace the action that comes at position `Index`.
using TOnActionOrderEvent =
    std::function<void(TWindowFinder& Sender, int32_t Index, TFindAction& Action)>;

class TWindowFinder : public IOwnedObject {
public:
  // Actions go through `windows`; after each one the pending messages of the
  // GUI queue run once (`ui`), and the delay is slept (`system`). `owner`, as
  // for any component, is what owns the finder.
  TWindowFinder(plat::IWindows& windows, plat::IUi& ui, plat::ISystem& system,
                IOwnedObject* owner = nullptr);
  virtual ~TWindowFinder() = default;
  TWindowFinder(const TWindowFinder&) = delete;
  TWindowFinder& operator=(const TWindowFinder&) = delete;

  // Looks for the window by the mode, keeps it in LastFound and performs the
  // actions on it; false, with nothing performed, when there is no such
  // window.
  bool Find();

  // The action at position `Index` (0 to 10, clamped): by default the action
  // of that ordinal, which OnActionOrder may replace.
  virtual TFindAction GetActionOrder(int32_t Index);

  TFindMode Mode() const { return FMode; }
  void SetMode(TFindMode value) { FMode = value; }
  TFindActions Actions() const { return FActions; }
  void SetActions(TFindActions value) { FActions = value; }
  IOwnedObject* VCLObject() const { return FVCLObject; }
  void SetVCLObject(IOwnedObject* value) { FVCLObject = value; }
  const std::string& WindowClass() const { return FWindowClass; }
  void SetWindowClass(const std::string& value) { FWindowClass = value; }
  const std::string& WindowTitle() const { return FWindowTitle; }
  void SetWindowTitle(const std::string& value) { FWindowTitle = value; }
  plat::WindowHandle WindowHandle() const { return FWindowHandle; }
  void SetWindowHandle(plat::WindowHandle value) { FWindowHandle = value; }
  int32_t Delay() const { return FDelay; }
  // A negative delay is taken as none.
  void SetDelay(int32_t ADelay);
  // By class and by title, the finder takes the first matching window, from
  // the top of the z-order, that the rule accepts.
  const TWindowOwnerRule& OwnerRule() const { return FOwnerRule; }
  void SetOwnerRule(TWindowOwnerRule value) { FOwnerRule = std::move(value); }
  const TOnActionOrderEvent& OnActionOrder() const { return FOnActionOrder; }
  void SetOnActionOrder(TOnActionOrderEvent value) { FOnActionOrder = std::move(value); }
  plat::WindowHandle LastFound() const { return FLastFound; }
  // A close request gives up waiting for its answer once this is requested.
  void SetStop(const plat::StopFlag* stop) { stop_ = stop; }

  IOwnedObject* Owner() const override { return owner_; }
  std::optional<plat::WindowHandle> FormWindow() const override { return std::nullopt; }

private:
  plat::WindowHandle Candidate();
  void Perform(TFindAction action, plat::WindowHandle window);

  plat::WindowHandle FLastFound = plat::WindowHandle::None;
  TFindMode FMode = fmVCLObject;
  TFindActions FActions;
  IOwnedObject* FVCLObject = nullptr;
  plat::WindowHandle FWindowHandle = plat::WindowHandle::None;
  std::string FWindowClass;
  std::string FWindowTitle;
  int32_t FDelay = 0;
  TOnActionOrderEvent FOnActionOrder;
  TWindowOwnerRule FOwnerRule;

  plat::IWindows& windows_;
  plat::IUi& ui_;
  plat::ISystem& system_;
  IOwnedObject* owner_;
  const plat::StopFlag* stop_ = nullptr;
};

// The login form's uses of its finder. Each sets the mode to fmWindowTitle,
// the title and the actions; the settings stay in the finder afterwards.

// The first top-level window with that whole title (letter case aside), or
// None.
plat::WindowHandle FindWindowByTitle(TWindowFinder& finder, const std::string& aWindowTitle);
void HideWindow(TWindowFinder& finder, const std::string& aWindowTitle);
void MinimizeWindow(TWindowFinder& finder, const std::string& aWindowTitle);
// Asks the window to close and waits for its answer; true when there was a
// window, whether or not it then closed.
bool CloseWindow(TWindowFinder& finder, const std::string& aWindowTitle);

// Whose windows may be closed and typed into. A window with the HMI's title
// may come from any program: the operator's password goes only to the HMI
// this launch started, and only the HMI's windows are asked to close. A
// window passed over is noted once in the developer log, without anything
// typed or secret.

// Windows of the process behind `processHandle` (as CreateProcess handed it
// back; the handle is kept open, so its id names no other process) and of
// the processes it started, and theirs in turn: the HMI's first program may
// start the real one. A child counts only when it started after its parent
// (an id of an ended process may come back for another one). Handle 0
// accepts no window.
TWindowOwnerRule OwnedByProcessTree(const HmiServices& s, uint32_t processHandle,
                                    launch::DiagnosticLog& log);

// Windows of processes that run a program from below `folder` (the HMI's
// runtime images); an empty folder accepts no window.
TWindowOwnerRule OwnedByProgramUnder(const HmiServices& s, const std::string& folder,
                                     launch::DiagnosticLog& log);

// Before the HMI starts: the finder takes only windows of programs run from
// the JRE images, the folder that holds `jreImageFolder`.
void KeepToImagePrograms(TWindowFinder& finder, const HmiServices& s,
                         const std::string& jreImageFolder, launch::DiagnosticLog& log);

// Once the HMI started: the finder takes only its process tree's windows.
void KeepToProcessTree(TWindowFinder& finder, const HmiServices& s, uint32_t processHandle,
                       launch::DiagnosticLog& log);

} // namespace hmi
