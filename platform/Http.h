// HTTPS requests and the machine's own network address.
//
// The transport sends one request and hands back the answer exactly as it came:
// it follows no redirect and keeps no cookies (the launcher's own cookie store
// in device/ does that, because it must be able to list them).
#pragma once

#include "platform/Stop.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// How much of an answer's body has arrived, and the announced length when
// there is one.
struct TransferProgress {
  uint64_t received = 0;
  std::optional<uint64_t> total;
};

struct HttpRequest {
  std::string method; // "GET" or "POST"
  std::string url;    // "https://host[:port]/path"
  HeaderList headers; // sent as given, in order
  std::string body;
  // When set, the answer's body is streamed into this file (created or
  // replaced) instead of being kept in HttpResponse::body. After a failed
  // request nothing is left at this path, not even an older file.
  std::optional<std::string> bodyFile;
  // Told how the body comes along: on the caller's thread, a few times a
  // second while it arrives, and once more when all of it is in.
  std::function<void(const TransferProgress&)> onProgress;
  // When set and requested, the request gives up before it is sent or at
  // the next piece of the body, and fails as a cut body does (nothing left
  // at the body file's path).
  const StopFlag* stop = nullptr;
};

// Answers kept in memory are the device's small JSON documents; one larger
// than this is taken as a broken answer (the request fails) rather than
// being allowed to exhaust the launcher's memory.
inline constexpr uint64_t kMaxMemoryBodyBytes = 16ull << 20;

// A file body is a runtime or library archive: tens to hundreds of MiB. One
// that grows beyond this is a device sending without end, and the download
// fails rather than filling the disk.
inline constexpr uint64_t kMaxFileBodyBytes = 4ull << 30;

// The slowest transfer taken for progress, averaged over each receive
// time-out. A body that arrives slower than this fails: the receive
// time-out alone is per read, so a device sending a byte now and then would
// keep a download going for ever.
inline constexpr uint32_t kMinBodyBytesPerSecond = 1024;

struct HttpResponse {
  int status = 0;
  HeaderList headers; // every header line, in order; Set-Cookie may repeat
  std::string body;   // empty when the body went to a file
  // False when the body is known to be cut. A transport fails a request
  // whose cut it can tell instead, so this is false only where a fake
  // scripts a transfer cut short; true does not prove a body without a
  // length whole (see IHttpTransport::Send).
  bool complete = true;
  // The SHA-256 of the certificate the server presented on the connection
  // that carried this answer, as upper-case hex pairs joined by colons
  // ("AB:CD:..."); empty for plain HTTP or when the certificate could not
  // be read. Taken from each answer itself: the system's HTTP stack may
  // carry a request over a kept-alive connection without a new handshake.
  std::string certificateSha256;
};

// Client settings: connect time-out 10000 ms, send and receive 60000 ms,
// no redirects, TLS 1.0 to 1.3, every server certificate accepted.
struct HttpSettings {
  uint32_t connectTimeoutMs = 10000;
  uint32_t sendTimeoutMs = 60000;
  uint32_t receiveTimeoutMs = 60000;
  // Lower only in tests, to reach the cap quickly.
  uint64_t maxFileBodyBytes = kMaxFileBodyBytes;
};

class IHttpTransport {
public:
  virtual ~IHttpTransport() = default;
  // Sends the request and waits for the whole answer. Nothing when the request
  // failed below HTTP (name, connection, TLS, time-out, broken transfer);
  // `error` then tells why. Where the transport can tell a cut, the request
  // fails: an announced Content-Length not reached, a connection reset. A
  // body without a length, or chunked, ends where the connection closes in
  // order (the system's HTTP stack reports a chunked body closed before its
  // last chunk as a normal end), so it is taken as it came, in memory and in
  // a file alike: whether it is whole is for its reader to tell (the JSON
  // reader notices a cut document; an archive is kept only once it has
  // extracted completely). A body beyond its cap (kMaxMemoryBodyBytes,
  // HttpSettings::maxFileBodyBytes) or slower than kMinBodyBytesPerSecond
  // fails.
  // A failure of this machine rather than of the request (the body file
  // cannot be made or written, the disk is full) is raised as PlatformError:
  // the device is not to blame, and its session is still there.
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
