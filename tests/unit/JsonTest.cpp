// The JSON reader's cost and its object semantics.
#include "device/Json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using device::GetValue;
using device::JsonNameComparisons;
using device::JsonValue;
using device::ParseJson;

// {"m0": 0, "m1": 1, ..., "autologin": "enabled"}: the member asked for
// comes last, as in the device answer that froze the launcher.
std::string WideObject(size_t members) {
  std::string text = "{";
  for (size_t i = 0; i < members; ++i)
    text += "\"m" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
  return text + "\"autologin\": \"enabled\"}";
}

// Reading an object costs a bounded number of name comparisons per member,
// not one per earlier member: an answer of n members must not take n*n/2.
TEST(JsonCost, ReadingAWideObjectComparesNamesAFewTimesPerMember) {
  constexpr size_t kMembers = 20000;
  const std::string text = WideObject(kMembers);
  const uint64_t before = JsonNameComparisons();
  std::optional<JsonValue> doc = ParseJson(text);
  ASSERT_TRUE(doc);
  EXPECT_EQ(GetValue("autologin", &*doc), "enabled");
  EXPECT_EQ(GetValue("m19999", &*doc), "19999");
  EXPECT_EQ(GetValue("absent", &*doc), "");
  const uint64_t comparisons = JsonNameComparisons() - before;
  EXPECT_LE(comparisons, 2 * (kMembers + 1))
      << "name comparisons for " << kMembers + 1 << " members";
}

TEST(JsonObject, KeepsTheFirstOfARepeatedNameAndTheDocumentOrder) {
  struct Case {
    const char* text;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {R"({"a":"1","a":"2"})", "a", "1"},
      {R"({"a":"1","b":"x","a":"2","b":"y"})", "b", "x"},
      {R"({"a":{"a":"inner"},"a":"outer"})", "a", ""},
      {R"({"":"empty name","":"again"})", "", "empty name"},
      {R"({"A":"upper","a":"lower"})", "a", "lower"},
      {R"({"\u0061":"escaped","a":"plain"})", "a", "escaped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<JsonValue> doc = ParseJson(c.text);
    ASSERT_TRUE(doc);
    EXPECT_EQ(GetValue(c.name, &*doc), c.value);
  }

  std::optional<JsonValue> doc = ParseJson(R"({"z":1,"a":2,"z":3,"m":4})");
  ASSERT_TRUE(doc);
  std::vector<std::string> names;
  for (const auto& [name, value] : doc->Members())
    names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"z", "a", "m"}));
}

// The lookup must survive the value being copied or moved: an index into
// the original's storage would not.
TEST(JsonObject, ACopiedOrMovedValueStillFindsItsMembers) {
  std::optional<JsonValue> doc = ParseJson(R"({"outer":{"inner":"x"},"n":7})");
  ASSERT_TRUE(doc);
  JsonValue copy = *doc;
  JsonValue moved = std::move(*doc);
  for (const JsonValue* value : {&copy, &moved}) {
    EXPECT_EQ(GetValue("n", value), "7");
    const JsonValue* outer = value->Member("outer");
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(GetValue("inner", outer), "x");
  }
}

} // namespace
