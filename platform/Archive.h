// The archive library, loaded at run time, and the archives it opens.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

struct ArchiveFormat {
  std::string name;                    // the library's own name: "7z", "zip", "Compound", ...
  std::vector<std::string> extensions; // without dots, as the library lists them
};

struct ArchiveItem {
  std::string path; // exactly as stored in the archive, backslashes or not
  bool isFolder = false;
  // The unpacked size the archive states for the item; nothing when the
  // library does not tell it.
  std::optional<uint64_t> size = std::nullopt;
};

// Told how an extraction comes along: items written of the items asked for,
// on the caller's thread, a few times a second and once at the end.
using ItemProgress = std::function<void(uint64_t done, uint64_t total)>;
using ExtractTargets = std::vector<std::pair<uint32_t, std::string>>;

// One opened archive. Library errors are raised as PlatformError.
class IArchive {
public:
  virtual ~IArchive() = default;
  virtual std::vector<ArchiveItem> Items() = 0;
  // True when the library flagged the archive as damaged while opening it
  // (a truncated zip still opens and lists some items).
  virtual bool HasErrors() = 0;
  // Writes item `index` to `targetPath` for every pair; folder items become
  // folders. Parent folders must exist. Existing files are replaced. Raises
  // on the first item that fails (data error, checksum, write error), and
  // on an item whose data runs past its stated size, before more than that
  // size is written (an item without a stated size is not bounded here).
  // Items before the failing one stay written; the failing one's file goes.
  virtual void Extract(const ExtractTargets& targets, const ItemProgress& onProgress) = 0;
  void Extract(const ExtractTargets& targets) { Extract(targets, {}); }
};

class IArchiveLibrary {
public:
  virtual ~IArchiveLibrary() = default;
  // Loads the library once per process; false when it is absent or lacks an
  // entry point.
  virtual bool Load() = 0;
  // The formats in the library's own order.
  virtual std::vector<ArchiveFormat> Formats() = 0;
  // Opens `archivePath` as format `formatName`. Raises PlatformError when the
  // file is damaged or not of that format.
  virtual std::unique_ptr<IArchive> Open(const std::string& formatName,
                                         const std::string& archivePath) = 0;
};

} // namespace plat
