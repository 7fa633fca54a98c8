// A scripted device on the other end of the wire.
#pragma once

#include "platform/Http.h"
#include "platform/fake/FakeFileSystem.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

// A device on the other end of the wire: answers by method and path, and by
// port (a port not in `openPorts` refuses the connection). Records every
// request as it was sent, the Cookie header included.
class FakeHttpTransport : public plat::IHttpTransport {
public:
  using Handler = std::function<std::optional<plat::HttpResponse>(const plat::HttpRequest&,
                                                                  std::string& error)>;
  explicit FakeHttpTransport(FakeFileSystem& files) : files_(files) {}

  std::set<int> openPorts{51443, 443};
  // "GET /info.cgi" -> handler; a missing route answers 404.
  std::map<std::string, Handler> routes;
  std::vector<plat::HttpRequest> requests;
  std::vector<int> requestPorts;
  // Runs before each request is answered (a device that takes its time).
  std::function<void(const plat::HttpRequest&)> onRequest;
  bool certificateAccepted = false;
  // The certificate each answer reports having been presented with: the one
  // of "host:port" when listed, else `certificate`.
  std::string certificate = kDeviceCertificate;
  std::map<std::string, std::string> certificates;
  static constexpr const char* kDeviceCertificate =
      "3F:9A:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:"
      "EE:FF:01:23:45:67:89:AB:CD:EF:10:32:54:76:98:BA";

  std::optional<plat::HttpResponse> Send(const plat::HttpRequest& request,
                                         std::string& error) override;
  void SetCertificateHook(std::function<bool()> hook) override { hook_ = std::move(hook); }

  // Answer helpers.
  static plat::HttpResponse Answer(int status, std::string body, plat::HeaderList headers = {});
  void Route(const std::string& methodAndPath, plat::HttpResponse response);
  void Fail(const std::string& methodAndPath);
  std::vector<std::string> Paths() const; // "POST /LOGIN" per request, in order
  std::string CookieOf(size_t index) const;

private:
  FakeFileSystem& files_;
  std::function<bool()> hook_;
};

} // namespace fake
