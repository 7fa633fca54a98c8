// Little-endian integers in byte strings, as the file formats store them.
// The caller checks that the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bytes {

inline uint16_t Le16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               (static_cast<unsigned char>(b[at + 1]) << 8));
}

inline uint32_t Le32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | (static_cast<uint32_t>(Le16(b, at + 2)) << 16);
}

} // namespace bytes
