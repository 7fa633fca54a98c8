#include "device/HttpClient.h"

#include "common/LaunchState.h"
#include "common/Text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <random>
#include <string_view>

namespace device {

std::optional<Url> ParseUrl(const std::string& url) {
  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0)
    return std::nullopt;
  Url u;
  u.scheme = text::ToLowerAscii(url.substr(0, schemeEnd));
  size_t authorityStart = schemeEnd + 3;
  size_t pathStart = url.find_first_of("/?#", authorityStart);
  std::string authority =
      url.substr(authorityStart,
                 pathStart == std::string::npos ? std::string::npos : pathStart - authorityStart);
  size_t at = authority.rfind('@');
  if (at != std::string::npos)
    authority = authority.substr(at + 1);
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    u.host = authority.substr(0, close == std::string::npos ? std::string::npos : close + 1);
  } else {
    u.host = authority.substr(0, authority.find(':'));
  }
  if (u.host.empty())
    return std::nullopt;
  u.host = text::ToLowerAscii(u.host);
  u.path = "/";
  if (pathStart != std::string::npos && url[pathStart] == '/') {
    size_t end = url.find_first_of("?#", pathStart);
    u.path = url.substr(pathStart, end == std::string::npos ? std::string::npos : end - pathStart);
  }
  return u;
}

