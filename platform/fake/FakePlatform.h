// In-memory versions of the platform interfaces for the unit tests.
#pragma once

#include "platform/Archive.h"
#include "platform/FormLayout.h"
#include "platform/FormView.h"
#include "platform/Http.h"
#include "platform/Platform.h"
#include "platform/Storage.h"
#include "platform/fake/FakeDesktop.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fake {

class FakeSystem : public plat::ISystem {
public:
  std::map<std::string, std::string> environment;
  std::vector<std::string> arguments{"C:\\Program Files\\Veltra\\VeltraDynamicRemoteHMI.exe"};
  std::string executablePath = "C:\\Program Files\\Veltra\\VeltraDynamicRemoteHMI.exe";
  std::optional<plat::FileVersion> fileVersion = plat::FileVersion{0x00010002, 0x00000001};
  std::optional<std::string> commonAppData = std::string("C:\\ProgramData");
  std::string tempFolder = "C:\\Users\\operator\\AppData\\Local\\Temp";
  uint32_t processId = 4242;
  uint32_t tick = 1000;
  std::vector<uint32_t> sleeps;
  // Named locks: how often each is held by this process, and those another
  // process holds (a wait for one of them passes its whole time and fails).
  std::map<std::string, int> locksHeld;
  std::set<std::string> locksHeldElsewhere;
  // Every take and release, as "lock name", "unlock name".
  std::vector<std::string> lockJournal;
  bool namedLocksWork = true;

  std::string EnvironmentVariable(const std::string& name) override;
  std::vector<std::string> CommandLineArguments() override { return arguments; }
  std::string ExecutablePath() override { return executablePath; }
  std::optional<plat::FileVersion> ExecutableFileVersion() override { return fileVersion; }
  std::optional<std::string> CommonAppDataFolder() override { return commonAppData; }
  std::string TempFolder() override { return tempFolder; }
  uint32_t ProcessId() override { return processId; }
  uint32_t TickCount() override { return tick; }
  // Time passes only in sleeps, so waits are deterministic.
  void Sleep(uint32_t milliseconds) override;
  std::unique_ptr<plat::NamedLock> AcquireNamedLock(const std::string& name,
                                                    uint32_t waitMs) override;
};

// Windows-like paths: case-insensitive, "\" and "/" alike, relative paths
// taken from `workingDirectory`. Drives exist when listed in `drives`.
class FakeFileSystem : public plat::IFileSystem {
public:
  std::string workingDirectory = "C:\\work";
  std::set<std::string> drives{"c:"};
  // Paths (as given to the calls) whose operations fail.
  std::set<std::string> unreadable, unwritable, undeletable, uncreatable;
  // Free bytes by drive ("c:"); a drive not listed has 1 TiB free. Writes
  // do not use it up.
  std::map<std::string, uint64_t> freeBytes;

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
  // Fails when the target exists or its parent does not, or is listed in
  // `unwritable`. `onMoveFolder` runs first and may raise, as when a file in
  // the folder is held open.
  void MoveFolder(const std::string& from, const std::string& to) override;
  std::function<void(const std::string& from, const std::string& to)> onMoveFolder;
  std::optional<uint64_t> FreeSpace(const std::string& path) override;

  // Test set-up and inspection, by the same path rules.
  void AddFile(const std::string& path, const std::string& bytes);
  std::string Contents(const std::string& path) const;
  std::vector<std::string> AllFiles() const;
  std::vector<std::string> AllDirectories() const;
  // Every folder and file below `folder`, relative to it, in lower case, sorted.
  std::vector<std::string> Below(const std::string& folder) const;
  // Every operation in order, as "op path" lines, for tests of what was touched.
  std::vector<std::string> journal;

  std::string Normalize(const std::string& path) const;

private:
  bool ParentExists(const std::string& key) const;
  std::map<std::string, std::string> files_;
  std::set<std::string> dirs_;
};

struct ShownMessage {
  plat::MessageKind kind;
  std::string text;
  bool withIcon;
};

class FakeUi : public plat::IUi {
public:
  std::vector<ShownMessage> messages;
  bool iconsOn = false;
  bool busy = false;
  int processMessagesCalls = 0;
  std::vector<std::optional<std::string>> folderAnswers, fileAnswers;
  std::vector<std::pair<std::string, std::string>> folderRequests, fileRequests;
  // Runs inside ShowMessage, like an operator acting while a box is open.
  std::function<void(const ShownMessage&)> onMessage;
  // Runs inside ProcessMessages: the pending messages of the queue.
  std::function<void()> onProcessMessages;

