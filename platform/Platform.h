// The thin layer between the launcher's logic and the operating system.
//
// Every subsystem (launcher/, device/, store/, hmi/) reaches the platform only
// through the interfaces declared here and in the other headers of this folder.
// platform/win32/ implements them with real Win32 calls; platform/fake/ holds
// in-memory versions for the unit tests.
//
// Text is UTF-8 in std::string throughout the logic; the Win32 layer converts
// to and from UTF-16 at its edge.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace plat {

// An unexpected failure of a platform operation. The logic lets it travel up
// to the handler that decides what the operator sees.
class PlatformError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A platform operation the system refused this user (access denied): what
// an administrator may still do, this user may not.
class AccessDenied : public PlatformError {
public:
  using PlatformError::PlatformError;
};

// The access lists the launcher gives the machine-wide cache. Each replaces
// what a file or folder had (nothing inherited from above), so a list found
// on an existing folder never widens them. Every user reads and runs
// everything; only the system and administrators change anything, except:
enum class AccessList {
  // The application root: no user but an administrator makes a file in it
  // (no settings file can be planted).
  ApplicationRoot,
  // A fixed folder where launchers provision (the archive caches, the image
  // folders, the package cache): every user may add files and folders to it,
  // and change only what they themselves made.
  ProvisioningFolder,
  // The empty folder an image getter makes before the image exists: no user
  // may put anything in it, every user may move it aside for the image.
  ImagePlaceholder,
  // An installed image or a whole cached archive, with all it holds: read
  // and run only, its maker included.
  ReadOnly,
};

// How a change of an access list went.
enum class AccessChange { Done, Denied, Failed };

// The fixed file-version record of an executable: two 32-bit words, most
// significant first (major.minor in `ms`, release.build in `ls`).
struct FileVersion {
  uint32_t ms = 0;
  uint32_t ls = 0;
};

// A lock shared by the launcher processes of the machine, every user's and
// every session's, held for as long as the object lives. Dropping it lets the
// next waiting process in.
class NamedLock {
public:
  virtual ~NamedLock() = default;
};

// The process, its environment and time.
class ISystem {
public:
  virtual ~ISystem() = default;
  // Value of an environment variable; empty when it is not set.
  virtual std::string EnvironmentVariable(const std::string& name) = 0;
  // The command line split by the platform's rules; [0] is the program.
  virtual std::vector<std::string> CommandLineArguments() = 0;
  // Full path of the running executable.
  virtual std::string ExecutablePath() = 0;
  // The executable's own version record; nothing when it has none.
  virtual std::optional<FileVersion> ExecutableFileVersion() = 0;
  // The common (all-users) application-data folder; nothing when unavailable.
  virtual std::optional<std::string> CommonAppDataFolder() = 0;
  // The user's own local application-data folder; nothing when unavailable.
  virtual std::optional<std::string> LocalAppDataFolder() = 0;
  // The user's temporary folder in long path form, without a trailing separator.
  virtual std::string TempFolder() = 0;
  virtual uint32_t ProcessId() = 0;
  // Milliseconds from the system's 32-bit wrapping tick counter.
  virtual uint32_t TickCount() = 0;
  // A plain sleep: the window does not respond meanwhile.
  virtual void Sleep(uint32_t milliseconds) = 0;
  // Takes the lock called `name` (letters, digits and dots), waiting at most
  // `waitMs` while another process holds it; nothing when it is still held
  // then. A holder that ended without letting go leaves the lock free. The
  // wait blocks the thread: callers wait in short steps and let the window's
  // messages run between them. Raises PlatformError when the lock cannot be
  // made at all.
  virtual std::unique_ptr<NamedLock> AcquireNamedLock(const std::string& name, uint32_t waitMs) = 0;
};

