#include "platform/fake/FakeRegistry.h"

#include "common/Text.h"

#include <algorithm>

namespace fake {
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

bool FakeRegistry::ValueExists(const std::string& keyName, const std::string& valueName) {
  const std::string lower = text::ToLowerAscii(keyName);
  const bool denied = std::any_of(deniedKeys.begin(), deniedKeys.end(), [&](const std::string& k) {
    return text::EqualsIgnoreCase(k, keyName);
  });
  if (denied || !KeyExists(lower)) {
    journal.push_back("query " + keyName + " " + valueName + " (no key)");
    return false;
  }
  journal.push_back("query " + keyName + " " + valueName);
  return std::any_of(values_.begin(), values_.end(), [&](const Value& v) {
    return v.key == lower && text::EqualsIgnoreCase(v.name, valueName) &&
           (!v.appearsAt || TickReached(system_.tick, *v.appearsAt));
  });
}

} // namespace fake
