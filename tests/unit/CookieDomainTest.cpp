// Which hosts a cookie's Domain attribute may widen it to. A device reached by
// its IP address must not be able to plant its cookie on other addresses,
// nor a name on a whole top-level domain.
#include "device/HttpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using device::CookieStore;

struct DomainCase {
  const char* host;   // the host the answer came from
  const char* domain; // the Set-Cookie's Domain attribute
  bool accepted;
  // When accepted: a host the cookie goes to besides its own, or "".
  const char* alsoSentTo;
  // A host the cookie must never go to.
  const char* neverSentTo;
};

void PrintTo(const DomainCase& c, std::ostream* os) {
  *os << c.host << " with Domain=" << c.domain;
}

class CookieDomainTest : public testing::TestWithParam<DomainCase> {};

TEST_P(CookieDomainTest, DomainIsAcceptedOnlyWhereItMayApply) {
  const DomainCase& c = GetParam();
  const std::string url = std::string("https://") + c.host + "/LOGIN";
  CookieStore store;
  store.TakeFrom(url, {{"Set-Cookie", std::string("sid=42; path=/; Domain=") + c.domain}});
  ASSERT_EQ(store.Cookies().size(), c.accepted ? 1u : 0u);
  EXPECT_EQ(store.HeaderFor(url), c.accepted ? "sid=42" : "");
  if (*c.alsoSentTo) {
    EXPECT_EQ(store.HeaderFor(std::string("https://") + c.alsoSentTo + "/x"), "sid=42");
  }
  EXPECT_EQ(store.HeaderFor(std::string("https://") + c.neverSentTo + "/x"), "");
}

const DomainCase kDomainCases[] = {
    // IPv4 hosts: only the host itself, never a suffix of it.
    {"127.0.0.1", "0.1", false, "", "127.1.0.1"},
    {"127.0.0.1", "0.0.1", false, "", "10.0.0.1"},
    {"192.168.1.10", "168.1.10", false, "", "10.168.1.10"},
    {"127.0.0.1", "127.0.0.1", true, "", "127.1.0.1"},
    {"127.0.0.1", ".127.0.0.1", true, "", "1.127.0.0.1"},
    {"127.1", "1", false, "", "10.1"},
    {"127.0.0.1.", "0.0.1.", false, "", "10.0.0.1."},
    {"0x7f.0.0.1", "0.0.1", false, "", "10.0.0.1"},
    {"10.0.0.1", "1", false, "", "10.0.0.1"},
    // Bracketed IPv6 hosts.
    {"[::1]", "::1", true, "", "[::2]"},
    {"[fe80::1]", "[fe80::1]", true, "", "[fe80::2]"},
    {"[::1]", "1", false, "", "[::1]"},
    // Single-label domains: never a suffix, only the host itself.
    {"gw", "gw", true, "", "a.gw"},
    {"gw.lan", "lan", false, "", "other.lan"},
    {"gw.lan", ".lan", false, "", "other.lan"},
    // Names: the host or a parent domain of it, with two labels at least.
    {"a.device.test", "device.test", true, "b.device.test", "otherdevice.test"},
    {"GW.Example.COM", "EXAMPLE.com", true, "www.example.com", "example.org"},
    {"device.test", "device.test", true, "a.device.test", "test"},
    {"device.test", "other.test", false, "", "other.test"},
    {"device.test", "evice.test", false, "", "evice.test"},
    {"device.test", "a.device.test", false, "", "a.device.test"},
};

