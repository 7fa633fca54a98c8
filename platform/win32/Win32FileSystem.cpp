#include "platform/win32/AccessLists.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <limits>

namespace plat::win32 {

namespace {

[[noreturn]] void Fail(const char* action, const std::string& path, DWORD error) {
  if (error == ERROR_ACCESS_DENIED)
    throw AccessDenied(std::string(action) + " \"" + path + "\". " + SystemErrorText(error));
  throw PlatformError(std::string(action) + " \"" + path + "\". " + SystemErrorText(error));
}

DWORD Attributes(const std::string& path) {
  if (path.empty())
    return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(Widen(path).c_str());
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Length of the part of `path` that names a root and cannot be created:
// "C:\" or "C:", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\", "\"
// on the current drive, or nothing for a relative path.
size_t RootLength(const std::wstring& path) {
  size_t start = 0;
  bool unc = false;
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    start = 8;
    unc = true;
  } else if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
    start = 4;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    start = 2;
    unc = true;
  }
  if (unc) {
    // Server and share: two names that must exist already.
    size_t server = path.find_first_of(L"\\/", start);
    if (server == std::wstring::npos)
      return path.size();
    size_t share = path.find_first_of(L"\\/", server + 1);
    return share == std::wstring::npos ? path.size() : share + 1;
  }
  if (path.size() >= start + 2 && path[start + 1] == L':') {
    size_t end = start + 2;
    if (path.size() > end && IsSeparator(path[end]))
      ++end;
    return end;
  }
  if (start == 0 && !path.empty() && IsSeparator(path[0]))
    return 1;
  return start;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring Child(const std::wstring& folder, const wchar_t* name) {
  std::wstring path = folder;
  if (!path.empty() && !IsSeparator(path.back()))
    path += L'\\';
  return path + name;
}

bool IsDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Calls `visit` for every entry of a folder but "." and "..". False when the
// folder cannot be listed; `error` then holds why.
template <typename Visit>
bool ForEachEntry(const std::wstring& folder, DWORD& error, Visit&& visit) {
  WIN32_FIND_DATAW entry{};
  FindHandle find(FindFirstFileW(Child(folder, L"*").c_str(), &entry));
  if (!find) {
    error = GetLastError();
    return false;
  }
  do {
    if (!IsDotEntry(entry.cFileName))
      visit(entry);
  } while (FindNextFileW(find.get(), &entry));
  error = GetLastError();
  return error == ERROR_NO_MORE_FILES;
}

// Deletes everything below `folder` and the folder itself, going on past
// failures; the first failure is kept in `failedPath` and `error`.
void DeleteTreeOf(const std::wstring& folder, std::wstring& failedPath, DWORD& error) {
  auto fail = [&](const std::wstring& path, DWORD code) {
    if (failedPath.empty()) {
      failedPath = path;
      error = code;
    }
  };
  DWORD listError = 0;
  bool listed = ForEachEntry(folder, listError, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring path = Child(folder, entry.cFileName);
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A linked folder is removed as a link: what it points to is not ours.
    bool isLink = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      SetFileAttributesW(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (isFolder && !isLink) {
      DeleteTreeOf(path, failedPath, error);
    } else if (isFolder) {
      if (!RemoveDirectoryW(path.c_str()))
        fail(path, GetLastError());
    } else if (!DeleteFileW(path.c_str())) {
      fail(path, GetLastError());
    }
  });
  if (!listed)
    fail(folder, listError);
  if (!RemoveDirectoryW(folder.c_str()))
    fail(folder, GetLastError());
}

// Copies the files below `from` into `to`, which exists; files that fail are
// skipped.
void CopyTreeOf(const std::wstring& from, const std::wstring& to) {
  DWORD ignored = 0;
  ForEachEntry(from, ignored, [&](const WIN32_FIND_DATAW& entry) {
    std::wstring source = Child(from, entry.cFileName);
    std::wstring target = Child(to, entry.cFileName);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (CreateDirectoryW(target.c_str(), nullptr) || IsDirectory(target))
        CopyTreeOf(source, target);
    } else {
      CopyFileW(source.c_str(), target.c_str(), FALSE);
    }
  });
}

} // namespace

