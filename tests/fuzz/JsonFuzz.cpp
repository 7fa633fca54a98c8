// libFuzzer target: the JSON reader on arbitrary bytes. Besides not crashing,
// an object keeps one member per name, the first, and finds each by name.
#include "device/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(const device::JsonValue& value) {
  for (const device::JsonValue& item : value.items)
    Check(item);
  const auto& members = value.Members();
  for (size_t i = 0; i < members.size(); ++i) {
    // The lookup gives this very member: no earlier one has its name.
    if (value.Member(members[i].first) != &members[i].second)
      std::abort();
    Check(members[i].second);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto document = device::ParseJson(text)) {
    Check(*document);
    device::GetValue("autologin", &*document);
  }
  return 0;
}
