#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Internal.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Pump.h"
#include "platform/win32/Win32Text.h"

#include <commdlg.h>
#include <shobjidl.h>

#include <algorithm>
#include <vector>

namespace plat::win32 {

namespace {

bool busyCursor = false;

[[noreturn]] void FailDialog(const char* what, HRESULT hr) {
  throw PlatformError(std::string(what) + " cannot be shown. " +
                      SystemErrorText(static_cast<DWORD>(hr)));
}

// Asks the window under the mouse to choose its cursor again, so that a
// change of the busy state shows without waiting for the mouse to move.
void RefreshCursor() {
  POINT point{};
  if (!GetCursorPos(&point))
    return;
  HWND window = WindowFromPoint(point);
  if (window == nullptr || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
    return;
  LRESULT hit = SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
  SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
               MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
}

} // namespace

bool BusyCursor() {
  return busyCursor;
}

HWND OwnerWindow() {
  HWND active = GetActiveWindow();
  return active != nullptr ? active : MainWindow();
}

void ReportUnexpected(const char* what) noexcept {
  try {
    MessageBoxW(OwnerWindow(), Widen(what != nullptr ? what : "Unexpected error.").c_str(),
                Widen(kMessageCaption).c_str(), MB_OK | MB_ICONERROR);
  } catch (...) {
    MessageBoxW(OwnerWindow(), L"Unexpected error.", L"Veltra Dynamic Remote HMI",
                MB_OK | MB_ICONERROR);
  }
}

void Win32Ui::UseMessageIcons() {
  useIcons_ = true;
}

void Win32Ui::ShowMessage(MessageKind kind, const std::string& text) {
  UINT flags = MB_OK;
  if (useIcons_) {
    switch (kind) {
    case MessageKind::Warning:
      flags |= MB_ICONWARNING;
      break;
    case MessageKind::Error:
      flags |= MB_ICONERROR;
      break;
    case MessageKind::Information:
      flags |= MB_ICONINFORMATION;
      break;
    case MessageKind::Confirmation:
      break;
    }
  }
  // One caption for every kind: the launcher looks for other programs' boxes
  // by their captions and must never find its own.
  MessageBoxW(OwnerWindow(), Widen(text).c_str(), Widen(kMessageCaption).c_str(), flags);
}

bool Win32Ui::AskYesNo(const std::string& text) {
  // The warning icon whatever UseMessageIcons says: the answer matters.
  return MessageBoxW(OwnerWindow(), Widen(text).c_str(), Widen(kMessageCaption).c_str(),
                     MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void Win32Ui::SetBusyCursor(bool busy) {
  busyCursor = busy;
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  RefreshCursor();
}

void Win32Ui::ProcessMessages() {
  DispatchPendingMessages();
}

std::optional<std::string> Win32Ui::PickFolder(const std::string& title,
                                               const std::string& okLabel) {
  // COM for the duration of one dialog, for callers (tests) whose thread has
  // not started it; the program entry has, and then this only counts.
  ComApartment com;
  ComPtr<IFileOpenDialog> dialog;
  HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, dialog.putVoid());
  if (FAILED(hr))
    FailDialog("The folder picker", hr);

  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options)))
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  dialog->SetTitle(Widen(title).c_str());
  dialog->SetOkButtonLabel(Widen(okLabel).c_str());

  hr = dialog->Show(MainWindow());
  if (hr == HRESULT_FROM_WIN32(ERROR_CANCELLED))
    return std::nullopt;
  if (FAILED(hr))
    FailDialog("The folder picker", hr);

  ComPtr<IShellItem> item;
  hr = dialog->GetResult(item.put());
  if (FAILED(hr))
    FailDialog("The folder picker", hr);
  wchar_t* path = nullptr;
  hr = item->GetDisplayName(SIGDN_FILESYSPATH, &path);
  if (FAILED(hr) || path == nullptr)
    FailDialog("The folder picker", hr);
  std::string result = Narrow(path);
  CoTaskMemFree(path);
  return result;
}

std::optional<std::string> Win32Ui::OpenFile(const std::string& title, const std::string& filter) {
  // "Description|*.pattern|..." becomes the list of NUL-separated strings,
  // closed by an empty one, that the dialog expects.
  std::wstring filterList = Widen(filter);
  std::replace(filterList.begin(), filterList.end(), L'|', L'\0');
  filterList.append(2, L'\0');
  std::wstring wideTitle = Widen(title);
  std::vector<wchar_t> fileName(32768, L'\0');

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = MainWindow();
  ofn.lpstrFilter = filter.empty() ? nullptr : filterList.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = fileName.data();
  ofn.nMaxFile = static_cast<DWORD>(fileName.size());
  ofn.lpstrTitle = wideTitle.c_str();
  ofn.Flags =
      OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
  if (GetOpenFileNameW(&ofn))
    return Narrow(fileName.data());
  DWORD error = CommDlgExtendedError();
  if (error == 0)
    return std::nullopt;
  throw PlatformError("The file dialog cannot be shown (error " + std::to_string(error) + ").");
}

} // namespace plat::win32