bool Win32FileSystem::FileExists(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32FileSystem::DirectoryExists(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string Win32FileSystem::ReadFile(const std::string& path) {
  KernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    Fail("Cannot open file", path, GetLastError());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size))
    Fail("Cannot read file", path, GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > std::numeric_limits<size_t>::max() / 2)
    Fail("Cannot read file", path, ERROR_NOT_ENOUGH_MEMORY);

  std::string bytes;
  bytes.reserve(static_cast<size_t>(size.QuadPart));
  // Read to the end rather than to the size seen above: the file may grow
  // or shrink while it is read.
  char chunk[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr))
      Fail("Cannot read file", path, GetLastError());
    if (read == 0)
      break;
    bytes.append(chunk, read);
  }
  return bytes;
}

std::optional<uint64_t> Win32FileSystem::FileSize(const std::string& path) {
  KernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size))
    return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

std::string Win32FileSystem::ReadFileRange(const std::string& path, uint64_t offset,
                                           size_t length) {
  KernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    Fail("Cannot open file", path, GetLastError());
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN))
    Fail("Cannot read file", path, GetLastError());
  std::string bytes(length, '\0');
  size_t done = 0;
  while (done < length) {
    DWORD part = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data() + done, part, &read, nullptr))
      Fail("Cannot read file", path, GetLastError());
    if (read == 0)
      break;
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

void Win32FileSystem::WriteFile(const std::string& path, const std::string& bytes) {
  KernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    Fail("Cannot create file", path, GetLastError());
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data() + done, part, &written, nullptr))
      Fail("Cannot write file", path, GetLastError());
    if (written == 0)
      Fail("Cannot write file", path, ERROR_WRITE_FAULT);
    done += written;
  }
  if (!file.close())
    Fail("Cannot write file", path, GetLastError());
}

void Win32FileSystem::DeleteFile(const std::string& path) {
  if (::DeleteFileW(Widen(path).c_str()))
    return;
  DWORD error = GetLastError();
  // Nothing to delete is not a failure.
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
    return;
  Fail("Cannot delete file", path, error);
}

bool Win32FileSystem::CreateNewDirectory(const std::string& path) {
  // Fails with ERROR_ALREADY_EXISTS on a folder or a file of the name.
  return !path.empty() && CreateDirectoryW(Widen(path).c_str(), nullptr) != FALSE;
}

void Win32FileSystem::MoveFile(const std::string& from, const std::string& to) {
  if (!MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
    throw PlatformError("Cannot move file \"" + from + "\" to \"" + to + "\". " +
                        SystemErrorText(GetLastError()));
}

void Win32FileSystem::CopyFile(const std::string& from, const std::string& to) {
  if (!CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE))
    throw PlatformError("Cannot copy file \"" + from + "\" to \"" + to + "\". " +
                        SystemErrorText(GetLastError()));
}

void Win32FileSystem::DeleteTree(const std::string& path) {
  if (!DirectoryExists(path))
    return;
  std::wstring failedPath;
  DWORD error = 0;
  DeleteTreeOf(Widen(path), failedPath, error);
  if (!failedPath.empty())
    Fail("Cannot delete", Narrow(failedPath), error);
}

void Win32FileSystem::CopyTree(const std::string& from, const std::string& to) {
  if (!DirectoryExists(from))
    Fail("Cannot copy folder", from, ERROR_PATH_NOT_FOUND);
  if (!CreateDirectories(to))
    Fail("Cannot create folder", to, GetLastError());
  CopyTreeOf(Widen(from), Widen(to));
}

