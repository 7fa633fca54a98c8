// Drives the real launcher from outside its process, the way an operator's
// desktop would see it: start it, find its window, read and change its
// controls, answer its message boxes and close it.
//
// Every wait has a deadline; a missed deadline or a failed Win32 call throws
// HarnessError, which GoogleTest reports as the test's failure.
#pragma once

#include "platform/FormView.h"

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace winetest {

class HarnessError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

using Clock = std::chrono::steady_clock;
inline constexpr std::chrono::milliseconds kDefaultDeadline{30000};

// The launcher built next to these tests, as a Windows path.
std::filesystem::path LauncherExePath();

// A path of the Linux build tree as Wine's drive Z: shows it; a Windows path
// as it is.
std::filesystem::path WindowsPath(const std::string& path);

// The whole content of a file; HarnessError when it cannot be read.
std::string FileContents(const std::filesystem::path& file);

// Quotes one argument so that the usual command-line splitting gives it back
// unchanged.
std::wstring QuoteArgument(const std::wstring& arg);

// Polls `condition` until it holds or `timeout` has passed; true when it held.
// Between polls the thread waits on `process` (when given), so a launcher that
// exits early ends the wait at once instead of at the deadline.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = kDefaultDeadline, HANDLE process = nullptr);

// A new empty folder under the user's temporary folder, removed with all its
// contents when the object goes.
class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Writes `bytes` as the file `name` inside the folder (or a sub-folder of it).
  std::filesystem::path WriteFile(const std::filesystem::path& name, const std::string& bytes);

private:
  std::filesystem::path path_;
};

// The launcher's machine-wide folder (images, caches, settings) under the
// common application-data folder of this prefix, and its folder of this user
// (the record of device certificates) under the local application-data
// folder. Removed with their contents when the object is made and again when
// it goes, so that a test starts with none of them and leaves none behind:
// the simulator makes a new certificate at every start, and a port of an
// earlier test recorded with the old one would ask about it.
class CleanAppFolder {
public:
  CleanAppFolder();
  ~CleanAppFolder();
  CleanAppFolder(const CleanAppFolder&) = delete;
  CleanAppFolder& operator=(const CleanAppFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The user's folder: KnownDevices.txt in it is the record.
  const std::filesystem::path& UserPath() const { return userPath_; }
  // The regular files below the machine-wide folder, as paths relative to it.
  std::vector<std::filesystem::path> Files() const;

private:
  std::filesystem::path path_;
  std::filesystem::path userPath_;
};

struct LaunchOptions {
  std::vector<std::wstring> args{};
  // Value of KLOX_DATA_DIR for the launcher; nothing removes the variable.
  std::optional<std::wstring> kloxDataDir{};
  // More variables for the launcher (and what it starts), set or replaced.
  std::vector<std::pair<std::wstring, std::wstring>> environment{};
  // The launcher's working directory; its own temp folder when empty.
  std::filesystem::path workingDirectory{};
  // Runs this executable instead of the one built next to the tests.
  std::filesystem::path exe{};
};

// One running launcher. The destructor closes it and, if it will not go,
// terminates it, so no test leaves a process behind.
class Launcher {
public:
  explicit Launcher(const LaunchOptions& options = {});
  ~Launcher();
  Launcher(const Launcher&) = delete;
  Launcher& operator=(const Launcher&) = delete;

  DWORD ProcessId() const { return processId_; }
  bool Running() const;
  // Waits until the launcher has ended by itself; true when it did in time.
  bool WaitForExit(std::chrono::milliseconds timeout = kDefaultDeadline);
  // The working directory in use (the given one or the launcher's own).
  const std::filesystem::path& WorkingDirectory() const { return workingDirectory_; }

  // The login window, hidden or not; waits until it exists.
  HWND Window(std::chrono::milliseconds timeout = kDefaultDeadline);
  // Waits until the login window is on screen, which it is only once the
  // start-up steps have finished.
  HWND WaitUntilShown(std::chrono::milliseconds timeout = kDefaultDeadline);
  bool WindowVisible();

  std::string Caption();
  // Text of a control of the login window (edit box, label, button, status bar).
  std::string Text(plat::ControlId control);
  // Text of one part of the status bar: 0 is the status (as Text reads it),
  // 1 the progress of a download or an extraction. Read as a screen reader
  // would, through a buffer in the launcher's own memory.
  std::string StatusPart(int part);
  bool Visible(plat::ControlId control);
  // Not greyed out: Launch is again once a launch has ended in the window.
  bool Enabled(plat::ControlId control);
  // Index of the checked item of the operational-mode group; -1 when none is.
  int CheckedMode();

  void SetText(plat::ControlId control, const std::string& text);
  void Click(plat::ControlId control);
  void ClickMode(int index);

  // A message box of this launcher that is on screen, or null.
  HWND FindMessageBox();
  HWND WaitForMessageBox(std::chrono::milliseconds timeout = kDefaultDeadline);
  static std::string MessageBoxCaption(HWND box);
  static std::string MessageBoxText(HWND box);
  // Presses OK and waits until the box has gone.
  void PressOk(HWND box);

  // A visible top-level window of this launcher with exactly this caption (a
  // file dialog, the folder picker), or null.
  HWND FindDialog(const std::string& caption);
  HWND WaitForDialog(const std::string& caption,
                     std::chrono::milliseconds timeout = kDefaultDeadline);
  // Sets the text of the control `id` of a dialog. When several nested
  // windows carry the id (the edit box inside a combo box), the innermost one
  // gets it, as typing would.
  static void SetDialogItemText(HWND dialog, int id, const std::string& text);
  static std::string DialogItemText(HWND dialog, int id);
  // Clicks the button `id` of a dialog; posted, like Click.
  static void ClickDialogButton(HWND dialog, int id);
  // Waits until `window` has been destroyed.
  void WaitUntilGone(HWND window, std::chrono::milliseconds timeout = kDefaultDeadline);

  // Waits until the window's thread is back in a message loop: its main one,
  // or that of a box it has opened, which is then on screen. Two messages
  // are sent, because a modal box takes the first one before it shows itself.
  void WaitUntilIdle(std::chrono::milliseconds timeout = kDefaultDeadline);

  // Asks the window to close and waits for the process to end; returns its
  // exit code.
  DWORD Close(std::chrono::milliseconds timeout = kDefaultDeadline);

private:
  HWND Control(int id);
  HWND FindWindowOfProcess();
  [[noreturn]] void Fail(const std::string& what);

  std::optional<TempFolder> ownWorkingDirectory_;
  std::filesystem::path workingDirectory_;
  PROCESS_INFORMATION process_{};
  DWORD processId_ = 0;
  HWND window_ = nullptr;
};

} // namespace winetest
