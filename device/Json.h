// A small JSON reader (RFC 8259) for the device's information answers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace device {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  // A string's characters, or a number's text exactly as written.
  std::string text;
  std::vector<JsonValue> items;

  // An object's member of that name; null when it has none.
  const JsonValue* Member(std::string_view name) const;
  // Object members in document order; a repeated name keeps its first value.
  const std::vector<std::pair<std::string, JsonValue>>& Members() const { return members_; }
  // Adds a member at the end unless the object has one of that name
  // already (the first one stays); false then.
  bool AddMember(std::string name, JsonValue value);

private:
  // Compares names through a counter (JsonNameComparisons).
  struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
  };

  std::vector<std::pair<std::string, JsonValue>> members_;
  // Name -> position in members_. A device answer can hold hundreds of
  // thousands of members: looking each new name up among the earlier ones
  // would make reading the answer take time quadratic in its size.
  std::unordered_map<std::string, size_t, NameHash, NameEqual> index_;
};

// How many times member names have been compared, by the reader and by
// Member, since the process started: the reader's cost in a form that tests
// can check without timing anything.
uint64_t JsonNameComparisons();

// Parses a whole document; nothing when it is not valid JSON.
std::optional<JsonValue> ParseJson(std::string_view text);

// The top-level member `query` of an object as text: a string's characters, a
// number as written, "true"/"false"; empty for null, objects, arrays, a
// missing member or a document that is not an object. Never fails.
std::string GetValue(const std::string& query, const JsonValue* JSonValue);

} // namespace device