namespace {

// The directory of a request path, as a cookie's default path.
std::string DefaultPath(const std::string& path) {
  if (path.empty() || path[0] != '/')
    return "/";
  size_t last = path.rfind('/');
  return last == 0 ? "/" : path.substr(0, last);
}

// A label that a resolver may read as a number: decimal digits, or 0x and
// hex digits ("127.1" and "0x7f.1" are addresses to it). No top-level domain
// is numeric.
bool NumericLabel(std::string_view label) {
  if (label.size() > 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X'))
    return std::all_of(label.begin() + 2, label.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  return !label.empty() && std::all_of(label.begin(), label.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

// An IP address rather than a name: bracketed IPv6, or a host whose last
// label is numeric (IPv4 in any of the forms a resolver accepts, a trailing
// dot included).
bool IsAddress(std::string_view host) {
  if (!host.empty() && host.front() == '[')
    return true;
  if (!host.empty() && host.back() == '.')
    host.remove_suffix(1);
  size_t dot = host.rfind('.');
  return NumericLabel(dot == std::string_view::npos ? host : host.substr(dot + 1));
}

// The host suffix rule for names only: an address matches only itself, or
// 127.0.0.1 would match a cookie of "0.1".
bool DomainMatches(const CookieStore::Cookie& c, const std::string& host) {
  if (c.hostOnly || IsAddress(host))
    return host == c.domain;
  return host == c.domain ||
         (host.size() > c.domain.size() &&
          host.compare(host.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
          host[host.size() - c.domain.size() - 1] == '.');
}

// What a Domain attribute (its leading dot gone, in lower case) does to a
// cookie from `host`: nothing when it names the host itself (the cookie stays
// host-only), widens it to a parent domain of a name, or refuses the cookie.
// An address is never widened, and a single label is a top-level domain
// (or a host of its own): no cookie may cover all of its hosts.
enum class DomainVerdict { HostOnly, Widen, Refuse };

DomainVerdict JudgeDomain(const std::string& domain, const std::string& host) {
  if (IsAddress(host)) {
    bool sameAddress = domain == host || (host.front() == '[' && "[" + domain + "]" == host);
    return sameAddress ? DomainVerdict::HostOnly : DomainVerdict::Refuse;
  }
  if (domain.find('.') == std::string::npos)
    return domain == host ? DomainVerdict::HostOnly : DomainVerdict::Refuse;
  CookieStore::Cookie probe;
  probe.hostOnly = false;
  probe.domain = domain;
  return DomainMatches(probe, host) ? DomainVerdict::Widen : DomainVerdict::Refuse;
}

bool PathMatches(const std::string& cookiePath, const std::string& requestPath) {
  if (requestPath == cookiePath)
    return true;
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0)
    return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

} // namespace

void CookieStore::Set(const std::string& url, const std::string& setCookie) {
  std::optional<Url> u = ParseUrl(url);
  if (!u)
    return;
  std::vector<std::string> parts = text::Split(setCookie, ';');
  std::string pair = parts[0];
  size_t eq = pair.find('=');
  if (eq == std::string::npos)
    return;
  Cookie c;
  c.name = text::Trim(pair.substr(0, eq));
  c.value = text::Trim(pair.substr(eq + 1));
  if (c.name.empty())
    return;
  c.domain = u->host;
  c.path = DefaultPath(u->path);
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string attr = text::Trim(parts[i]);
    size_t aeq = attr.find('=');
    std::string key = text::ToLowerAscii(text::Trim(attr.substr(0, aeq)));
    std::string val = aeq == std::string::npos ? "" : text::Trim(attr.substr(aeq + 1));
    if (key == "domain" && !val.empty()) {
      if (val[0] == '.')
        val = val.substr(1);
      if (val.empty())
        continue; // "Domain=." names nothing: the cookie stays host-only
      val = text::ToLowerAscii(val);
      // A server may only widen a cookie to a domain it belongs to.
      switch (JudgeDomain(val, u->host)) {
      case DomainVerdict::Refuse:
        return;
      case DomainVerdict::HostOnly:
        c.domain = u->host;
        c.hostOnly = true;
        break;
      case DomainVerdict::Widen:
        c.domain = val;
        c.hostOnly = false;
        break;
      }
    } else if (key == "path" && !val.empty() && val[0] == '/') {
      c.path = val;
    } else if (key == "secure") {
      c.secure = true;
    }
  }
  // The session cookie has a bound of its own: the launch fails without it,
  // so only a length no device would ever mean is refused.
  const size_t maxBytes =
      c.name == launch::kSessionCookieName ? kMaxSessionCookieBytes : kMaxCookieBytes;
  if (c.name.size() + c.value.size() > maxBytes)
    return;
  // A cookie set again keeps its place (and its age); a new one is the
  // youngest of its domain.
  bool replaced = false;
  for (Cookie& existing : cookies_) {
    if (existing.name == c.name && existing.domain == c.domain && existing.path == c.path) {
      existing = c;
      replaced = true;
      break;
    }
  }
  if (!replaced)
    cookies_.push_back(c);
  Bound(c.domain);
}

void CookieStore::Bound(const std::string& domain) {
  // The login's cookie is the session itself: without it every later request
  // of the launch fails, so a flood of others never pushes it out.
  size_t count = 0;
  size_t bytes = 0;
  for (const Cookie& c : cookies_) {
    if (c.domain == domain) {
      ++count;
      bytes += c.name.size() + c.value.size();
    }
  }
  for (auto it = cookies_.begin(); it != cookies_.end() && (count > kMaxCookiesPerDomain ||
                                                            bytes > kMaxCookieBytesPerDomain);) {
    if (it->domain != domain || it->name == launch::kSessionCookieName) {
      ++it;
      continue;
    }
    --count;
    bytes -= it->name.size() + it->value.size();
    it = cookies_.erase(it);
  }
}

void CookieStore::TakeFrom(const std::string& url, const plat::HeaderList& headers) {
  for (const auto& [name, value] : headers)
    if (text::EqualsIgnoreCase(name, "Set-Cookie"))
      Set(url, value);
}

std::string CookieStore::HeaderFor(const std::string& url) const {
  std::optional<Url> u = ParseUrl(url);
  if (!u)
    return {};
  std::vector<const Cookie*> matching;
  for (const Cookie& c : cookies_)
    if (DomainMatches(c, u->host) && PathMatches(c.path, u->path) &&
        (!c.secure || u->scheme == "https"))
      matching.push_back(&c);
  // Longer paths first; equal paths keep the order they were kept in.
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() > b->path.size();
  });
  std::string header;
  for (const Cookie* c : matching)
    header += (header.empty() ? "" : "; ") + c->name + "=" + c->value;
  return header;
}

std::string EncodeFormField(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
        c == '-' || c == '.' || c == '_') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0xF];
    }
  }
  return out;
}

