#include "store/CompoundFileCheck.h"

#include "common/Bytes.h"

#include <algorithm>
#include <array>
#include <vector>

namespace store {

namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::array<unsigned char, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                     0xA1, 0xB1, 0x1A, 0xE1};
// The directory, the allocation tables and the mini stream are all that is
// read here; they stay small even for large packages.
constexpr uint64_t kMaxTableBytes = 64ull << 20;

using bytes::Le16;
using bytes::Le32;

class Checker {
public:
  Checker(plat::IFileSystem& files, const std::string& path, uint64_t size)
      : files_(files), path_(path), fileSize_(size) {}

  bool Run() {
    if (fileSize_ < 512)
      return false;
    std::string header = files_.ReadFileRange(path_, 0, 512);
    if (header.size() < 512 ||
        !std::equal(kSignature.begin(), kSignature.end(), header.begin(),
                    [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }))
      return false;
    if (Le16(header, 28) != 0xFFFE)
      return false;
    const uint16_t shift = Le16(header, 30);
    if ((shift != 9 && shift != 12) || Le16(header, 32) != 6)
      return false;
    sectorSize_ = size_t{1} << shift;
    sectorCount_ = (fileSize_ - 1) / sectorSize_; // sectors after the header
    const uint32_t fatSectors = Le32(header, 44);
    const uint32_t firstDirectory = Le32(header, 48);
    const uint32_t cutoff = Le32(header, 56);
    const uint32_t firstMiniFat = Le32(header, 60);
    uint32_t difatSector = Le32(header, 68);
    const uint32_t difatSectors = Le32(header, 72);
    if (uint64_t{fatSectors} * sectorSize_ > kMaxTableBytes || fatSectors > sectorCount_)
      return false;

    // Where the FAT lies: 109 entries in the header, then a chain of DIFAT
    // sectors, each ending in the number of the next one.
    std::vector<uint32_t> fatSectorIds;
    for (size_t i = 0; i < 109 && fatSectorIds.size() < fatSectors; ++i)
      fatSectorIds.push_back(Le32(header, 76 + i * 4));
    std::vector<bool> seenDifat(sectorCount_, false);
    for (uint32_t n = 0; fatSectorIds.size() < fatSectors; ++n) {
      if (n >= difatSectors || !ValidSector(difatSector) || seenDifat[difatSector])
        return false;
      seenDifat[difatSector] = true;
      std::string sector = Sector(difatSector);
      const size_t perSector = sectorSize_ / 4 - 1;
      for (size_t i = 0; i < perSector && fatSectorIds.size() < fatSectors; ++i)
        fatSectorIds.push_back(Le32(sector, i * 4));
      difatSector = Le32(sector, perSector * 4);
    }
    for (uint32_t id : fatSectorIds) {
      if (!ValidSector(id))
        return false;
      std::string sector = Sector(id);
      for (size_t i = 0; i < sectorSize_; i += 4)
        fat_.push_back(Le32(sector, i));
    }

    // The directory: a chain of its own, 128 bytes an entry.
    std::string directory;
    if (!ReadChain(fat_, firstDirectory, sectorCount_, [&](uint32_t id) {
          directory += Sector(id);
          return directory.size() <= kMaxTableBytes;
        }))
      return false;
    const size_t entries = directory.size() / 128;
    if (entries == 0 || directory[66] != 5) // the first entry is the root
      return false;
    if (!TreeIsSound(directory, entries))
      return false;

    // The mini FAT and the mini stream (the root entry's data).
    std::vector<uint32_t> miniFat;
    if (firstMiniFat != kEndOfChain &&
        !ReadChain(fat_, firstMiniFat, sectorCount_, [&](uint32_t id) {
          std::string sector = Sector(id);
          for (size_t i = 0; i < sectorSize_; i += 4)
            miniFat.push_back(Le32(sector, i));
          return miniFat.size() * 4 <= kMaxTableBytes;
        }))
      return false;
    const uint64_t miniStreamSize = Le32(directory, 120);
    const uint64_t miniSectors = miniStreamSize / 64 + (miniStreamSize % 64 != 0);
    if (!StreamChainIsSound(fat_, Le32(directory, 116), miniStreamSize, sectorSize_, sectorCount_))
      return false;

    for (size_t e = 1; e < entries; ++e) {
      const size_t at = e * 128;
      if (directory[at + 66] != 2) // only streams own data
        continue;
      const uint64_t size = Le32(directory, at + 120);
      const uint32_t start = Le32(directory, at + 116);
      bool sound = size < cutoff ? StreamChainIsSound(miniFat, start, size, 64, miniSectors)
                                 : StreamChainIsSound(fat_, start, size, sectorSize_, sectorCount_);
      if (!sound)
        return false;
    }
    return true;
  }

private:
  bool ValidSector(uint32_t id) const { return id <= kMaxRegularSector && id < sectorCount_; }

  std::string Sector(uint32_t id) {
    std::string bytes = files_.ReadFileRange(path_, (uint64_t{id} + 1) * sectorSize_, sectorSize_);
    bytes.resize(sectorSize_, '\0');
    return bytes;
  }

  // Walks a chain from `start`; false for a loop, a sector out of range or a
  // chain without an end. `visit` may stop the walk by returning false.
  template <typename F>
  static bool ReadChain(const std::vector<uint32_t>& table, uint32_t start, uint64_t limit,
                        F&& visit) {
    std::vector<bool> seen(std::min<uint64_t>(table.size(), limit), false);
    for (uint32_t id = start; id != kEndOfChain; id = table[id]) {
      if (id >= seen.size() || seen[id])
        return false;
      seen[id] = true;
      if (!visit(id))
        return false;
    }
    return true;
  }

  static bool StreamChainIsSound(const std::vector<uint32_t>& table, uint32_t start, uint64_t size,
                                 size_t unit, uint64_t limit) {
    if (size == 0)
      return true;
    uint64_t length = 0;
    if (!ReadChain(table, start, limit, [&](uint32_t) { return ++length > 0; }))
      return false;
    return length * unit >= size;
  }

  // Every child and sibling link points at an entry, and no entry is reached
  // twice: a loop in the tree would have a reader walk it forever.
  static bool TreeIsSound(const std::string& directory, size_t entries) {
    std::vector<bool> seen(entries, false);
    std::vector<uint32_t> pending{0};
    seen[0] = true;
    while (!pending.empty()) {
      uint32_t e = pending.back();
      pending.pop_back();
      for (size_t link : {68, 72, 76}) { // left sibling, right sibling, child
        uint32_t next = Le32(directory, e * 128 + link);
        if (next == kNoStream || (e == 0 && link != 76 && next == kFreeSector))
          continue;
        if (next >= entries || seen[next])
          return false;
        seen[next] = true;
        pending.push_back(next);
      }
    }
    return true;
  }

  plat::IFileSystem& files_;
  const std::string& path_;
  uint64_t fileSize_;
  size_t sectorSize_ = 512;
  uint64_t sectorCount_ = 0;
  std::vector<uint32_t> fat_;
};

} // namespace

bool CompoundFileIsSound(plat::IFileSystem& files, const std::string& path) {
  try {
    std::optional<uint64_t> size = files.FileSize(path);
    return size && Checker(files, path, *size).Run();
  } catch (const std::exception&) {
    return false;
  }
}

} // namespace store