void Win32FileSystem::MoveFolder(const std::string& from, const std::string& to) {
  if (!DirectoryExists(from))
    Fail("Cannot move folder", from, ERROR_PATH_NOT_FOUND);
  // Neither replacing nor copying: a rename within one volume, which the
  // file system does whole or not at all.
  if (!MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), 0)) {
    const DWORD error = GetLastError();
    const std::string message =
        "Cannot move folder \"" + from + "\" to \"" + to + "\". " + SystemErrorText(error);
    if (error == ERROR_ACCESS_DENIED)
      throw AccessDenied(message);
    throw PlatformError(message);
  }
}

std::optional<uint64_t> Win32FileSystem::FreeSpace(const std::string& path) {
  std::wstring wide = Widen(path);
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0)
    return std::nullopt;
  std::wstring folder(length, L'\0');
  length = GetFullPathNameW(wide.c_str(), length, folder.data(), nullptr);
  if (length == 0 || length >= folder.size())
    return std::nullopt;
  folder.resize(length);
  // A folder that is still to be made lies on the volume of the nearest
  // folder above it.
  const size_t root = RootLength(folder);
  while (folder.size() > root && !IsDirectory(folder)) {
    size_t cut = folder.find_last_of(L"\\/");
    folder.resize(cut == std::wstring::npos || cut < root ? root : cut);
  }
  if (folder.empty())
    return std::nullopt;
  if (!IsSeparator(folder.back()))
    folder += L'\\';
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
    return std::nullopt;
  return static_cast<uint64_t>(available.QuadPart);
}

bool Win32FileSystem::CreateDirectories(const std::string& path) {
  std::wstring wide = Widen(path);
  // "\\?\" paths take no forward slashes; elsewhere both separators mean the
  // same, so work with one.
  if (wide.rfind(L"\\\\?\\", 0) != 0)
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
  size_t root = RootLength(wide);
  while (wide.size() > root && wide.back() == L'\\')
    wide.pop_back();
  if (wide.empty() || wide.size() <= root)
    return !wide.empty() && IsDirectory(wide);
  if (IsDirectory(wide))
    return true;

  // Create each level below the root in turn, from the top down.
  size_t next = root;
  for (;;) {
    size_t separator = wide.find(L'\\', next);
    std::wstring level = wide.substr(0, separator);
    // A level that exists already may still refuse creation with another
    // error than "already exists" (access to a share's parent, for one).
    if (!level.empty() && level.back() != L'\\' && !CreateDirectoryW(level.c_str(), nullptr)) {
      DWORD error = GetLastError();
      if (!IsDirectory(level)) {
        SetLastError(error); // for a caller that reports why
        return false;
      }
    }
    if (separator == std::wstring::npos)
      break;
    next = separator + 1;
  }
  return IsDirectory(wide);
}

std::vector<std::string> Win32FileSystem::ListFolder(const std::string& path) {
  std::vector<std::string> names;
  DWORD error = 0;
  if (!path.empty())
    ForEachEntry(Widen(path), error,
                 [&](const WIN32_FIND_DATAW& entry) { names.push_back(Narrow(entry.cFileName)); });
  return names;
}

AccessChange Win32FileSystem::SetAccessList(const std::string& path, AccessList list) {
  const char* sddl = SddlOf(list);
  if (!sddl || path.empty())
    return AccessChange::Failed;
  LocalMemory descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          Widen(sddl).c_str(), SDDL_REVISION_1,
          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
    return AccessChange::Failed;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present)
    return AccessChange::Failed;
  // Protected: nothing inherited from above stays, so the list is exactly
  // the table's; the system carries its inheritable entries to what the
  // folder holds.
  std::wstring wide = Widen(path);
  const DWORD error = SetNamedSecurityInfoW(
      wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  if (error == ERROR_SUCCESS)
    return AccessChange::Done;
  return error == ERROR_ACCESS_DENIED ? AccessChange::Denied : AccessChange::Failed;
}

} // namespace plat::win32
