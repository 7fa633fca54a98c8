// The program entry: the real platform services, the toolkit and the
// launcher's own start-up.
#include "launcher/VeltraDynamicRemoteHMI.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Internal.h"
#include "platform/win32/Win32Platform.h"

#include <objbase.h>
#include <windows.h>

#include <exception>
#include <optional>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Libraries come from the system folder and the program's own folder only:
  // never from the working directory or PATH, where anyone may put a DLL of
  // a name the program loads later (7z.dll, or a delay-loaded system one).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
  SetDllDirectoryW(L"");
  // The folder picker is a COM object that wants a single-threaded apartment.
  // Declared first, so that it ends after every COM object of the program.
  // Started only once the window shows: nothing before needs it (the XML
  // reader of the settings file starts COM for itself), and loading and
  // starting it would delay the window.
  std::optional<plat::win32::ComApartment> com;
  int exitCode = 1;
  // The logic reports its handlers' errors itself; whatever still escapes is
  // shown here rather than ending the process without a word.
  try {
    plat::win32::Win32Services services;
    plat::win32::Win32Toolkit toolkit;
    toolkit.WhenLoopStarts(
        [&com] { com.emplace(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE); });
    exitCode = launcher::RunProgram(services.services, toolkit);
  } catch (const std::exception& e) {
    plat::win32::ReportUnexpected(e.what());
  } catch (...) {
    plat::win32::ReportUnexpected(nullptr);
  }
  return exitCode;
}
