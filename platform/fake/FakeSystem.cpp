#include "platform/fake/FakeSystem.h"

#include "common/Text.h"

namespace fake {

std::string FakeSystem::EnvironmentVariable(const std::string& name) {
  for (const auto& [key, value] : environment)
    if (text::EqualsIgnoreCase(key, name))
      return value;
  return {};
}

void FakeSystem::Sleep(uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  tick += milliseconds;
}

namespace {
class FakeNamedLock : public plat::NamedLock {
public:
  FakeNamedLock(FakeSystem& system, std::string name) : system_(system), name_(std::move(name)) {
    ++system_.locksHeld[name_];
    system_.lockJournal.push_back("lock " + name_);
  }
  ~FakeNamedLock() override {
    if (--system_.locksHeld[name_] == 0)
      system_.locksHeld.erase(name_);
    system_.lockJournal.push_back("unlock " + name_);
  }
  FakeNamedLock(const FakeNamedLock&) = delete;
  FakeNamedLock& operator=(const FakeNamedLock&) = delete;

private:
  FakeSystem& system_;
  std::string name_;
};
} // namespace

std::unique_ptr<plat::NamedLock> FakeSystem::AcquireNamedLock(const std::string& name,
                                                              uint32_t waitMs) {
  if (!namedLocksWork)
    throw plat::PlatformError("Cannot create the lock " + name + ".");
  if (locksHeldElsewhere.count(name)) {
    tick += waitMs;
    return nullptr;
  }
  return std::make_unique<FakeNamedLock>(*this, name);
}

bool TickReached(uint32_t now, uint32_t at) {
  return static_cast<int32_t>(now - at) >= 0;
}

} // namespace fake
