// In-memory versions of the platform interfaces for the unit tests, one fake
// per file; this header brings them all and puts them together.
#pragma once

#include "platform/fake/FakeArchiveLibrary.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeFileSystem.h"
#include "platform/fake/FakeFormView.h"
#include "platform/fake/FakeHttpTransport.h"
#include "platform/fake/FakeNetwork.h"
#include "platform/fake/FakeSecurity.h"
#include "platform/fake/FakeStructuredStorage.h"
#include "platform/fake/FakeSystem.h"
#include "platform/fake/FakeUi.h"
#include "platform/fake/FakeXmlFile.h"

namespace fake {

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
  FakeWindows windows{system, &processes};
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
