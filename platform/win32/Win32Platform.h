// The real Win32 implementations of the platform interfaces. The program
// entry builds them once; the Wine tests use them directly.
#pragma once

#include "platform/win32/Win32Api.h"

#include "platform/FormView.h"
#include "platform/Http.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Archive.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Http.h"
#include "platform/win32/Win32Storage.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat::win32 {

// The caption of every message box the launcher shows.
inline constexpr const char* kMessageCaption = "Veltra Dynamic Remote HMI";

class Win32System : public ISystem {
public:
  std::string EnvironmentVariable(const std::string& name) override;
  std::vector<std::string> CommandLineArguments() override;
  std::string ExecutablePath() override;
  std::optional<FileVersion> ExecutableFileVersion() override;
  std::optional<std::string> CommonAppDataFolder() override;
  std::optional<std::string> LocalAppDataFolder() override;
  std::string TempFolder() override;
  uint32_t ProcessId() override;
  uint32_t TickCount() override;
  void Sleep(uint32_t milliseconds) override;
  // A mutex in the machine-wide namespace ("Global\\<name>") that every
  // signed-in user may wait for and release, so that the launchers of all
  // sessions meet; the session's namespace ("Local\\<name>") when the global
  // one is closed to this process.
  std::unique_ptr<NamedLock> AcquireNamedLock(const std::string& name, uint32_t waitMs) override;
};

class Win32FileSystem : public IFileSystem {
public:
  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::string ReadFile(const std::string& path) override;
  std::optional<uint64_t> FileSize(const std::string& path) override;
  std::string ReadFileRange(const std::string& path, uint64_t offset, size_t length) override;
  void WriteFile(const std::string& path, const std::string& bytes) override;
  void DeleteFile(const std::string& path) override;
  bool CreateDirectories(const std::string& path) override;
  bool CreateNewDirectory(const std::string& path) override;
  void MoveFile(const std::string& from, const std::string& to) override;
  void CopyFile(const std::string& from, const std::string& to) override;
  void DeleteTree(const std::string& path) override;
  void CopyTree(const std::string& from, const std::string& to) override;
  void MoveFolder(const std::string& from, const std::string& to) override;
  std::optional<uint64_t> FreeSpace(const std::string& path) override;
  std::vector<std::string> ListFolder(const std::string& path) override;
  // The table's SDDL (AccessLists.h) set as a protected list.
  AccessChange SetAccessList(const std::string& path, AccessList list) override;
};

// Message boxes, the busy cursor and the common dialogs. Boxes and dialogs are
// owned by the thread's active window, or else by the login window.
class Win32Ui : public IUi {
public:
  void UseMessageIcons() override;
  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  void ProcessMessages() override;
  std::optional<std::string> PickFolder(const std::string& title,
                                        const std::string& okLabel) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter) override;

private:
  bool useIcons_ = false;
};

// Creates the login window (window class "TLoginForm") and runs the
// thread's message loop.
class Win32Toolkit : public IToolkit {
public:
  Win32Toolkit();
  std::unique_ptr<IFormView> CreateLoginWindow(IFormEvents& events) override;
  void RunMessageLoop() override;
  // Work the window does not need to show: run once, as the message loop
  // starts, which is after the window has been shown.
  void WhenLoopStarts(std::function<void()> work) { whenLoopStarts_ = std::move(work); }

private:
  std::function<void()> whenLoopStarts_;
};

// Every real service, built once by the program entry (or a test) and lent
// to the logic through `services`. The storage service uses COM: the thread
// must have initialised it before it uses it. The XML service starts COM for
// the length of a call on a thread that has not.
struct Win32Services {
  Win32System system;
  Win32FileSystem files;
  Win32Ui ui;
  std::unique_ptr<IHttpTransport> http = CreateWin32HttpTransport(HttpSettings{});
  std::unique_ptr<INetwork> network = CreateWin32Network();
  std::unique_ptr<IArchiveLibrary> archives = CreateWin32ArchiveLibrary();
  std::unique_ptr<IStructuredStorage> storage = CreateWin32StructuredStorage();
  std::unique_ptr<IXmlFile> xml = CreateWin32XmlFile();
  std::unique_ptr<ISecurity> security = CreateWin32Security();
  Win32Windows windows;
  Win32Processes processes;
  Win32Registry registry;
  Services services{system,   files, ui,        *http,   *network,  *archives,
                    *storage, *xml,  *security, windows, processes, registry};

  Win32Services() = default;
  Win32Services(const Win32Services&) = delete;
  Win32Services& operator=(const Win32Services&) = delete;
};

} // namespace plat::win32