// Files and folders. Paths are Windows paths (backslash separators); a
// relative path is taken relative to the process's working directory.
class IFileSystem {
public:
  virtual ~IFileSystem() = default;
  // True only for an existing file (not a folder).
  virtual bool FileExists(const std::string& path) = 0;
  // True only for an existing folder.
  virtual bool DirectoryExists(const std::string& path) = 0;
  // Whole file as bytes. Throws PlatformError when it cannot be read.
  virtual std::string ReadFile(const std::string& path) = 0;
  // Size of a file in bytes; nothing when it cannot be opened.
  virtual std::optional<uint64_t> FileSize(const std::string& path) = 0;
  // Up to `length` bytes from `offset` (fewer at the end of the file). Throws
  // PlatformError when the file cannot be read.
  virtual std::string ReadFileRange(const std::string& path, uint64_t offset, size_t length) = 0;
  // Creates or replaces the file with exactly these bytes. Throws on failure.
  virtual void WriteFile(const std::string& path, const std::string& bytes) = 0;
  // Throws PlatformError when the file exists and cannot be deleted
  // (AccessDenied when this user may not).
  virtual void DeleteFile(const std::string& path) = 0;
  // Creates the folder and any missing parents. False when it could not.
  virtual bool CreateDirectories(const std::string& path) = 0;
  // Creates exactly this one folder in an existing parent. False when it
  // could not, and also when anything of that name is there already: a true
  // answer means the folder is new and empty, never one made earlier. A file
  // system that makes no folders need not override it.
  virtual bool CreateNewDirectory(const std::string& path) {
    (void)path;
    return false;
  }
  // Moves a file, replacing an existing target. Throws on failure.
  virtual void MoveFile(const std::string& from, const std::string& to) = 0;
  // Copies a file, replacing an existing target. Throws on failure.
  virtual void CopyFile(const std::string& from, const std::string& to) = 0;
  // Deletes a folder with everything in it; nothing when it does not exist.
  // Throws when something could not be deleted (AccessDenied when this user
  // may not).
  virtual void DeleteTree(const std::string& path) = 0;
  // Copies a folder with everything in it to `to` (created as needed).
  // Files that fail to copy are skipped; throws when `from` is no folder.
  virtual void CopyTree(const std::string& from, const std::string& to) = 0;
  // Renames a folder, with everything in it, to `to`, which must not exist;
  // both lie on one volume, so the folder is either moved whole or not at
  // all. Throws on failure (the target exists, another volume, a file in
  // the folder held open). A file system that cannot do it always throws.
  virtual void MoveFolder(const std::string& from, const std::string& to) {
    throw PlatformError("Cannot move folder \"" + from + "\" to \"" + to + "\".");
  }
  // The names (not paths) of the files and folders in one folder, "." and
  // ".." left out, in no particular order; empty when it cannot be read.
  virtual std::vector<std::string> ListFolder(const std::string& path) {
    (void)path;
    return {};
  }
  // Replaces the access list of a file or a folder (with all it holds) by
  // one of the launcher's. Denied when this user may not change it (it is
  // another user's, or sealed), Failed for any other reason (it does not
  // exist, the volume keeps no access lists). A file system without access
  // lists need not override it.
  virtual AccessChange SetAccessList(const std::string& path, AccessList list) {
    (void)path;
    (void)list;
    return AccessChange::Failed;
  }
  // Bytes this user may still write on the volume that holds `path`, or
  // would hold it (a folder not yet made is looked up through the nearest
  // folder above it that exists); nothing when that cannot be told.
  virtual std::optional<uint64_t> FreeSpace(const std::string& path) {
    (void)path;
    return std::nullopt;
  }
};

enum class MessageKind { Warning, Error, Information, Confirmation };

// Application-wide services of the UI toolkit.
class IUi {
public:
  virtual ~IUi() = default;
  // Until this is called, message boxes show no icon; afterwards warning,
  // error and information boxes show theirs (confirmation never has one).
  virtual void UseMessageIcons() = 0;
  // A modal box with one OK button; returns when the operator dismisses it.
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
  // A modal warning box asking a question, with Yes and No buttons and No the
  // default (Enter alone never says Yes); true only when the operator
  // answered Yes. Closing the box answers No.
  virtual bool AskYesNo(const std::string& text) = 0;
  // The application's mouse cursor: busy (hour-glass) or normal.
  virtual void SetBusyCursor(bool busy) = 0;
  // Lets every pending window message of this thread run once.
  virtual void ProcessMessages() = 0;
  // The system's folder picker; nothing when cancelled.
  virtual std::optional<std::string> PickFolder(const std::string& title,
                                                const std::string& okLabel) = 0;
  // The file-open dialog (path and file must exist); nothing when cancelled.
  virtual std::optional<std::string> OpenFile(const std::string& title,
                                              const std::string& filter) = 0;
};

} // namespace plat

namespace plat {

class IHttpTransport;
class INetwork;
class IArchiveLibrary;
class IStructuredStorage;
class IXmlFile;
class ISecurity;
class IWindows;
class IProcesses;
class IRegistry;

// Everything the logic may call on, handed down from the program entry.
struct Services {
  ISystem& system;
  IFileSystem& files;
  IUi& ui;
  IHttpTransport& http;
  INetwork& network;
  IArchiveLibrary& archives;
  IStructuredStorage& storage;
  IXmlFile& xml;
  ISecurity& security;
  IWindows& windows;
  IProcesses& processes;
  IRegistry& registry;
};

} // namespace plat
