// The session a login opens on the device, the address it lives at, and its
// logout.
#pragma once

#include "common/LaunchState.h"
#include "device/HttpClient.h"
#include "platform/Http.h"

#include <cstdint>
#include <optional>
#include <string>

namespace device {

inline constexpr const char* kSessionCookieName = launch::kSessionCookieName;
inline constexpr int32_t kFirstPort = 51443;
inline constexpr int32_t kSecondPort = 443;

// The address of one attempt: the host box's text as it was read when the
// verification started, and the port tried.
struct DeviceEndpoint {
  std::string hostText;
  int32_t port = kSecondPort;
  bool portSpecified = false; // the port is part of hostText

  std::string Url(const char* path) const;
  // The host box's text that names this endpoint: hostText, followed by
  // ":" and the port when the port was not typed.
  std::string HostWithPort() const;

  bool operator==(const DeviceEndpoint&) const = default;
};

// A session opened on the device by a successful login. It logs out when it
// ends, unless the device stopped answering (there is nothing to end then)
// or the HMI took it over. A request of the session that gets no answer at
// all marks the device as gone.
class DeviceSession {
public:
  DeviceSession(THttpClient& http, DeviceEndpoint endpoint, std::string token);
  ~DeviceSession();
  DeviceSession(DeviceSession&& other) noexcept;
  // Ends this session first.
  DeviceSession& operator=(DeviceSession&& other) noexcept;
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  const DeviceEndpoint& Endpoint() const { return endpoint_; }
  const std::string& Token() const { return token_; }
  // Still to be logged out.
  bool Open() const { return open_; }

  // A GET of the session; no answer marks the device as gone.
  std::optional<plat::HttpResponse> Get(const char* path);
  // Marks the device as gone: the session is not logged out.
  void DeviceGone() { open_ = false; }
  // The HMI takes the session on its command line; it stays open.
  void HandOver() { open_ = false; }
  // Logs out now, once.
  void End();

private:
  void EndQuietly() noexcept;

  THttpClient* http_;
  DeviceEndpoint endpoint_;
  std::string token_;
  bool open_ = true;
};

// The value of the cookie `cookieName` in the client's store; empty when
// there is none.
std::string GetCookieValueByName(THttpClient& http, const std::string& cookieName);
bool Logout(THttpClient& http, const std::string& hostText, int32_t port, bool portSpecified);

} // namespace device
