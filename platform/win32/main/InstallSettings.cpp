// The installer's helper, run by the installer as the system:
//
//   InstallSettings.exe --secure-cache
//
// makes the machine-wide application folder and the folders where launchers
// provision images, and gives them their access lists (AccessLists.h),
// replacing whatever lists they had: an older version gave every local user
// the right to change everything below the folder. Images and archives
// already there become read-only as a launcher leaves new ones; leftovers of
// halfway launches (".part" files, "~" scratch folders) are left to the
// launchers' sweep.
//
// For a fleet install it writes the machine's settings file with the package
// folder an administrator gave as an installer property, so that the
// launcher starts in package mode on that machine:
//
//   InstallSettings.exe --package-folder <folder>
//
// Everything after the switch and the one blank that follows it is the
// folder, exactly as written: the installer puts the property there
// unquoted, so that blanks, quotes and a trailing backslash (as in
// "\\server\share\") reach this program unchanged.
//
// An existing settings file keeps everything but the value (and its
// encoding); a missing one, or one the launcher could not read either, is
// written afresh. Either way the new file replaces the old by a rename.
#include "platform/win32/AccessLists.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <optional>
#include <string>

namespace {

// The same names the launcher reads: its folder under the machine-wide
// application data folder, the file and the value in it.
constexpr const wchar_t* kAppFolderName = L"Veltra Dynamic Remote HMI";
constexpr const wchar_t* kSettingsFileName = L"ApplicationSettings.xml";
constexpr const char* kPackageFolderXPath = "//PackageFolder/@baseURI";
constexpr const wchar_t* kSwitch = L"--package-folder";
constexpr const wchar_t* kSecureSwitch = L"--secure-cache";
// The folders where launchers provision images (store/FolderUtils.h).
constexpr const char* kProvisioningFolders[] = {"JRECache", "LIBCache", "PackageCache", "JREImage",
                                                "LIBImage"};

// The folder from the raw command line; nothing when the switch is missing.
std::optional<std::wstring> PackageFolderArgument(const wchar_t* commandLine) {
  std::wstring line(commandLine);
  // The program's own name, quoted or not, comes first.
  size_t at = 0;
  if (!line.empty() && line[0] == L'"') {
    size_t close = line.find(L'"', 1);
    at = close == std::wstring::npos ? line.size() : close + 1;
  } else {
    while (at < line.size() && line[at] != L' ' && line[at] != L'\t')
      ++at;
  }
  while (at < line.size() && (line[at] == L' ' || line[at] == L'\t'))
    ++at;
  if (line.compare(at, std::wcslen(kSwitch), kSwitch) != 0)
    return std::nullopt;
  at += std::wcslen(kSwitch);
  if (at == line.size())
    return std::wstring();
  if (line[at] != L' ')
    return std::nullopt;
  return line.substr(at + 1);
}

std::string XmlAttributeEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&apos;";
      break;
    // Attribute values have their line ends and tabs turned into blanks
    // when read, unless they come as references.
    case '\t':
      out += "&#9;";
      break;
    case '\n':
      out += "&#10;";
      break;
    case '\r':
      out += "&#13;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// Writes `bytes` to a file beside `path`, flushed, then renames it over
// `path`: a reader sees the old file or the new one, never half of one.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  {
    plat::win32::KernelHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return false;
    DWORD written = 0;
    bool ok =
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file.get());
    if (!file.close() || !ok) {
      DeleteFileW(temporary.c_str());
      return false;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "InstallSettings: %s\n", text.c_str());
  return 1;
}

bool IsLeftover(const std::string& name) {
  return (!name.empty() && name[0] == '~') ||
         (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0);
}

