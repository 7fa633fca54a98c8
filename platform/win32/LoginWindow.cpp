#include "platform/win32/LoginWindow.h"

#include "platform/Platform.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Internal.h"
#include "platform/win32/Win32Text.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

namespace plat::win32 {

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_APPWINDOW;

// Radio items inside the group box: below its caption, one equal band each.
constexpr int kRadioInsetLeft = 8;
constexpr int kRadioInsetTop = 16;
constexpr int kRadioInsetBottom = 4;
constexpr int kRadioHeight = 17;
// Wide enough for "1023.9 of 1024.0 MB (99%), 100.0 MB/s" in the window's font.
constexpr int kProgressPartWidth = 230;
// The window's font: Tahoma 8 point, 11 pixels high at 96 DPI.
constexpr int kFontHeight = 11;
// Room a push button needs beside its caption: its frame and a margin.
constexpr int kButtonTextMargin = 16;
// The layout's numbers are pixels at this DPI.
constexpr int kDesignDpi = 96;
// Sent when the window moves to a monitor of another DPI or the scale
// changes (newer headers name it WM_DPICHANGED).
constexpr UINT kWmDpiChanged = 0x02E0;

// The DPI the window is shown at: the monitor's for a per-monitor aware
// program on a system that tells, else the system's.
int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && hwnd != nullptr) {
    UINT dpi = getDpiForWindow(hwnd);
    if (dpi != 0)
      return static_cast<int>(dpi);
  }
  int dpi = 0;
  if (HDC screen = GetDC(nullptr); screen != nullptr) {
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  return dpi > 0 ? dpi : kDesignDpi;
}

// The frame around a client area of the given size at the given DPI.
RECT FrameForClient(int width, int height, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = reinterpret_cast<AdjustForDpiFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  RECT frame{0, 0, width, height};
  if (adjustForDpi == nullptr ||
      !adjustForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, static_cast<UINT>(dpi))) {
    frame = RECT{0, 0, width, height};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  }
  return frame;
}

HWND mainWindow = nullptr;

LoginWindow* FromHandle(HWND hwnd) {
  return reinterpret_cast<LoginWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC windowProc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, kLoginWindowClass, &existing))
    return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELTRA), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VELTRA), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  if (wc.hIcon == nullptr)
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // No background brush: WM_PAINT paints the whole client area itself.
  wc.hbrBackground = nullptr;
  wc.lpszClassName = kLoginWindowClass;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw PlatformError("The window class cannot be registered. " +
                        SystemErrorText(GetLastError()));
}

// The order in which the controls are created, which is also their Z-order
// and so their tab order: the decorations first, then the tab stops by their
// place in the tab order, the status bar last.
std::vector<const ControlLayout*> CreationOrder() {
  std::vector<const ControlLayout*> order;
  for (const ControlLayout& layout : kLoginFormLayout)
    order.push_back(&layout);
  auto rank = [](const ControlLayout* c) {
    if (c->kind == ControlKind::StatusBar)
      return 2;
    return c->tabOrder >= 0 ? 1 : 0;
  };
  std::stable_sort(order.begin(), order.end(), [&](const ControlLayout* a, const ControlLayout* b) {
    if (rank(a) != rank(b))
      return rank(a) < rank(b);
    return rank(a) == 1 && a->tabOrder < b->tabOrder;
  });
  return order;
}

bool IsPushButton(int id) {
  return id == static_cast<int>(ControlId::btnLaunch) ||
         id == static_cast<int>(ControlId::btnImportPackage) ||
         id == static_cast<int>(ControlId::btnBrowse);
}

bool CanPress(HWND button) {
  return button != nullptr && (GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) != 0 &&
         IsWindowEnabled(button);
}

} // namespace

HWND MainWindow() {
  return mainWindow;
}

