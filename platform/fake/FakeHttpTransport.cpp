#include "platform/fake/FakeHttpTransport.h"

#include "common/Text.h"

namespace fake {

std::optional<plat::HttpResponse> FakeHttpTransport::Send(const plat::HttpRequest& request,
                                                          std::string& error) {
  requests.push_back(request);
  size_t scheme = request.url.find("://");
  size_t pathStart = request.url.find('/', scheme + 3);
  std::string authority = request.url.substr(scheme + 3, pathStart - scheme - 3);
  std::string path = pathStart == std::string::npos ? "/" : request.url.substr(pathStart);
  size_t colon = authority.rfind(':');
  int port = 443;
  if (colon != std::string::npos) {
    auto parsed = text::ParseInt32(authority.substr(colon + 1));
    port = parsed ? *parsed : -1;
  }
  requestPorts.push_back(port);
  certificateAccepted = hook_ && hook_();
  std::optional<plat::HttpResponse> response;
  if (port < 0 || authority.find(' ') != std::string::npos) {
    error = "malformed address";
  } else if (!openPorts.count(port)) {
    error = "connection refused";
  } else {
    if (onRequest)
      onRequest(request);
    auto route = routes.find(request.method + " " + path);
    response = route == routes.end() ? std::optional(Answer(404, "not found"))
                                     : route->second(request, error);
  }
  // As the real transport: a body that did not arrive whole fails the
  // request, and a failed request leaves nothing at the body file's path.
  if (response && !response->complete) {
    error = "The answer ended early";
    response.reset();
  }
  // A stop requested while the device answered ends the transfer as a cut.
  if (response && plat::StopRequested(request.stop)) {
    error = "Stopped";
    response.reset();
  }
  if (response) {
    const std::string host = authority.substr(0, colon);
    auto listed = certificates.find(text::ToLowerAscii(host) + ":" + std::to_string(port));
    response->certificateSha256 = listed != certificates.end() ? listed->second : certificate;
  }
  if (request.bodyFile) {
    if (response) {
      // A file that cannot be written raises, as the real transport does.
      // The progress of the body is the route's to tell, as it scripts it.
      files_.WriteFile(*request.bodyFile, response->body);
      response->body.clear();
    } else if (files_.FileExists(*request.bodyFile)) {
      files_.DeleteFile(*request.bodyFile);
    }
  }
  return response;
}

plat::HttpResponse FakeHttpTransport::Answer(int status, std::string body,
                                             plat::HeaderList headers) {
  plat::HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.headers = std::move(headers);
  return r;
}

void FakeHttpTransport::Route(const std::string& methodAndPath, plat::HttpResponse response) {
  routes[methodAndPath] = [response](const plat::HttpRequest&, std::string&) {
    return std::optional(response);
  };
}

void FakeHttpTransport::Fail(const std::string& methodAndPath) {
  routes[methodAndPath] = [](const plat::HttpRequest&, std::string& error) {
    error = "connection reset";
    return std::optional<plat::HttpResponse>();
  };
}

std::vector<std::string> FakeHttpTransport::Paths() const {
  std::vector<std::string> out;
  for (const plat::HttpRequest& r : requests) {
    size_t scheme = r.url.find("://");
    size_t pathStart = r.url.find('/', scheme + 3);
    out.push_back(r.method + " " +
                  (pathStart == std::string::npos ? "/" : r.url.substr(pathStart)));
  }
  return out;
}

std::string FakeHttpTransport::CookieOf(size_t index) const {
  for (const auto& [name, value] : requests.at(index).headers)
    if (name == "Cookie")
      return value;
  return {};
}

} // namespace fake