  void UseMessageIcons() override { iconsOn = true; }
  void ShowMessage(plat::MessageKind kind, const std::string& text) override;
  void SetBusyCursor(bool b) override { busy = b; }
  void ProcessMessages() override;
  std::optional<std::string> PickFolder(const std::string& title,
                                        const std::string& okLabel) override;
  std::optional<std::string> OpenFile(const std::string& title, const std::string& filter) override;
};

class FakeFormView : public plat::IFormView {
public:
  explicit FakeFormView(plat::IFormEvents& events);

  std::string Caption() override { return caption; }
  void SetCaption(const std::string& c) override { caption = c; }
  std::string Text(plat::ControlId control) override;
  void SetText(plat::ControlId control, const std::string& text) override;
  std::string ProgressText() override { return progressText; }
  void SetProgressText(const std::string& text) override;
  bool Visible(plat::ControlId control) override;
  void SetVisible(plat::ControlId control, bool visible) override;
  bool Enabled(plat::ControlId control) override { return !disabled.count(control); }
  void SetEnabled(plat::ControlId control, bool enabled) override;
  int ItemIndex() override { return itemIndex; }
  void SetItemIndex(int index) override { itemIndex = index; }
  void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
  void Show() override;
  void Close() override { closed = true; }

  // What an operator does.
  void Click(plat::ControlId button) { events_.ButtonClick(button); }
  // The window's close box: the logic hears of it, then the window goes.
  void CloseBox() {
    events_.FormClose();
    closed = true;
  }
  void SelectMode(int index);
  void Type(plat::ControlId box, const std::string& text) { texts[box] = text; }

  std::string caption = plat::kFormCaption;
  std::map<plat::ControlId, std::string> texts;
  std::string progressText;
  // Every progress text shown, in order, clearings included.
  std::vector<std::string> progressShown;
  std::map<plat::ControlId, bool> visible;
  std::set<plat::ControlId> disabled;
  int itemIndex = 0;
  bool timerEnabled = false;
  bool shown = false;
  bool closed = false;

private:
  plat::IFormEvents& events_;
};

class FakeToolkit : public plat::IToolkit {
public:
  std::unique_ptr<plat::IFormView> CreateLoginWindow(plat::IFormEvents& events) override;
  // Runs the timer while it is enabled, as the queue would, then returns.
  void RunMessageLoop() override;
  FakeFormView* view = nullptr;
  plat::IFormEvents* events = nullptr;
  bool loopSawShownWindow = false;
};

// A device on the other end of the wire: answers by method and path, and by
// port (a port not in `openPorts` refuses the connection). Records every
// request as it was sent, the Cookie header included.
class FakeHttpTransport : public plat::IHttpTransport {
public:
  using Handler = std::function<std::optional<plat::HttpResponse>(const plat::HttpRequest&,
                                                                  std::string& error)>;
  explicit FakeHttpTransport(FakeFileSystem& files) : files_(files) {}

  std::set<int> openPorts{51443, 443};
  // "GET /info.cgi" -> handler; a missing route answers 404.
  std::map<std::string, Handler> routes;
  std::vector<plat::HttpRequest> requests;
  std::vector<int> requestPorts;
  // Runs before each request is answered (a device that takes its time).
  std::function<void(const plat::HttpRequest&)> onRequest;
  bool certificateAccepted = false;

  std::optional<plat::HttpResponse> Send(const plat::HttpRequest& request,
                                         std::string& error) override;
  void SetCertificateHook(std::function<bool()> hook) override { hook_ = std::move(hook); }

  // Answer helpers.
  static plat::HttpResponse Answer(int status, std::string body, plat::HeaderList headers = {});
  void Route(const std::string& methodAndPath, plat::HttpResponse response);
  void Fail(const std::string& methodAndPath);
  std::vector<std::string> Paths() const; // "POST /LOGIN" per request, in order
  std::string CookieOf(size_t index) const;

private:
  FakeFileSystem& files_;
  std::function<bool()> hook_;
};

class FakeNetwork : public plat::INetwork {
public:
  plat::LocalAddress local{true, true, "OPERATOR-PC", "192.0.2.10"};
  plat::LocalAddress LocalIPv4() override { return local; }
};