bool PreTranslateMessage(MSG& msg) {
  HWND main = mainWindow;
  if (main == nullptr || (msg.hwnd != main && !IsChild(main, msg.hwnd)))
    return false;
  LoginWindow* window = FromHandle(main);
  return window != nullptr && window->PreTranslate(msg);
}

LoginWindow::LoginWindow(IFormEvents& events) : events_(&events) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, &LoginWindow::WindowProc);

  // Created at the system's DPI; the monitor the window lands on may have
  // another, so the size is set again once the window knows its own.
  dpi_ = WindowDpi(nullptr);
  RECT frame = FrameForClient(Scaled(kClientWidth), Scaled(kClientHeight), dpi_);
  std::wstring caption = Widen(kFormCaption);
  HWND hwnd = CreateWindowExW(kWindowExStyle, kLoginWindowClass, caption.c_str(), kWindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (hwnd == nullptr)
    throw PlatformError("The login window cannot be created. " + SystemErrorText(GetLastError()));
  dpi_ = WindowDpi(hwnd_);

  mainWindow = hwnd_;
  try {
    MakeFont();
    FitClientArea();
    CreateControls();
  } catch (...) {
    // No destructor runs for a half-built view: take the window down here.
    events_ = nullptr;
    destroyingFromView_ = true;
    DestroyWindow(hwnd_);
    throw;
  }
}

LoginWindow::~LoginWindow() {
  events_ = nullptr;
  if (hwnd_ != nullptr) {
    destroyingFromView_ = true;
    DestroyWindow(hwnd_);
  }
}

int LoginWindow::Scaled(int value) const {
  return MulDiv(value, dpi_, kDesignDpi);
}

