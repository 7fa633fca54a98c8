// HTTPS requests and the machine's own network address.
//
// The transport sends one request and hands back the answer exactly as it came:
// it follows no redirect and keeps no cookies (the launcher's own cookie store
// in device/ does that, because it must be able to list them).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method; // "GET" or "POST"
  std::string url;    // "https://host[:port]/path"
  HeaderList headers; // sent as given, in order
  std::string body;
  // When set, the answer's body is streamed into this file (created or
  // replaced) instead of being kept in HttpResponse::body. The file is
  // removed again when the transfer fails part-way.
  std::optional<std::string> bodyFile;
};

// Answers kept in memory are the device's small JSON documents; one larger
// than this is taken as a broken answer (the request fails) rather than
// being allowed to exhaust the launcher's memory. File bodies have no cap.
inline constexpr uint64_t kMaxMemoryBodyBytes = 16ull << 20;

struct HttpResponse {
  int status = 0;
  HeaderList headers; // every header line, in order; Set-Cookie may repeat
  std::string body;   // empty when the body went to a file
  // True when the whole body arrived (Content-Length or chunked end seen).
  bool complete = true;
};

// Fixed client settings: connect time-out 10000 ms, send and receive 60000 ms,
// no redirects, TLS 1.0 to 1.3, every server certificate accepted.
struct HttpSettings {
  uint32_t connectTimeoutMs = 10000;
  uint32_t sendTimeoutMs = 60000;
  uint32_t receiveTimeoutMs = 60000;
};

class IHttpTransport {
public:
  virtual ~IHttpTransport() = default;
  // Sends the request and waits for the whole answer. Nothing when the request
  // failed below HTTP (name, connection, TLS, time-out, broken transfer);
  // `error` then tells why.
  virtual std::optional<HttpResponse> Send(const HttpRequest& request, std::string& error) = 0;
  // Asked before each request whether the server's certificate is to be
  // accepted whatever it is (self-signed, expired, another name). Set once,
  // before the first request; without a hook the system's checks apply.
  virtual void SetCertificateHook(std::function<bool()> acceptAnyCertificate) = 0;
};

// Windows Sockets: the machine's own IPv4 address.
struct LocalAddress {
  bool socketsStarted = false; // false: the socket library did not start
  bool nameResolved = false;   // false: the machine's own name did not resolve
  std::string hostName;
  std::string address; // first IPv4 address, dotted decimal
};

class INetwork {
public:
  virtual ~INetwork() = default;
  virtual LocalAddress LocalIPv4() = 0;
};

} // namespace plat
