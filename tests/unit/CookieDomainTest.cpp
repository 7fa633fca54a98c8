// Which hosts a cookie's Domain attribute may widen it to. A device reached by
// its IP address must not be able to plant its cookie on other addresses,
// nor a name on a whole top-level domain.
#include "device/HttpClient.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

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

} // namespace
