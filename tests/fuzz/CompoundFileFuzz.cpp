// libFuzzer target: the compound-file check on arbitrary bytes. It must
// answer, never hang or crash, whatever the allocation tables and the
// directory say.
#include "store/CompoundFileCheck.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

// The input as the only file; the check only reads.
class OneFile : public plat::IFileSystem {
public:
  explicit OneFile(std::string bytes) : bytes_(std::move(bytes)) {}

  bool FileExists(const std::string& path) override { return path == kPath; }
  bool DirectoryExists(const std::string&) override { return false; }
  std::string ReadFile(const std::string& path) override {
    return ReadFileRange(path, 0, bytes_.size());
  }
  std::optional<uint64_t> FileSize(const std::string& path) override {
    if (path != kPath)
      return std::nullopt;
    return bytes_.size();
  }
  std::string ReadFileRange(const std::string& path, uint64_t offset, size_t length) override {
    if (path != kPath)
      throw plat::PlatformError("no such file");
    if (offset >= bytes_.size())
      return {};
    return bytes_.substr(static_cast<size_t>(offset), length);
  }
  void WriteFile(const std::string&, const std::string&) override { Refuse(); }
  void DeleteFile(const std::string&) override { Refuse(); }
  bool CreateDirectories(const std::string&) override { return false; }
  void MoveFile(const std::string&, const std::string&) override { Refuse(); }
  void CopyFile(const std::string&, const std::string&) override { Refuse(); }
  void DeleteTree(const std::string&) override { Refuse(); }
  void CopyTree(const std::string&, const std::string&) override { Refuse(); }

  static constexpr const char* kPath = "C:\\package.bin";

private:
  [[noreturn]] static void Refuse() { throw plat::PlatformError("read only"); }
  std::string bytes_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  OneFile file(std::string(reinterpret_cast<const char*>(data), size));
  store::CompoundFileIsSound(file, OneFile::kPath);
  return 0;
}
