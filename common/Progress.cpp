#include "common/Progress.h"

#include <cstdio>

namespace launch {

namespace {

// The rate is told only after this long: the first moments of a transfer
// (the connection, the first buffers) say little about the rest.
constexpr uint32_t kRateAfterMs = 500;

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

} // namespace

std::string DownloadProgressText(uint64_t received, std::optional<uint64_t> total,
                                 std::optional<uint64_t> bytesPerSecond) {
  std::string text;
  if (total && *total > 0) {
    // Bodies are capped far below where the product could overflow.
    uint64_t percent = received >= *total ? 100 : received * 100 / *total;
    text =
        Megabytes(received) + " of " + Megabytes(*total) + " MB (" + std::to_string(percent) + "%)";
  } else {
    text = Megabytes(received) + " MB";
  }
  if (bytesPerSecond)
    text += ", " + Megabytes(*bytesPerSecond) + " MB/s";
  return text;
}

std::string ExtractionProgressText(uint64_t done, uint64_t total) {
  return std::to_string(done) + " of " + std::to_string(total) + " files";
}

ProgressDisplay::ProgressDisplay(ILaunchView& view, plat::ISystem& system)
    : view_(view), system_(system), start_(system.TickCount()) {}

ProgressDisplay::~ProgressDisplay() {
  try {
    view_.ShowProgress("");
  } catch (...) {
    // A window that is going away has nothing left to clear.
  }
}

bool ProgressDisplay::Due(bool last) {
  uint32_t now = system_.TickCount();
  if (!last && lastDrawn_ && static_cast<uint32_t>(now - *lastDrawn_) < kProgressRedrawMs)
    return false;
  lastDrawn_ = now;
  return true;
}

void ProgressDisplay::Bytes(uint64_t received, std::optional<uint64_t> total) {
  if (!Due(total && received >= *total))
    return;
  uint32_t elapsed = system_.TickCount() - start_;
  std::optional<uint64_t> rate;
  if (elapsed >= kRateAfterMs)
    rate = received * 1000 / elapsed;
  view_.ShowProgress(DownloadProgressText(received, total, rate));
}

void ProgressDisplay::Items(uint64_t done, uint64_t total) {
  if (Due(done >= total))
    view_.ShowProgress(ExtractionProgressText(done, total));
}

} // namespace launch
