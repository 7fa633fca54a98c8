// A small JSON reader (RFC 8259) for the device's information answers.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace device {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  // A string's characters, or a number's text exactly as written.
  std::string text;
  std::vector<JsonValue> items;
  // Object members in document order; a repeated name keeps its first value.
  std::vector<std::pair<std::string, JsonValue>> members;

  const JsonValue* Member(std::string_view name) const;
};

// Parses a whole document; nothing when it is not valid JSON.
std::optional<JsonValue> ParseJson(std::string_view text);

// The top-level member `query` of an object as text: a string's characters, a
// number as written, "true"/"false"; empty for null, objects, arrays, a
// missing member or a document that is not an object. Never fails.
std::string GetValue(const std::string& query, const JsonValue* JSonValue);

} // namespace device
