// The launcher's one HTTPS client: the platform transport plus our own cookie
// store, the form and multipart encodings and the client's two events.
#pragma once

#include "platform/Http.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace device {

struct Url {
  std::string scheme;
  std::string host; // lower case
  std::string path; // from the first "/" after the authority, query excluded; "/" when none
};
std::optional<Url> ParseUrl(const std::string& url);

// Bounds on what one domain may keep in the store, as browsers commonly set
// them: a device that sets cookies without end must not make every later
// request carry them all (a Cookie header that the device itself then
// refuses). A cookie whose name and value together are longer than
// kMaxCookieBytes is not kept; beyond kMaxCookiesPerDomain cookies, or
// kMaxCookieBytesPerDomain bytes of names and values, the oldest of the
// domain go first. The device's session cookie (launch::kSessionCookieName)
// is the launch itself: it is never evicted, and only one beyond
// kMaxSessionCookieBytes, hundreds of times any real one, is not kept.
inline constexpr size_t kMaxCookiesPerDomain = 50;
inline constexpr size_t kMaxCookieBytes = 4096;
inline constexpr size_t kMaxCookieBytesPerDomain = 16384;
inline constexpr size_t kMaxSessionCookieBytes = 32768;

// Cookies kept for the life of the launcher and sent back by the ordinary
// rules of host and path. Nothing clears the store: the device session must
// survive from the login to the logout, and the launcher lives for minutes.
class CookieStore {
public:
  struct Cookie {
    std::string name, value, domain, path;
    bool hostOnly = true;
    bool secure = false;
  };

  // Takes every Set-Cookie header of an answer to a request for `url`.
  void TakeFrom(const std::string& url, const plat::HeaderList& headers);
  // The Cookie header value for a request to `url`; empty when none match.
  std::string HeaderFor(const std::string& url) const;
  // In the order kept.
  const std::vector<Cookie>& Cookies() const { return cookies_; }

private:
  void Set(const std::string& url, const std::string& setCookie);
  // Evicts the oldest cookies of `domain` until it is within its bounds.
  void Bound(const std::string& domain);
  std::vector<Cookie> cookies_;
};

// "application/x-www-form-urlencoded": UTF-8 bytes, letters, digits and
// "*-._" as they are, blank as "+", every other byte as %XX.
std::string EncodeFormField(const std::string& s);
std::string EncodeForm(const std::vector<std::pair<std::string, std::string>>& fields);
inline constexpr const char* kFormContentType = "application/x-www-form-urlencoded; charset=utf-8";

// A multipart/form-data body with one field; returns the Content-Type.
std::string MakeMultipart(const std::string& fieldName, const std::string& content,
                          std::string& body);

// The body as UTF-8 text, decoded by the charset that Content-Type names.
std::string BodyText(const plat::HttpResponse& response);

class THttpClient {
public:
  explicit THttpClient(plat::IHttpTransport& transport);

  // NetHTTPClientValidateServerCertificate: true accepts the certificate.
  std::function<bool()> OnValidateServerCertificate;
  // NetHTTPClientRequestError: a request failed below HTTP.
  std::function<void(const std::string& error)> OnRequestError;

  std::optional<plat::HttpResponse> Get(const std::string& url);
  std::optional<plat::HttpResponse> Post(const std::string& url, const std::string& contentType,
                                         const std::string& body);
  // A POST whose answer's body goes to `bodyFile`, with its progress told
  // as it arrives. A local failure (the file cannot be written) raises.
  // A requested `stop` ends the transfer at its next piece, as a failure.
  std::optional<plat::HttpResponse>
  PostForFile(const std::string& url, const std::string& contentType, const std::string& body,
              const std::string& bodyFile,
              std::function<void(const plat::TransferProgress&)> onProgress,
              const plat::StopFlag* stop = nullptr);

  CookieStore& Cookies() { return cookies_; }

private:
  std::optional<plat::HttpResponse> Send(plat::HttpRequest request);

  plat::IHttpTransport& transport_;
  CookieStore cookies_;
};

} // namespace device
