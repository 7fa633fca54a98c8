#include "hmi/WindowFinder.h"

#include "common/Paths.h"
#include "common/Text.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace hmi {
namespace {

// The longest a window asked to close is waited for: a hung window must not
// hold the launcher.
constexpr uint32_t kCloseAnswerMs = 5000;

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
  if (FOwnerRule &&
      (FMode == fmWindowClass || FMode == fmWindowTitle || FMode == fmWindowClassAndTitle)) {
    const bool byClass = FMode != fmWindowTitle;
    const bool byTitle = FMode != fmWindowClass;
    for (plat::WindowHandle window :
         windows_.FindWindows(byClass ? std::optional(FWindowClass) : std::nullopt,
                              byTitle ? std::optional(FWindowTitle) : std::nullopt))
      if (FOwnerRule(window))
        return window;
    return plat::WindowHandle::None;
  }
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
    windows_.Flash(window);
    break;
  case faBringToNewTop:
    windows_.BringToFront(window);
    break;
  case faSendToBack:
    windows_.Restack(window, plat::Stacking::Bottom);
    break;
  case faMakeNewTopmost:
    windows_.Restack(window, plat::Stacking::Topmost);
    break;
  case faMakeNoNewTopmost:
    windows_.Restack(window, plat::Stacking::NoTopmost);
    break;
  case faMaximize:
    windows_.Show(window, plat::ShowAs::Maximized);
    break;
  case faMinimize:
    windows_.Show(window, plat::ShowAs::Minimized);
    break;
  case faRestore:
    windows_.Show(window, plat::ShowAs::Restored);
    break;
  case faShow:
    windows_.Show(window, plat::ShowAs::Shown);
    break;
  case faHide:
    windows_.Show(window, plat::ShowAs::Hidden);
    break;
  case faClose: {
    static const plat::StopFlag never;
    windows_.AskToClose(window, kCloseAnswerMs, stop_ != nullptr ? *stop_ : never);
    break;
  }
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

// ---------------------------------------------------------------------------

namespace {

// Notes each window passed over once: the finder looks again at every wake
// of a wait.
class PassedOver {
public:
  explicit PassedOver(launch::DiagnosticLog& log) : log_(log) {}
  void Note(const HmiServices& s, plat::WindowHandle window, uint32_t processId,
            const char* because) {
    if (!noted_.insert(static_cast<uint64_t>(window)).second)
      return;
    char handle[24];
    std::snprintf(handle, sizeof handle, "0x%llx",
                  static_cast<unsigned long long>(static_cast<uint64_t>(window)));
    const std::string program = s.processes.ProcessImagePath(processId).value_or("unknown");
    log_.LogMessage("Window " + std::string(handle) + " of process " + std::to_string(processId) +
                    " (" + program + ") passed over: " + because + ".");
  }

private:
  launch::DiagnosticLog& log_;
  std::set<uint64_t> noted_;
};

bool InTree(const std::map<uint32_t, plat::ProcessEntry>& processes, uint32_t root,
            uint32_t processId) {
  // Bounded: a snapshot taken while processes come and go may hold a loop.
  for (size_t depth = 0; depth <= processes.size() && processId != 0; ++depth) {
    if (processId == root)
      return true;
    auto entry = processes.find(processId);
    if (entry == processes.end())
      return false;
    const uint32_t parentId = entry->second.parentId;
    auto parent = processes.find(parentId);
    // A parent that started after its child is a later process under an
    // ended parent's id.
    if (parent != processes.end() && parent->second.started != 0 && entry->second.started != 0 &&
        parent->second.started > entry->second.started)
      return false;
    if (parentId == root)
      return true;
    if (parent == processes.end())
      return false;
    processId = parentId;
  }
  return false;
}

} // namespace

TWindowOwnerRule OwnedByProcessTree(const HmiServices& s, uint32_t processHandle,
                                    launch::DiagnosticLog& log) {
  const uint32_t root = processHandle == 0 ? 0 : s.processes.ProcessIdOf(processHandle);
  auto passed = std::make_shared<PassedOver>(log);
  return [s, root, passed](plat::WindowHandle window) {
    const uint32_t owner = s.windows.WindowProcessId(window);
    if (root != 0 && owner == root)
      return true;
    bool inTree = false;
    if (root != 0 && owner != 0) {
      std::map<uint32_t, plat::ProcessEntry> processes;
      for (plat::ProcessEntry& entry : s.processes.RunningProcesses())
        processes[entry.id] = std::move(entry);
      inTree = InTree(processes, root, owner);
    }
    if (!inTree)
      passed->Note(s, window, owner, "not a process of the HMI this launch started");
    return inTree;
  };
}

TWindowOwnerRule OwnedByProgramUnder(const HmiServices& s, const std::string& folder,
                                     launch::DiagnosticLog& log) {
  std::string prefix = text::ToLowerAscii(folder);
  std::replace(prefix.begin(), prefix.end(), '/', '\\');
  while (!prefix.empty() && prefix.back() == '\\')
    prefix.pop_back();
  auto passed = std::make_shared<PassedOver>(log);
  return [s, prefix, passed](plat::WindowHandle window) {
    const uint32_t owner = s.windows.WindowProcessId(window);
    bool ours = false;
    if (!prefix.empty() && owner != 0)
      if (std::optional<std::string> image = s.processes.ProcessImagePath(owner)) {
        std::string path = text::ToLowerAscii(*image);
        std::replace(path.begin(), path.end(), '/', '\\');
        ours = path.size() > prefix.size() + 1 && path.compare(0, prefix.size(), prefix) == 0 &&
               path[prefix.size()] == '\\' && path.find("\\..\\") == std::string::npos;
      }
    if (!ours)
      passed->Note(s, window, owner, "not a program of the HMI's runtime images");
    return ours;
  };
}

void KeepToImagePrograms(TWindowFinder& finder, const HmiServices& s,
                         const std::string& jreImageFolder, launch::DiagnosticLog& log) {
  std::string image = jreImageFolder;
  while (!image.empty() && (image.back() == '\\' || image.back() == '/'))
    image.pop_back();
  const std::string images = image.empty() ? std::string() : paths::ParentFolderOf(image);
  finder.SetOwnerRule(OwnedByProgramUnder(s, images, log));
}

void KeepToProcessTree(TWindowFinder& finder, const HmiServices& s, uint32_t processHandle,
                       launch::DiagnosticLog& log) {
  finder.SetOwnerRule(OwnedByProcessTree(s, processHandle, log));
}

} // namespace hmi