void LoginWindow::MakeFont() {
  FontHandle font(CreateFontW(-Scaled(kFontHeight), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
  // Without it the controls keep the system's font: still usable.
  font_ = std::move(font);
}

void LoginWindow::FitClientArea() {
  // The frame's size comes from the system's metrics, which a theme or the
  // window manager may not honour exactly: correct by what the client area
  // really came out as.
  const int width = Scaled(kClientWidth);
  const int height = Scaled(kClientHeight);
  RECT frame = FrameForClient(width, height, dpi_);
  RECT current{};
  GetWindowRect(hwnd_, &current);
  // Made at this size already unless the DPI turned out other than assumed.
  if (current.right - current.left != frame.right - frame.left ||
      current.bottom - current.top != frame.bottom - frame.top)
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  GetClientRect(hwnd_, &client);
  int dx = width - (client.right - client.left);
  int dy = height - (client.bottom - client.top);
  if (dx != 0 || dy != 0) {
    RECT window{};
    GetWindowRect(hwnd_, &window);
    SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + dx,
                 window.bottom - window.top + dy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

// The window's font in a DC of the window, for the room captions need.
class LoginWindow::CaptionMeasure {
public:
  CaptionMeasure(HWND window, HFONT font) : window_(window), dc_(GetDC(window)) {
    if (dc_ != nullptr)
      old_ = SelectObject(dc_, font);
  }
  ~CaptionMeasure() {
    if (dc_ == nullptr)
      return;
    SelectObject(dc_, old_);
    ReleaseDC(window_, dc_);
  }
  CaptionMeasure(const CaptionMeasure&) = delete;
  CaptionMeasure& operator=(const CaptionMeasure&) = delete;

  // The caption's extent on one line; nothing when there is no DC.
  std::optional<SIZE> Extent(const std::wstring& caption) const {
    if (dc_ == nullptr)
      return std::nullopt;
    RECT extent{0, 0, 0, 0};
    DrawTextW(dc_, caption.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE | DT_LEFT);
    return SIZE{extent.right - extent.left, extent.bottom - extent.top};
  }

private:
  HWND window_;
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

RECT LoginWindow::ControlRect(const ControlLayout& layout, const std::wstring& caption,
                              const CaptionMeasure& measure) const {
  // The table's numbers are pixels at 96 DPI; every place, size and inset
  // scales by the window's DPI, the font with them. Labels and push buttons
  // then take the room their captions need in that font, wherever it renders
  // wider than the numbers assume.
  int left = Scaled(layout.left);
  int top = Scaled(layout.top);
  int width = Scaled(layout.width);
  int height = Scaled(layout.height);
  switch (layout.kind) {
  case ControlKind::StatusBar:
    // The bottom edge, the whole width, whatever the rounding.
    left = 0;
    width = Scaled(kClientWidth);
    height = Scaled(kStatusBarHeight);
    top = Scaled(kClientHeight) - height;
    break;
  case ControlKind::Label:
    // As large as its caption, wherever the font renders wider or narrower
    // than the numbers assume; it keeps its top-left corner.
    if (std::optional<SIZE> extent = measure.Extent(caption.empty() ? L" " : caption)) {
      width = caption.empty() ? 0 : extent->cx;
      height = extent->cy;
    }
    break;
  case ControlKind::Button:
  case ControlKind::DefaultButton:
    // Its width from the layout unless its caption needs more; then it grows
    // to the right.
    if (std::optional<SIZE> extent = measure.Extent(caption))
      width = std::max(width, static_cast<int>(extent->cx) + Scaled(kButtonTextMargin));
    break;
  default:
    break;
  }
  return RECT{left, top, left + width, top + height};
}

RECT LoginWindow::RadioRect(const RECT& group, int index) const {
  // Below the group's caption, one equal band each.
  const int insetTop = Scaled(kRadioInsetTop);
  const int band =
      (group.bottom - group.top - insetTop - Scaled(kRadioInsetBottom)) / kOperationalModeCount;
  const int radioHeight = Scaled(kRadioHeight);
  const int left = group.left + Scaled(kRadioInsetLeft);
  const int top = group.top + insetTop + index * band + (band - radioHeight) / 2;
  return RECT{left, top, group.right - Scaled(kRadioInsetLeft), top + radioHeight};
}

void LoginWindow::CreateControls() {
  // Each control is made at its final place with its final style, so that
  // nothing is moved, resized or restyled before the window first shows.
  const CaptionMeasure measure(hwnd_, font_.get());
  for (const ControlLayout* layout : CreationOrder())
    CreateControl(*layout, measure);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void LoginWindow::CreateControl(const ControlLayout& layout, const CaptionMeasure& measure) {
  const wchar_t* className = L"STATIC";
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  // Every control but a radio item starts a group of its own, so that the
  // arrow keys move only inside the radio group.
  style |= WS_GROUP;
  if (layout.tabOrder >= 0 && layout.kind != ControlKind::ReadOnlyEdit &&
      layout.kind != ControlKind::RadioGroup)
    style |= WS_TABSTOP;

  switch (layout.kind) {
  case ControlKind::Label:
    style |= SS_LEFTNOWORDWRAP;
    break;
  case ControlKind::Edit:
  case ControlKind::PasswordEdit:
  case ControlKind::ReadOnlyEdit:
    className = L"EDIT";
    exStyle |= WS_EX_CLIENTEDGE;
    style |= ES_LEFT | ES_AUTOHSCROLL;
    if (layout.kind == ControlKind::PasswordEdit)
      style |= ES_PASSWORD;
    if (layout.kind == ControlKind::ReadOnlyEdit)
      style |= ES_READONLY;
    break;
  case ControlKind::Button:
    className = L"BUTTON";
    style |= BS_PUSHBUTTON;
    break;
  case ControlKind::DefaultButton:
    className = L"BUTTON";
    style |= BS_DEFPUSHBUTTON;
    break;
  case ControlKind::RadioGroup:
    className = L"BUTTON";
    style |= BS_GROUPBOX;
    break;
  case ControlKind::StatusBar:
    className = STATUSCLASSNAMEW;
    // Placed by the layout like any other control rather than by the status
    // bar's own idea of its height.
    style |= CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
    break;
  case ControlKind::Picture:
    style |= SS_OWNERDRAW;
    break;
  }

  std::wstring caption = layout.kind == ControlKind::StatusBar ? L"" : Widen(layout.caption);
  const RECT rect = ControlRect(layout, caption, measure);
  HWND control = CreateWindowExW(exStyle, className, caption.c_str(), style, rect.left, rect.top,
                                 rect.right - rect.left, rect.bottom - rect.top, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control == nullptr)
    throw PlatformError("A control of the login window cannot be created. " +
                        SystemErrorText(GetLastError()));
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);

  if (layout.kind == ControlKind::PasswordEdit)
    SendMessageW(control, EM_SETPASSWORDCHAR, L'*', 0);
  if (layout.kind == ControlKind::StatusBar)
    SetStatusParts(control, rect.right - rect.left);
  if (layout.kind == ControlKind::RadioGroup)
    CreateRadioItems(rect);
}

void LoginWindow::SetStatusParts(HWND statusBar, int width) {
  // Parts rather than the simple mode: WM_GETTEXT from another process then
  // reads the first part's text, the status. The second, at the right end,
  // shows a download's or an extraction's progress.
  int parts[2] = {width - Scaled(kProgressPartWidth), -1};
  SendMessageW(statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
}

void LoginWindow::CreateRadioItems(const RECT& group) {
  // Siblings of the group box rather than its children, so that their
  // notifications reach this window. Tab enters the group at the selected
  // item, or the first when none is.
  const int tabStop = std::max(itemIndex_, 0);
  for (int i = 0; i < kOperationalModeCount; ++i) {
    DWORD style = WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON | (i == 0 ? WS_GROUP : 0) |
                  (i == tabStop ? WS_TABSTOP : 0);
    std::wstring caption = Widen(kOperationalModeItems[static_cast<size_t>(i)]);
    const RECT rect = RadioRect(group, i);
    HWND radio = CreateWindowExW(0, L"BUTTON", caption.c_str(), style, rect.left, rect.top,
                                 rect.right - rect.left, rect.bottom - rect.top, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kRadioItemBase + i)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (radio == nullptr)
      throw PlatformError("A control of the login window cannot be created. " +
                          SystemErrorText(GetLastError()));
    radios_[static_cast<size_t>(i)] = radio;
    SendMessageW(radio, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (i == itemIndex_)
      SendMessageW(radio, BM_SETCHECK, BST_CHECKED, 0);
  }
}

void LoginWindow::LayOut() {
  // Every control again at the window's DPI, in the font made for it, with
  // the captions it shows now.
  const WPARAM font = reinterpret_cast<WPARAM>(font_.get());
  const CaptionMeasure measure(hwnd_, font_.get());
  for (const ControlLayout& layout : kLoginFormLayout) {
    HWND control = GetDlgItem(hwnd_, static_cast<int>(layout.id));
    if (control == nullptr)
      continue;
    const RECT rect = ControlRect(layout, Widen(WindowText(control)), measure);
    SendMessageW(control, WM_SETFONT, font, FALSE);
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (layout.kind == ControlKind::StatusBar)
      SetStatusParts(control, rect.right - rect.left);
    if (layout.kind == ControlKind::RadioGroup) {
      for (int i = 0; i < kOperationalModeCount; ++i) {
        HWND radio = radios_[static_cast<size_t>(i)];
        const RECT item = RadioRect(rect, i);
        SendMessageW(radio, WM_SETFONT, font, FALSE);
        SetWindowPos(radio, nullptr, item.left, item.top, item.right - item.left,
                     item.bottom - item.top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
    }
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void LoginWindow::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  // The controls leave the old font before it goes.
  FontHandle old = std::move(font_);
  MakeFont();
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea();
  LayOut();
}

HWND LoginWindow::Control(ControlId control) const {
  if (hwnd_ == nullptr)
    return nullptr;
  HWND window = GetDlgItem(hwnd_, static_cast<int>(control));
  if (window == nullptr)
    throw PlatformError("The login window has no control " +
                        std::to_string(static_cast<int>(control)) + ".");
  return window;
}

std::string LoginWindow::Caption() {
  return hwnd_ != nullptr ? WindowText(hwnd_) : std::string();
}

void LoginWindow::SetCaption(const std::string& caption) {
  if (hwnd_ != nullptr)
    SetWindowTextW(hwnd_, Widen(caption).c_str());
}

std::string LoginWindow::StatusPartText(WPARAM part) {
  HWND window = Control(ControlId::statusBar);
  if (window == nullptr)
    return {};
  int length = LOWORD(SendMessageW(window, SB_GETTEXTLENGTHW, part, 0));
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(window, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(buffer.data()));
  return Narrow(buffer.data());
}

std::string LoginWindow::Text(ControlId control) {
  if (control == ControlId::statusBar)
    return StatusPartText(0);
  HWND window = Control(control);
  return window != nullptr ? WindowText(window) : std::string();
}

std::string LoginWindow::ProgressText() {
  return StatusPartText(1);
}

void LoginWindow::SetProgressText(const std::string& text) {
  HWND window = Control(ControlId::statusBar);
  if (window == nullptr)
    return;
  std::wstring wide = Widen(text);
  SendMessageW(window, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(wide.c_str()));
}

void LoginWindow::SetText(ControlId control, const std::string& text) {
  HWND window = Control(control);
  if (window == nullptr)
    return;
  std::wstring wide = Widen(text);
  if (control == ControlId::statusBar) {
    SendMessageW(window, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    return;
  }
  SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (IsLabel(control))
    FitLabel(window);
}

const ControlLayout* LoginWindow::LayoutOf(ControlId control) {
  for (const ControlLayout& layout : kLoginFormLayout)
    if (layout.id == control)
      return &layout;
  return nullptr;
}

bool LoginWindow::IsLabel(ControlId control) {
  const ControlLayout* layout = LayoutOf(control);
  return layout != nullptr && layout->kind == ControlKind::Label;
}

void LoginWindow::FitLabel(HWND label) {
  const ControlLayout* layout = LayoutOf(static_cast<ControlId>(GetDlgCtrlID(label)));
  if (layout == nullptr)
    return;
  const CaptionMeasure measure(hwnd_, font_.get());
  const RECT rect = ControlRect(*layout, Widen(WindowText(label)), measure);
  SetWindowPos(label, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool LoginWindow::Visible(ControlId control) {
  HWND window = Control(control);
  // The control's own flag: the window as a whole may be hidden meanwhile.
  return window != nullptr && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool LoginWindow::Enabled(ControlId control) {
  HWND window = Control(control);
  return window != nullptr && IsWindowEnabled(window);
}

void LoginWindow::SetEnabled(ControlId control, bool enabled) {
  HWND window = Control(control);
  if (window == nullptr)
    return;
  HWND focus = GetFocus();
  EnableWindow(window, enabled ? TRUE : FALSE);
  // A disabled control must not keep the keyboard.
  if (!enabled && focus == window) {
    HWND next = GetNextDlgTabItem(hwnd_, window, FALSE);
    SetFocus(next != nullptr && next != window ? next : hwnd_);
  }
}

void LoginWindow::SetVisible(ControlId control, bool visible) {
  HWND window = Control(control);
  if (window == nullptr)
    return;
  std::vector<HWND> windows{window};
  if (control == ControlId::rgOperationalMode)
    windows.insert(windows.end(), radios_.begin(), radios_.end());
  HWND focus = GetFocus();
  bool hadFocus = false;
  for (HWND w : windows) {
    hadFocus = hadFocus || (focus != nullptr && (focus == w || IsChild(w, focus)));
    ShowWindow(w, visible ? SW_SHOWNA : SW_HIDE);
  }
  // A hidden control must not keep the keyboard.
  if (!visible && hadFocus) {
    HWND next = GetNextDlgTabItem(hwnd_, focus, FALSE);
    SetFocus(next != nullptr && next != focus ? next : hwnd_);
  }
}

int LoginWindow::ItemIndex() {
  return itemIndex_;
}

void LoginWindow::SetItemIndex(int index) {
  index = std::clamp(index, -1, kOperationalModeCount - 1);
  itemIndex_ = index;
  ShowItemIndex(index);
}

void LoginWindow::ShowItemIndex(int index) {
  for (int i = 0; i < kOperationalModeCount; ++i) {
    HWND radio = radios_[static_cast<size_t>(i)];
    if (radio == nullptr)
      continue;
    SendMessageW(radio, BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
    // Tab enters the group at its selected item, or the first when none is.
    bool tabStop = i == std::max(index, 0);
    LONG style = GetWindowLongW(radio, GWL_STYLE);
    SetWindowLongW(radio, GWL_STYLE, tabStop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
  }
}

void LoginWindow::SelectItem(int index) {
  if (index == itemIndex_)
    return;
  SetItemIndex(index);
  if (events_ != nullptr)
    events_->OperationalModeSelected(index);
}

int LoginWindow::RadioIndexOf(HWND window) const {
  for (int i = 0; i < kOperationalModeCount; ++i)
    if (window != nullptr && radios_[static_cast<size_t>(i)] == window)
      return i;
  return -1;
}

void LoginWindow::SetTimerEnabled(bool enabled) {
  timerEnabled_ = enabled;
  if (hwnd_ == nullptr)
    return;
  if (enabled)
    SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
  else
    KillTimer(hwnd_, kTimer1);
}

void LoginWindow::Show() {
  if (hwnd_ == nullptr)
    return;
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  HWND focus = GetFocus();
  if (focus == nullptr || !IsChild(hwnd_, focus))
    RestoreFocus();
  if (events_ != nullptr)
    events_->FormShow();
}

void LoginWindow::Close() {
  // Destroyed once the current handler has returned to the message loop.
  if (hwnd_ != nullptr)
    PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

HWND LoginWindow::FirstTabStop() const {
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED))
      return child;
  }
  return nullptr;
}

bool LoginWindow::RestoreFocus() {
  HWND target = lastFocus_;
  if (target == nullptr || !IsWindow(target) || !IsChild(hwnd_, target) ||
      !IsWindowVisible(target) || !IsWindowEnabled(target))
    target = FirstTabStop();
  if (target == nullptr)
    return false;
  SetFocus(target);
  return true;
}

template <typename F> void LoginWindow::Deliver(F&& handler) {
  if (events_ == nullptr)
    return;
  try {
    handler();
  } catch (const std::exception& e) {
    ReportUnexpected(e.what());
  } catch (...) {
    ReportUnexpected(nullptr);
  }
}

bool LoginWindow::PreTranslate(MSG& msg) {
  if (hwnd_ == nullptr)
    return false;
  // F1 needs nothing here: the system turns it into WM_HELP by itself.
  if (msg.message == WM_KEYDOWN) {
    int radio = RadioIndexOf(msg.hwnd);
    bool back = msg.wParam == VK_UP || msg.wParam == VK_LEFT;
    bool forward = msg.wParam == VK_DOWN || msg.wParam == VK_RIGHT;
    if (radio >= 0 && (back || forward)) {
      // Arrow keys move the selection with the focus, as in any radio group.
      int next = (radio + (forward ? 1 : kOperationalModeCount - 1)) % kOperationalModeCount;
      SetFocus(radios_[static_cast<size_t>(next)]);
      Deliver([&] { SelectItem(next); });
      return true;
    }
  }
  return IsDialogMessageW(hwnd_, &msg) != 0;
}

LRESULT CALLBACK LoginWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LoginWindow* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<LoginWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = FromHandle(hwnd);
  }
  if (self == nullptr)
    return DefWindowProcW(hwnd, message, wParam, lParam);
  // No C++ exception may unwind through the system's code that called us.
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (const std::exception& e) {
    ReportUnexpected(e.what());
  } catch (...) {
    ReportUnexpected(nullptr);
  }
  return 0;
}

LRESULT LoginWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_ERASEBKGND:
    return 1; // WM_PAINT paints everything; erasing first only flickers
  case WM_PAINT:
    Paint();
    return 0;
  case WM_DRAWITEM: {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->CtlID == static_cast<UINT>(ControlId::Image1)) {
      logo_.Paint(item->hDC, item->rcItem);
      return TRUE;
    }
    break;
  }
  case kWmDpiChanged:
    OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
    return 0;
  case WM_COMMAND:
    if (lParam != 0 || LOWORD(wParam) == IDOK)
      OnCommand(LOWORD(wParam), HIWORD(wParam));
    return 0;
  case DM_GETDEFID:
    return DefaultButton();
  case WM_TIMER:
    if (wParam == kTimer1) {
      if (timerEnabled_)
        Deliver([&] { events_->Timer1Timer(); });
      return 0;
    }
    break;
  case WM_HELP:
    // The window answers help itself; nothing else is to happen.
    Deliver([&] { events_->FormHelp(); });
    return TRUE;
  case WM_SETCURSOR:
    if (BusyCursor()) {
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
      return TRUE;
    }
    break;
  case WM_ACTIVATE:
    if (LOWORD(wParam) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus != nullptr && IsChild(hwnd_, focus))
        lastFocus_ = focus;
      return 0;
    }
    if (RestoreFocus())
      return 0;
    break; // nothing to focus: the window itself takes the keyboard
  case WM_SETFOCUS:
    RestoreFocus();
    return 0;
  case WM_CLOSE:
    // The logic gives up what it is doing; the default then destroys us.
    Deliver([&] { events_->FormClose(); });
    break;
  case WM_DESTROY:
    KillTimer(hwnd_, kTimer1);
    if (mainWindow == hwnd_)
      mainWindow = nullptr;
    if (!destroyingFromView_)
      PostQuitMessage(0);
    return 0;
  case WM_NCDESTROY:
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    {
      HWND hwnd = hwnd_;
      hwnd_ = nullptr;
      radios_.fill(nullptr);
      lastFocus_ = nullptr;
      return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  default:
    break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void LoginWindow::OnCommand(int id, int code) {
  if (code != BN_CLICKED)
    return;
  int radio = id - kRadioItemBase;
  if (radio >= 0 && radio < kOperationalModeCount) {
    Deliver([&] { SelectItem(radio); });
    return;
  }
  if (id == IDOK) {
    // Enter with no default button announced: the default is Launch.
    if (!CanPress(GetDlgItem(hwnd_, static_cast<int>(ControlId::btnLaunch))))
      return;
    id = static_cast<int>(ControlId::btnLaunch);
  }
  if (IsPushButton(id))
    Deliver([&] { events_->ButtonClick(static_cast<ControlId>(id)); });
}

LRESULT LoginWindow::DefaultButton() {
  // Enter presses the focused push button, else Launch while it can be
  // pressed.
  HWND focus = GetFocus();
  if (focus != nullptr && GetParent(focus) == hwnd_ && IsPushButton(GetDlgCtrlID(focus)))
    return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
  if (CanPress(GetDlgItem(hwnd_, static_cast<int>(ControlId::btnLaunch))))
    return MAKELRESULT(static_cast<int>(ControlId::btnLaunch), DC_HASDEFID);
  return 0;
}

void LoginWindow::Paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd_, &ps);
  if (dc != nullptr)
    FillRect(dc, &ps.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
  EndPaint(hwnd_, &ps);
}

} // namespace plat::win32
