// The launcher's one window as its logic sees it: controls addressed by name,
// and the events that the toolkit delivers back.
#pragma once

#include <memory>
#include <string>

namespace plat {

// The window's controls, in declaration order. The numeric values double as
// the Win32 control identifiers, so tests outside the process can find them.
enum class ControlId : int {
  Label1 = 101,
  lblUserName = 102,
  lblPassword = 103,
  edtHost = 104,
  edtUserName = 105,
  edtPassword = 106,
  btnLaunch = 107,
  btnImportPackage = 108,
  statusBar = 109,
  rgOperationalMode = 110,
  lblPackageFolder = 111,
  Image1 = 112,
  edtPackageFolder = 113,
  btnBrowse = 114,
};

// The radio buttons of rgOperationalMode carry these identifiers: item i is
// kRadioItemBase + i.
constexpr int kRadioItemBase = 120;
constexpr int kOperationalModeCount = 3;

// What the toolkit reports to the window's logic. Each call is one message of
// the UI thread's queue.
class IFormEvents {
public:
  virtual ~IFormEvents() = default;
  virtual void FormShow() = 0;
  virtual void Timer1Timer() = 0;
  virtual void ButtonClick(ControlId button) = 0;
  // The operator changed the selection of rgOperationalMode to item `index`;
  // ItemIndex() already returns it. Not reported when the selection stays.
  virtual void OperationalModeSelected(int index) = 0;
  // A help request (F1); returns whether it was handled.
  virtual bool FormHelp() = 0;
  // The operator closed the window (its close box, Alt+F4, a close request
  // from outside); the window goes once this returns.
  virtual void FormClose() {}
};

// The window and its controls.
class IFormView {
public:
  virtual ~IFormView() = default;
  virtual std::string Caption() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Text of an edit box, a label's caption, a button's caption or the status
  // bar's simple text.
  virtual std::string Text(ControlId control) = 0;
  virtual void SetText(ControlId control, const std::string& text) = 0;
  // The status bar's second part, beside the status text: how far a
  // download or an extraction has come.
  virtual std::string ProgressText() = 0;
  virtual void SetProgressText(const std::string& text) = 0;
  virtual bool Visible(ControlId control) = 0;
  virtual void SetVisible(ControlId control, bool visible) = 0;
  // A disabled control shows greyed out and takes no clicks.
  virtual bool Enabled(ControlId control) = 0;
  virtual void SetEnabled(ControlId control, bool enabled) = 0;
  // Selected item of rgOperationalMode, -1 for none. Setting it does not
  // report an event: the logic runs its own handler.
  virtual int ItemIndex() = 0;
  virtual void SetItemIndex(int index) = 0;
  virtual void SetTimerEnabled(bool enabled) = 0;
  // Shows the window (the toolkit then reports FormShow).
  virtual void Show() = 0;
  // Closes the window; the message loop ends once the current handler returns.
  virtual void Close() = 0;
};

// Creates the window and runs the message loop.
class IToolkit {
public:
  virtual ~IToolkit() = default;
  // Creates the window with every control at its place, hidden. Events are
  // delivered to `events`, which must outlive the window.
  virtual std::unique_ptr<IFormView> CreateLoginWindow(IFormEvents& events) = 0;
  // Runs the message loop until the main window has closed.
  virtual void RunMessageLoop() = 0;
};

} // namespace plat