// The application folder's lists, the fixed folders' first and the root's
// last (its list is inherited by nothing that has a protected list of its
// own). Installed images and whole archives already there are made
// read-only; an empty image folder gets the list of a place still to fill.
int SecureCache(const std::string& appFolder) {
  using plat::AccessChange;
  using plat::AccessList;
  plat::win32::Win32FileSystem files;
  if (!files.CreateDirectories(appFolder))
    return Fail("cannot create " + appFolder + ": " + plat::win32::SystemErrorText(GetLastError()));
  auto set = [&](const std::string& path, AccessList list) {
    if (files.SetAccessList(path, list) == AccessChange::Done)
      return true;
    Fail("cannot set the access list of " + path);
    return false;
  };
  bool ok = true;
  auto sealContents = [&](const std::string& folder, bool folders) {
    for (const std::string& name : files.ListFolder(folder)) {
      const std::string path = folder + "\\" + name;
      if (IsLeftover(name) || !(folders ? files.DirectoryExists(path) : files.FileExists(path)))
        continue;
      // An empty image folder is the place an image is still to take.
      const bool placeholder = folders && files.ListFolder(path).empty();
      ok = set(path, placeholder ? AccessList::ImagePlaceholder : AccessList::ReadOnly) && ok;
    }
  };
  for (const char* name : kProvisioningFolders) {
    const std::string folder = appFolder + "\\" + name;
    if (!files.CreateDirectories(folder))
      return Fail("cannot create " + folder + ": " + plat::win32::SystemErrorText(GetLastError()));
    ok = set(folder, AccessList::ProvisioningFolder) && ok;
  }
  for (const char* cache : {"JRECache", "LIBCache", "PackageCache"})
    sealContents(appFolder + "\\" + cache, false);
  sealContents(appFolder + "\\JREImage", true);
  const std::string libImages = appFolder + "\\LIBImage";
  for (const std::string& release : files.ListFolder(libImages)) {
    const std::string folder = libImages + "\\" + release;
    if (IsLeftover(release) || !files.DirectoryExists(folder))
      continue;
    ok = set(folder, AccessList::ProvisioningFolder) && ok;
    sealContents(folder, true);
  }
  ok = set(appFolder, AccessList::ApplicationRoot) && ok;
  return ok ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], kSecureSwitch) == 0) {
    plat::win32::Win32System system;
    std::optional<std::string> common = system.CommonAppDataFolder();
    if (!common || common->empty())
      return Fail("the machine-wide application data folder is not known");
    return SecureCache(*common + "\\" + plat::win32::Narrow(kAppFolderName));
  }
  std::optional<std::wstring> folder = PackageFolderArgument(GetCommandLineW());
  if (!folder)
    return Fail("usage: InstallSettings.exe --secure-cache | --package-folder <folder>");

  plat::win32::ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  try {
    plat::win32::Win32System system;
    std::optional<std::string> common = system.CommonAppDataFolder();
    if (!common || common->empty())
      return Fail("the machine-wide application data folder is not known");
    const std::wstring appFolder = plat::win32::Widen(*common) + L"\\" + kAppFolderName;
    if (!CreateDirectoryW(appFolder.c_str(), nullptr)) {
      DWORD error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS)
        return Fail("cannot create " + plat::win32::Narrow(appFolder) + ": " +
                    plat::win32::SystemErrorText(error));
    }
    const std::wstring file = appFolder + L"\\" + kSettingsFileName;
    const std::string value = plat::win32::Narrow(*folder);

    if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
      try {
        plat::win32::CreateWin32XmlFile()->WriteFirst(plat::win32::Narrow(file),
                                                      kPackageFolderXPath, value);
        return 0;
      } catch (const std::exception&) {
        // A file the launcher cannot use either: the administrator's wish
        // replaces it.
      }
    }
    const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                 "<ApplicationSettings>\r\n"
                                 "  <PackageFolder baseURI=\"" +
                                 XmlAttributeEscaped(value) +
                                 "\"/>\r\n"
                                 "</ApplicationSettings>\r\n";
    if (!WriteWholeFile(file, document)) {
      DWORD error = GetLastError();
      return Fail("cannot write " + plat::win32::Narrow(file) + ": " +
                  plat::win32::SystemErrorText(error));
    }
    return 0;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
