// A request to give up the work in progress: the operator closed the window
// while a download, an extraction or a wait was under way. The window's
// thread sets it; the worker doing the work reads it between pieces.
#pragma once

#include <atomic>
#include <stdexcept>

namespace plat {

class StopFlag {
public:
  void Request() { requested_.store(true); }
  bool Requested() const { return requested_.load(); }

private:
  std::atomic<bool> requested_{false};
};

inline bool StopRequested(const StopFlag* stop) {
  return stop != nullptr && stop->Requested();
}

// Raised where work gave up because a stop was requested. It is nobody's
// fault: neither the device's nor the archive's nor this machine's, so it is
// deliberately none of ArchiveError or PlatformError, and what was used
// (a cached archive) is kept.
class Stopped : public std::runtime_error {
public:
  Stopped() : std::runtime_error("Stopped: the launcher was closed.") {}
};

} // namespace plat
