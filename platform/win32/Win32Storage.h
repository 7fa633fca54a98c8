// Compound files through OLE structured storage, XML files through the DOM
// of the system's XML services, and the security token queries.
//
// The storage and the XML objects use COM: the calling thread must have
// initialised it (the program does so at start, apartment-threaded).
#pragma once

#include "platform/Storage.h"

#include <cstdint>
#include <memory>

namespace plat::win32 {

// The largest root stream ReadRootStream hands back. The streams the launcher
// reads are far smaller; a bigger one is refused rather than read into memory.
inline constexpr uint64_t kMaxRootStreamBytes = 64ull * 1024 * 1024;

// `maxStreamBytes` exists for the tests; the program uses the default.
std::unique_ptr<IStructuredStorage>
CreateWin32StructuredStorage(uint64_t maxStreamBytes = kMaxRootStreamBytes);

// Documents of the 6.0 XML services, or of 3.0 where 6.0 is not installed;
// XPath is the selection language with either.
//
// `allowVersion6` exists for the tests, to reach the 3.0 path on a system that
// has both; the program uses the default.
std::unique_ptr<IXmlFile> CreateWin32XmlFile(bool allowVersion6 = true);

std::unique_ptr<ISecurity> CreateWin32Security();

} // namespace plat::win32
