// The user-defined properties of a compound file: the second section of its
// "\005DocumentSummaryInformation" stream, read from the raw stream bytes.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

struct UserProperty {
  uint32_t id = 0;
  std::string name; // UTF-8; empty when the dictionary does not name it
  uint16_t type = 0;
  // For code-page strings (VT_LPSTR): the text as UTF-8, trailing NULs removed.
  std::optional<std::string> text;
};

inline constexpr uint16_t kVtLpstr = 0x001E;

// Parses a property-set stream and returns the user-defined section's
// properties in stored order (the dictionary and code page excluded). Nothing
// when the stream has no such section or any structure in it lies about its
// size: a damaged file must never make the launcher read past its data.
std::optional<std::vector<UserProperty>> ParseUserDefinedProperties(std::string_view stream);

// name=value lines with lookup by name (letter case aside).
class PropertyList {
public:
  std::vector<std::string> lines;

  bool Has(const std::string& name) const;
  // The value after the first "=" of the first line with that name.
  std::string Value(const std::string& name) const;
};

bool IsCompoundDocument(plat::Services& s, const std::string& FileName);
// Never fails: anything unreadable gives an empty list.
PropertyList GetFileUserDefinedInfo(plat::Services& s, const std::string& FileName);

} // namespace store
