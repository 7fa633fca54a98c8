// A look at a compound file's allocation tables and directory before any
// system reader opens it: a chain that loops back on itself makes some
// readers walk it forever, and the launcher must never hang on a damaged
// package.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace store {

// True when the header, the sector chains of the directory, the mini FAT, the
// mini stream and every stream, and the directory tree are all within the
// file and free of loops. Never fails: anything unreadable is "not sound".
bool CompoundFileIsSound(plat::IFileSystem& files, const std::string& path);

} // namespace store
