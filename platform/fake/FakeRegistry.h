// The values of HKEY_CURRENT_USER, appearing on the fake clock.
#pragma once

#include "platform/Desktop.h"
#include "platform/fake/FakeSystem.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

// HKEY_CURRENT_USER: keys and value names compare without regard to ASCII
// case. A key exists once it was added or one of its values exists.
class FakeRegistry : public plat::IRegistry {
public:
  explicit FakeRegistry(FakeSystem& system) : system_(system) {}

  // A value that exists from `appearsAt` on (from the start without one).
  void AddValue(const std::string& key, const std::string& name,
                std::optional<uint32_t> appearsAt = std::nullopt);
  void AddKey(const std::string& key);
  // Keys whose opening is refused (access denied).
  std::set<std::string> deniedKeys;
  // "open KEY 0x20019", "open KEY 0x20019 (failed)", "query NAME", "close".
  std::vector<std::string> journal;
  // CloseKey of a handle that was not open.
  int badCloses = 0;
  size_t OpenKeys() const { return open_.size(); }

  plat::RegistryKey OpenCurrentUserKey(const std::string& keyName, uint32_t access) override;
  bool ValueExists(plat::RegistryKey key, const std::string& valueName) override;
  void CloseKey(plat::RegistryKey key) override;

private:
  bool KeyExists(const std::string& lowerKey) const;

  struct Value {
    std::string key; // lower case
    std::string name;
    std::optional<uint32_t> appearsAt;
  };
  FakeSystem& system_;
  std::vector<Value> values_;
  std::set<std::string> keys_;
  std::map<uint64_t, std::string> open_; // handle -> lower-case key
  uint64_t nextKey_ = 0x80;
};

} // namespace fake
