// Archives through the archive library 7z.dll, loaded at run time.
#pragma once

#include "platform/Archive.h"

#include <memory>
#include <string>

namespace plat::win32 {

// A bare name is the library in the program's own folder, loaded by its full
// path (its own dependencies from there or the system folder); a name with a
// folder is taken as it is. No other folder is searched. Load() loads it at most once per process
// and per name, and keeps it loaded until the process ends, so archives may outlive the object that
// opened them. A Load() that failed leaves nothing behind: a later call looks again, so the library
// may be put in place while the program runs. Formats() and Open() raise PlatformError before a
// successful Load().
//
// Item paths are given in the archive's own spelling, as the Linux build of
// the library shows them: "jre/bin/java.exe", "../evil.txt", "C:\x.txt".
// The Windows build shows the separator '/' as a backslash and a stored
// backslash as U+F05C; both are turned back.
//
// `dllName` exists for the tests; the program uses the default.
std::unique_ptr<IArchiveLibrary> CreateWin32ArchiveLibrary(const std::wstring& dllName = L"7z.dll");

} // namespace plat::win32