INSTANTIATE_TEST_SUITE_P(Table, CookieDomainTest, testing::ValuesIn(kDomainCases),
                         [](const testing::TestParamInfo<DomainCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

// Without a Domain attribute a cookie stays with its host, an IP address
// included; a cookie held for a name never goes to an address that ends the
// same way.
TEST(CookieDomain, HostOnlyCookiesAndAddressesNeverSuffixMatch) {
  CookieStore store;
  store.TakeFrom("https://127.0.0.1/LOGIN", {{"Set-Cookie", "a=1; path=/"}});
  store.TakeFrom("https://x.0.1/LOGIN", {{"Set-Cookie", "b=2; path=/; Domain=x.0.1"}});
  EXPECT_EQ(store.HeaderFor("https://127.0.0.1/"), "a=1");
  EXPECT_EQ(store.HeaderFor("https://127.1.0.1/"), "");
  EXPECT_EQ(store.HeaderFor("https://y.x.0.1/"), "");
}

// What a device that sets cookies without end leaves in the store: bounded
// per domain, oldest out first, the session cookie always kept, and other
// hosts' cookies untouched.
struct FloodCase {
  const char* name;
  std::function<void(CookieStore&)> set; // the answers the store takes
  size_t keptForDevice;                  // cookies of the device's host afterwards
  std::vector<std::string> kept;         // names that must be kept
  std::vector<std::string> gone;         // names that must not be
};

constexpr const char* kDevice = "https://192.0.2.7/LOGIN";
constexpr const char* kSession = "R930::AuthCookieHandler_R930HMI";

void SetFrom(CookieStore& store, const char* url, const std::string& name,
             const std::string& value) {
  store.TakeFrom(url, {{"Set-Cookie", name + "=" + value + "; path=/"}});
}

// `count` cookies c0, c1, ... of `valueBytes` bytes each, one answer each.
std::function<void(CookieStore&)> Flood(int count, size_t valueBytes) {
  return [=](CookieStore& store) {
    for (int i = 0; i < count; ++i)
      SetFrom(store, kDevice, "c" + std::to_string(i), std::string(valueBytes, 'v'));
  };
}

void PrintTo(const FloodCase& c, std::ostream* os) {
  *os << c.name;
}

class CookieFloodTest : public testing::TestWithParam<FloodCase> {};

TEST_P(CookieFloodTest, TheStoreStaysWithinItsBoundsPerDomain) {
  const FloodCase& c = GetParam();
  CookieStore store;
  c.set(store);
  std::vector<std::string> names;
  size_t bytes = 0; // the session cookie aside: it is never evicted
  size_t sessionBytes = 0;
  for (const CookieStore::Cookie& cookie : store.Cookies()) {
    if (cookie.domain != "192.0.2.7")
      continue;
    names.push_back(cookie.name);
    (cookie.name == kSession ? sessionBytes : bytes) += cookie.name.size() + cookie.value.size();
  }
  EXPECT_EQ(names.size(), c.keptForDevice);
  EXPECT_LE(names.size(), device::kMaxCookiesPerDomain);
  EXPECT_LE(bytes, device::kMaxCookieBytesPerDomain + device::kMaxCookieBytes);
  EXPECT_LE(sessionBytes, device::kMaxSessionCookieBytes);
  for (const std::string& name : c.kept)
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  for (const std::string& name : c.gone)
    EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
  // What goes back to the device is what was kept.
  EXPECT_LE(store.HeaderFor(kDevice).size(),
            device::kMaxCookieBytesPerDomain + 2 * 50 + 4096 + device::kMaxSessionCookieBytes);
}

const FloodCase kFloodCases[] = {
    {"a thousand small cookies: the newest fifty stay",
     Flood(1000, 8),
     50,
     {"c950", "c999"},
     {"c0", "c949"}},
    {"seventy of 1 KB: the newest that fit in the domain's bytes stay",
     Flood(70, 1024 - 3),
     16,
     {"c54", "c69"},
     {"c0", "c53"}},
    {"the session cookie outlives a flood set after it",
     [](CookieStore& store) {
       SetFrom(store, kDevice, kSession, std::string(32, 'a'));
       Flood(1000, 8)(store);
     },
     50,
     {kSession, "c999"},
     {"c950"}},
    {"a session cookie set again after a flood is still kept",
     [](CookieStore& store) {
       SetFrom(store, kDevice, kSession, "old");
       Flood(60, 8)(store);
       SetFrom(store, kDevice, kSession, "new");
     },
     50,
     {kSession, "c59"},
     {"c10"}},
    {"one cookie longer than a cookie may be is not kept",
     [](CookieStore& store) {
       SetFrom(store, kDevice, "big", std::string(4096 - 3 + 1, 'v'));
       SetFrom(store, kDevice, "fits", std::string(4096 - 4, 'v'));
     },
     1,
     {"fits"},
     {"big"}},
    // The session cookie is the launch: no bound meant for a flood drops
    // it, however long a device makes it.
    {"a session cookie longer than any other cookie may be is kept",
     [](CookieStore& store) {
       SetFrom(store, kDevice, kSession, std::string(device::kMaxCookieBytes * 2, 's'));
       Flood(60, 1024)(store);
     },
     8,
     {kSession, "c59"},
     {"c0", "c52"}},
    {"a session cookie as long as a session cookie may be is kept",
     [](CookieStore& store) {
       SetFrom(store, kDevice, kSession,
               std::string(device::kMaxSessionCookieBytes - std::string(kSession).size(), 's'));
       SetFrom(store, kDevice, "after", "1");
     },
     1,
     {kSession},
     {"after"}},
    {"a session cookie beyond any sense is not kept",
     [](CookieStore& store) {
       SetFrom(store, kDevice, kSession,
               std::string(device::kMaxSessionCookieBytes - std::string(kSession).size() + 1, 's'));
     },
     0,
     {},
     {kSession}},
    {"a cookie set again is not counted twice",
     [](CookieStore& store) {
       for (int round = 0; round < 3; ++round)
         Flood(50, 8)(store);
     },
     50,
     {"c0", "c49"},
     {}},
    {"another host's flood leaves the device's cookies alone",
     [](CookieStore& store) {
       SetFrom(store, kDevice, kSession, "s");
       SetFrom(store, kDevice, "mine", "1");
       for (int i = 0; i < 200; ++i)
         SetFrom(store, "https://192.0.2.8/LOGIN", "o" + std::to_string(i), "x");
     },
     2,
     {kSession, "mine"},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Table, CookieFloodTest, testing::ValuesIn(kFloodCases),
                         [](const testing::TestParamInfo<FloodCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

} // namespace
