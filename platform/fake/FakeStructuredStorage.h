// Compound files: well-formed bytes and their root streams.
#pragma once

#include "platform/Storage.h"
#include "platform/fake/FakeFileSystem.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace fake {

// The bytes of a small, well-formed compound file: header, one FAT sector, one
// directory sector with the root entry (its class id carries `tag`, so files
// differ) and, when `streamSize` is not 0, a stream "S" of that many bytes in
// regular sectors after them. The FAT is open for tests to damage.
std::string MinimalCompoundFile(uint32_t tag, uint32_t streamSize = 0);

// Compound files: by path, their root streams.
class FakeStructuredStorage : public plat::IStructuredStorage {
public:
  explicit FakeStructuredStorage(FakeFileSystem& files) : files_(files) {}
  std::map<std::string, std::map<std::u16string, std::string>> documents; // by file bytes
  void Add(const std::string& path, std::map<std::u16string, std::string> streams);
  bool IsStorageFile(const std::string& path) override;
  std::optional<std::string> ReadRootStream(const std::string& path,
                                            const std::u16string& streamName) override;

private:
  FakeFileSystem& files_;
};

} // namespace fake
