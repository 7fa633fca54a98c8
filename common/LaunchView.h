// What the steps of a launch below the window tell it, or read from it when a
// step says so. The login window implements it; a test can keep a journal.
#pragma once

#include "platform/Stop.h"

#include <string>

namespace launch {

class ILaunchView {
public:
  virtual ~ILaunchView() = default;
  // The status bar's text.
  virtual void SetStatusText(const std::string& text) = 0;
  // How far the current download or extraction has come, shown beside the
  // status text; empty clears it.
  virtual void ShowProgress(const std::string& text) = 0;
  // Lets the window's pending messages run once (repaints, the operator's
  // clicks), between long steps.
  virtual void ProcessMessages() = 0;
  // The host box, as typed: a host, optionally ":" and a port.
  virtual std::string HostText() = 0;
  virtual void SetHostText(const std::string& text) = 0;
  // The user-name and password boxes, as typed.
  virtual std::string UserNameText() = 0;
  virtual std::string PasswordText() = 0;
  // The selected operational mode (an OperationalMode), -1 for none.
  virtual int SelectedMode() = 0;
  // Hides the Browse button: the package folder cannot be changed.
  virtual void HideBrowse() = 0;
  // Requested once the operator closed the window: the step in progress gives
  // up at its next piece, cleans up as after a failure, shows nothing and
  // starts nothing. A worker thread may read it.
  virtual const plat::StopFlag& Stop() const {
    static const plat::StopFlag never;
    return never;
  }
  bool StopRequested() const { return Stop().Requested(); }
};

} // namespace launch
