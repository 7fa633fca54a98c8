// The progress of one download or extraction, as the operator sees it beside
// the status text: a runtime image over a slow line takes minutes, and a
// status text that never changes looks like a hung launcher.
#pragma once

#include "common/LaunchView.h"
#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>

namespace launch {

// Redrawn at most this often, apart from the first and the last figure: the
// text stays readable and drawing costs nothing worth counting.
inline constexpr uint32_t kProgressRedrawMs = 250;

// "12.3 of 105.0 MB (11%), 4.2 MB/s"; without a total "12.3 MB, 4.2 MB/s";
// without a rate (too early to tell) the part after the comma is left out.
// A megabyte is 1,048,576 bytes, as the system's own file sizes count it.
std::string DownloadProgressText(uint64_t received, std::optional<uint64_t> total,
                                 std::optional<uint64_t> bytesPerSecond);
// "1234 of 3002 files".
std::string ExtractionProgressText(uint64_t done, uint64_t total);

// Shows one transfer's figures on a view, no more often than
// kProgressRedrawMs, and clears them when it goes.
class ProgressDisplay {
public:
  ProgressDisplay(ILaunchView& view, plat::ISystem& system);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void Bytes(uint64_t received, std::optional<uint64_t> total);
  void Items(uint64_t done, uint64_t total);

private:
  bool Due(bool last);

  ILaunchView& view_;
  plat::ISystem& system_;
  uint32_t start_;
  std::optional<uint32_t> lastDrawn_;
};

} // namespace launch
