// The settings file: its presence puts the launcher into package mode, and its
// one value is the package folder.
#pragma once

#include "store/StoreContext.h"

#include <string>

namespace store {

inline constexpr const char* kPackageFolderXPath = "//PackageFolder/@baseURI";

// The package folder as stored (not trimmed); empty when the file is absent.
// An unreadable file sets `error`, puts "Invalid application settings file."
// in the status bar and hides Browse.
std::string GetPackageFolderValue(StoreContext& c, bool& error);
// Stores the value when the file exists; any failure is reported in the
// status bar. Never creates the file.
void SavePackageFolderValue(StoreContext& c, const std::string& value);

} // namespace store
