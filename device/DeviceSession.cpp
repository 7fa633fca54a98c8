#include "device/DeviceSession.h"

#include "common/DeviceAddress.h"

#include <utility>

namespace device {

std::string DeviceEndpoint::Url(const char* path) const {
  return addr::DeviceUrl(hostText, portSpecified, port, path);
}

std::string DeviceEndpoint::HostWithPort() const {
  return portSpecified ? hostText : hostText + ":" + std::to_string(port);
}

DeviceSession::DeviceSession(THttpClient& http, DeviceEndpoint endpoint, std::string token)
    : http_(&http), endpoint_(std::move(endpoint)), token_(std::move(token)) {}

DeviceSession::DeviceSession(DeviceSession&& other) noexcept
    : http_(other.http_), endpoint_(std::move(other.endpoint_)), token_(std::move(other.token_)),
      open_(other.open_) {
  other.open_ = false;
}

DeviceSession& DeviceSession::operator=(DeviceSession&& other) noexcept {
  if (this != &other) {
    EndQuietly();
    http_ = other.http_;
    endpoint_ = std::move(other.endpoint_);
    token_ = std::move(other.token_);
    open_ = other.open_;
    other.open_ = false;
  }
  return *this;
}

DeviceSession::~DeviceSession() {
  EndQuietly();
}

void DeviceSession::EndQuietly() noexcept {
  try {
    End();
  } catch (...) {
    // A logout that fails on this machine leaves the device to end the
    // session by its own time-out.
  }
}

std::optional<plat::HttpResponse> DeviceSession::Get(const char* path) {
  std::optional<plat::HttpResponse> response = http_->Get(endpoint_.Url(path));
  if (!response)
    DeviceGone();
  return response;
}

void DeviceSession::End() {
  if (!open_)
    return;
  open_ = false;
  Logout(*http_, endpoint_.hostText, endpoint_.port, endpoint_.portSpecified);
}

std::string GetCookieValueByName(THttpClient& http, const std::string& cookieName) {
  for (const CookieStore::Cookie& c : http.Cookies().Cookies())
    if (c.name == cookieName)
      return c.value;
  return {};
}

bool Logout(THttpClient& http, const std::string& hostText, int32_t port, bool portSpecified) {
  std::optional<plat::HttpResponse> response =
      http.Post(addr::DeviceUrl(hostText, portSpecified, port, "LOGOUT"), kFormContentType, "");
  return response && response->status == 200;
}

} // namespace device
