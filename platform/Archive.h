// The archive library, loaded at run time, and the archives it opens.
#pragma once

#include "platform/Stop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
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

// The archive's own fault: damaged data, a checksum that fails, an item
// longer than its stated size, a file that is not of its format. Fetching
// or copying it afresh may help; keeping it never will.
//
// A failure of this machine instead (a file or folder that cannot be made or
// written, a full disk, an archive file that cannot be read) is raised as
// PlatformError, with the system's reason in its text: the archive may be
// good, and is kept. ArchiveError is deliberately no PlatformError.
class ArchiveError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One opened archive. Its faults are raised as ArchiveError, this machine's
// as PlatformError.
class IArchive {
public:
  virtual ~IArchive() = default;
  virtual std::vector<ArchiveItem> Items() = 0;
  // True when the library flagged the archive as damaged while opening it
  // (a truncated zip still opens and lists some items).
  virtual bool HasErrors() = 0;
  // Writes item `index` to `targetPath` for every pair; folder items become
  // folders. Parent folders must exist. Existing files are replaced. Raises
  // on the first item that fails: ArchiveError for a data or checksum error
  // and for an item whose data runs past its stated size, before more than
  // that size is written (an item without a stated size is not bounded
  // here); PlatformError for a file or folder that cannot be made or
  // written. Items before the failing one stay written; the failing one's
  // file goes. When `stop` is requested meanwhile, the extraction ends at the
  // next piece and raises Stopped, the unfinished item's file gone.
  virtual void Extract(const ExtractTargets& targets, const ItemProgress& onProgress,
                       const StopFlag* stop) = 0;
  void Extract(const ExtractTargets& targets, const ItemProgress& onProgress) {
    Extract(targets, onProgress, nullptr);
  }
  void Extract(const ExtractTargets& targets) { Extract(targets, {}, nullptr); }
};

class IArchiveLibrary {
public:
  virtual ~IArchiveLibrary() = default;
  // Loads the library once per process; false when it is absent or lacks an
  // entry point.
  virtual bool Load() = 0;
  // The formats in the library's own order.
  virtual std::vector<ArchiveFormat> Formats() = 0;
  // Opens `archivePath` as format `formatName`. Raises ArchiveError when the
  // file is damaged or not of that format, PlatformError when it cannot be
  // read or the library lacks the format.
  virtual std::unique_ptr<IArchive> Open(const std::string& formatName,
                                         const std::string& archivePath) = 0;
};

} // namespace plat
