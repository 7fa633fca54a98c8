// The login window on Win32: a top-level window of class "TLoginForm" whose
// controls are built from kLoginFormLayout, each with its ControlId as its
// Win32 control id, so that other processes can find them.
#pragma once

#include "platform/FormLayout.h"
#include "platform/FormView.h"

#include "platform/win32/LogoPainter.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Handles.h"

#include <array>
#include <string>

namespace plat::win32 {

class LoginWindow : public IFormView {
public:
  // Creates the window and its controls, hidden.
  explicit LoginWindow(IFormEvents& events);
  ~LoginWindow() override;
  LoginWindow(const LoginWindow&) = delete;
  LoginWindow& operator=(const LoginWindow&) = delete;

  std::string Caption() override;
  void SetCaption(const std::string& caption) override;
  std::string Text(ControlId control) override;
  void SetText(ControlId control, const std::string& text) override;
  std::string ProgressText() override;
  void SetProgressText(const std::string& text) override;
  bool Visible(ControlId control) override;
  void SetVisible(ControlId control, bool visible) override;
  bool Enabled(ControlId control) override;
  void SetEnabled(ControlId control, bool enabled) override;
  int ItemIndex() override;
  void SetItemIndex(int index) override;
  void SetTimerEnabled(bool enabled) override;
  void Show() override;
  void Close() override;

  // Null once the window has been destroyed.
  HWND Handle() const { return hwnd_; }

  // The window's own keyboard handling for a message from the queue; true
  // when it has been handled and must not be dispatched.
  bool PreTranslate(MSG& msg);

private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  class CaptionMeasure;
  void CreateControls();
  void CreateControl(const ControlLayout& layout, const CaptionMeasure& measure);
  void CreateRadioItems(const RECT& group);
  // The place and size of a control showing `caption`, at the window's DPI.
  RECT ControlRect(const ControlLayout& layout, const std::wstring& caption,
                   const CaptionMeasure& measure) const;
  // Radio item `index` inside the group box at `group`.
  RECT RadioRect(const RECT& group, int index) const;
  void SetStatusParts(HWND statusBar, int width);
  // Places every control and gives it the font, for the window's DPI.
  void LayOut();
  void OnDpiChanged(int dpi, const RECT& suggested);
  // A length of the layout (pixels at 96 DPI) at the window's DPI.
  int Scaled(int value) const;
  void MakeFont();
  // Sizes the window so that its client area is the layout's at its DPI.
  void FitClientArea();
  HWND Control(ControlId control) const;
  std::string StatusPartText(WPARAM part);
  static const ControlLayout* LayoutOf(ControlId control);
  static bool IsLabel(ControlId control);
  // A label as large as its caption, at its place.
  void FitLabel(HWND label);

  void OnCommand(int id, int code);
  LRESULT DefaultButton();
  void Paint();

  // Puts the check marks (and the group's tab stop) on item `index`.
  void ShowItemIndex(int index);
  // A selection made by the operator: reported when it changes.
  void SelectItem(int index);
  int RadioIndexOf(HWND window) const;

  // Gives the keyboard back to the control that last had it, else to the
  // first tab stop; false when there is none.
  bool RestoreFocus();
  HWND FirstTabStop() const;

  // Runs an event handler; a C++ exception stops here with an error box.
  template <typename F> void Deliver(F&& handler);

  IFormEvents* events_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  FontHandle font_;
  LogoPainter logo_;
  std::array<HWND, kOperationalModeCount> radios_{};
  int itemIndex_ = 0;
  bool timerEnabled_ = false;
  HWND lastFocus_ = nullptr;
  // Set while the view itself destroys the window, so that no quit message
  // is left behind for a later message loop.
  bool destroyingFromView_ = false;
};

} // namespace plat::win32
