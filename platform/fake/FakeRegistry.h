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
  // "query KEY NAME", or "query KEY NAME (no key)" when the key does not
  // open.
  std::vector<std::string> journal;

  bool ValueExists(const std::string& keyName, const std::string& valueName) override;

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
};

} // namespace fake
