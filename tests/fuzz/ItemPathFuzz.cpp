// libFuzzer target: archive item paths. Every path is either refused or
// comes back as a relative path of plain names below the output folder.
#include "common/Paths.h"
#include "store/ArchiveExtraction.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string packed(reinterpret_cast<const char*>(data), size);
  std::string path;
  try {
    path = store::SafeItemPath(packed);
  } catch (const paths::InvalidPathError&) {
    return 0;
  }
  if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
      path.find_first_of(":/") != std::string::npos)
    std::abort();
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    const std::string part = path.substr(start, end - start);
    // No empty step and no step of dots only ("..", and what the system
    // shortens to it).
    if (part.empty() || part.find_first_not_of('.') == std::string::npos)
      std::abort();
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return 0;
}