std::string EncodeForm(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (size_t i = 0; i < fields.size(); ++i)
    body +=
        (i ? "&" : "") + EncodeFormField(fields[i].first) + "=" + EncodeFormField(fields[i].second);
  return body;
}

std::string MakeMultipart(const std::string& fieldName, const std::string& content,
                          std::string& body) {
  static std::atomic<uint32_t> counter{0};
  static std::mt19937_64 rng(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string boundary =
      "----VeltraBoundary" + std::to_string(rng()) + "x" + std::to_string(++counter);
  body = "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"" + fieldName +
         "\"\r\n\r\n" + content + "\r\n--" + boundary + "--\r\n";
  return "multipart/form-data; boundary=" + boundary;
}

std::string BodyText(const plat::HttpResponse& response) {
  std::string charset;
  for (const auto& [name, value] : response.headers) {
    if (!text::EqualsIgnoreCase(name, "Content-Type"))
      continue;
    std::string lower = text::ToLowerAscii(value);
    size_t pos = lower.find("charset=");
    if (pos != std::string::npos) {
      charset = text::Trim(lower.substr(pos + 8));
      charset = charset.substr(0, charset.find(';'));
      if (charset.size() >= 2 && charset.front() == '"')
        charset = charset.substr(1, charset.size() - 2);
    }
  }
  if (charset == "iso-8859-1" || charset == "latin1" || charset == "us-ascii" ||
      charset == "windows-1252") {
    std::u16string wide;
    for (unsigned char c : response.body)
      wide += static_cast<char16_t>(c);
    return text::Utf16ToUtf8(wide);
  }
  // UTF-8 (also for no charset); invalid bytes become replacement characters.
  return text::Utf16ToUtf8(text::Utf8ToUtf16(response.body));
}

THttpClient::THttpClient(plat::IHttpTransport& transport) : transport_(transport) {
  transport_.SetCertificateHook(
      [this] { return OnValidateServerCertificate ? OnValidateServerCertificate() : false; });
}

std::optional<plat::HttpResponse> THttpClient::Send(plat::HttpRequest request) {
  std::string cookie = cookies_.HeaderFor(request.url);
  if (!cookie.empty())
    request.headers.emplace_back("Cookie", cookie);
  std::string error;
  // A local failure raises and passes by OnRequestError: the request itself
  // did not fail, and the device session it belongs to is still open.
  std::optional<plat::HttpResponse> response = transport_.Send(request, error);
  if (!response) {
    if (OnRequestError)
      OnRequestError(error);
    return std::nullopt;
  }
  cookies_.TakeFrom(request.url, response->headers);
  return response;
}

std::optional<plat::HttpResponse> THttpClient::Get(const std::string& url) {
  plat::HttpRequest r;
  r.method = "GET";
  r.url = url;
  return Send(std::move(r));
}

std::optional<plat::HttpResponse>
THttpClient::Post(const std::string& url, const std::string& contentType, const std::string& body) {
  plat::HttpRequest r;
  r.method = "POST";
  r.url = url;
  r.headers.emplace_back("Content-Type", contentType);
  r.body = body;
  return Send(std::move(r));
}

std::optional<plat::HttpResponse>
THttpClient::PostForFile(const std::string& url, const std::string& contentType,
                         const std::string& body, const std::string& bodyFile,
                         std::function<void(const plat::TransferProgress&)> onProgress,
                         const plat::StopFlag* stop) {
  plat::HttpRequest r;
  r.method = "POST";
  r.url = url;
  r.headers.emplace_back("Content-Type", contentType);
  r.body = body;
  r.bodyFile = bodyFile;
  r.onProgress = std::move(onProgress);
  r.stop = stop;
  return Send(std::move(r));
}

} // namespace device