// Archives the fake library can open: by path, a format and its items. The
// bytes of a file item are written to the fake file system on extraction.
// A file item states the size set in it, else the length of its data; an
// item whose data is longer than its stated size fails as it would in the
// library, without its file.
struct FakeArchiveContent {
  std::string format; // only this format opens it
  std::vector<plat::ArchiveItem> items;
  std::vector<std::string> data; // per item
  bool damaged = false;          // error flags set while opening
  int failOnExtractIndex = -1;   // raises when this item is extracted
  bool sizesStated = true;       // false: no item states a size
};

class FakeArchiveLibrary : public plat::IArchiveLibrary {
public:
  explicit FakeArchiveLibrary(FakeFileSystem& files) : files_(files) {}
  bool present = true;
  std::vector<plat::ArchiveFormat> formats{{"Compound", {"msi", "msp", "doc", "xls", "ppt"}},
                                           {"7z", {"7z"}},
                                           {"zip", {"zip", "z01", "zipx", "jar"}}};
  // By normalised path, or by "content:" and the file's bytes (Add).
  std::map<std::string, FakeArchiveContent> archives;
  std::vector<std::string> opened; // "format path"
  // Runs before each item is extracted, with its target path.
  std::function<void(const std::string&)> onExtractItem;

  void Add(const std::string& path, FakeArchiveContent content);
  bool Load() override { return present; }
  std::vector<plat::ArchiveFormat> Formats() override { return formats; }
  std::unique_ptr<plat::IArchive> Open(const std::string& formatName,
                                       const std::string& archivePath) override;

private:
  FakeFileSystem& files_;
};

// The bytes of a small, well-formed compound file: header, one FAT sector, one
// directory sector with the root entry (its class id carries `tag`, so files
// differ) and, when `streamSize` is not 0, a stream "S" of that many bytes in
// regular sectors after them. The FAT is open for tests to damage.
std::string MinimalCompoundFile(uint32_t tag, uint32_t streamSize = 0);

// Compound files: by path, their root streams.
class FakeStructuredStorage : public plat::IStructuredStorage {
public:
  explicit FakeStructuredStorage(FakeFileSystem& files) : files_(files) {}
  std::map<std::string, std::map<std::u16string, std::string>> documents; // by file bytes
  void Add(const std::string& path, std::map<std::u16string, std::string> streams);
  bool IsStorageFile(const std::string& path) override;
  std::optional<std::string> ReadRootStream(const std::string& path,
                                            const std::u16string& streamName) override;

private:
  FakeFileSystem& files_;
};

// Understands just enough XML for the settings file: the first element named
// PackageFolder and its baseURI attribute in double quotes. A write replaces
// the file whole through a file beside it, as the real one does.
class FakeXmlFile : public plat::IXmlFile {
public:
  explicit FakeXmlFile(FakeFileSystem& files) : files_(files) {}
  std::string ReadFirst(const std::string& path, const std::string& xpath) override;
  void WriteFirst(const std::string& path, const std::string& xpath,
                  const std::string& value) override;

private:
  FakeFileSystem& files_;
};

class FakeSecurity : public plat::ISecurity {
public:
  unsigned major = 10;
  std::optional<bool> elevated = false;
  bool admin = false;
  unsigned OsMajorVersion() override { return major; }
  std::optional<bool> TokenElevated() override { return elevated; }
  bool InAdministratorsGroup() override { return admin; }
};

// Everything together, as a test needs it.
struct FakePlatform {
  FakeSystem system;
  FakeFileSystem files;
  FakeUi ui;
  FakeToolkit toolkit;
  FakeHttpTransport http{files};
  FakeNetwork network;
  FakeArchiveLibrary archives{files};
  FakeStructuredStorage storage{files};
  FakeXmlFile xml{files};
  FakeSecurity security;
  FakeWindows windows{system};
  FakeProcesses processes{files};
  FakeRegistry registry{system};
  plat::Services services{system,  files, ui,       http,    network,   archives,
                          storage, xml,   security, windows, processes, registry};

  FakePlatform() {
    files.CreateDirectories("C:\\work");
    files.CreateDirectories("C:\\Program Files\\Veltra");
    files.CreateDirectories(system.tempFolder);
    files.journal.clear();
  }
};

} // namespace fake
