// libFuzzer target: the property-set reader on arbitrary bytes.
#include "store/PropertySet.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  store::ParseUserDefinedProperties(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
