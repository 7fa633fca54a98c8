// libFuzzer target: Set-Cookie handling. The input is a request host, a line
// break and the header's value. Besides not crashing, a kept cookie belongs
// to the host it came from: an address's cookie is only ever for that
// address, a name's for the name or a parent domain of two labels or more.
#include "device/HttpClient.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool EndsWithLabel(const std::string& host, const std::string& domain) {
  return host.size() > domain.size() &&
         host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  if (newline == std::string_view::npos)
    return 0;
  const std::string host(input.substr(0, newline));
  const std::string setCookie(input.substr(newline + 1));
  if (host.find_first_of(":/?#@[] \t\r") != std::string::npos)
    return 0; // one plain host name or IPv4 form, as the launcher sends them
  const std::string url = "https://" + host + "/LOGIN";
  const auto parsed = device::ParseUrl(url);
  if (!parsed)
    return 0;

  device::CookieStore store;
  store.TakeFrom(url, {{"Set-Cookie", setCookie}});
  const bool address = parsed->host.find_first_not_of("0123456789.") == std::string::npos;
  for (const device::CookieStore::Cookie& c : store.Cookies()) {
    bool belongs = c.hostOnly
                       ? c.domain == parsed->host
                       : !address && c.domain.find('.') != std::string::npos &&
                             (c.domain == parsed->host || EndsWithLabel(parsed->host, c.domain));
    if (!belongs)
      std::abort();
  }
  return 0;
}
