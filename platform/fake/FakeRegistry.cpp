#include "platform/fake/FakeRegistry.h"

#include "common/Text.h"

#include <algorithm>
#include <cstdio>

namespace fake {
namespace {

std::string Hex(uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

} // namespace

void FakeRegistry::AddValue(const std::string& key, const std::string& name,
                            std::optional<uint32_t> appearsAt) {
  values_.push_back(Value{text::ToLowerAscii(key), name, appearsAt});
}

void FakeRegistry::AddKey(const std::string& key) {
  keys_.insert(text::ToLowerAscii(key));
}

bool FakeRegistry::KeyExists(const std::string& lowerKey) const {
  if (keys_.count(lowerKey))
    return true;
  return std::any_of(values_.begin(), values_.end(), [&](const Value& v) {
    return v.key == lowerKey && (!v.appearsAt || TickReached(system_.tick, *v.appearsAt));
  });
}

plat::RegistryKey FakeRegistry::OpenCurrentUserKey(const std::string& keyName, uint32_t access) {
  std::string lower = text::ToLowerAscii(keyName);
  bool denied = std::any_of(deniedKeys.begin(), deniedKeys.end(), [&](const std::string& k) {
    return text::EqualsIgnoreCase(k, keyName);
  });
  std::string line = "open " + keyName + " " + Hex(access);
  if (denied || !KeyExists(lower)) {
    journal.push_back(line + " (failed)");
    return plat::RegistryKey::None;
  }
  journal.push_back(line);
  uint64_t handle = nextKey_;
  nextKey_ += 4;
  open_[handle] = lower;
  return static_cast<plat::RegistryKey>(handle);
}

bool FakeRegistry::ValueExists(plat::RegistryKey key, const std::string& valueName) {
  journal.push_back("query " + valueName);
  auto it = open_.find(static_cast<uint64_t>(key));
  if (it == open_.end())
    return false;
  return std::any_of(values_.begin(), values_.end(), [&](const Value& v) {
    return v.key == it->second && text::EqualsIgnoreCase(v.name, valueName) &&
           (!v.appearsAt || TickReached(system_.tick, *v.appearsAt));
  });
}

void FakeRegistry::CloseKey(plat::RegistryKey key) {
  journal.push_back("close");
  if (open_.erase(static_cast<uint64_t>(key)) == 0)
    ++badCloses;
}

} // namespace fake
