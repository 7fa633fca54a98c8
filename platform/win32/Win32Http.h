// HTTP(S) through WinHTTP and the machine's address through Windows Sockets.
#pragma once

#include "platform/Http.h"

#include <memory>

namespace plat::win32 {

// One WinHTTP session for the transport's lifetime: synchronous, no proxy,
// TLS 1.0 to 1.3, no redirects followed and no cookies kept (the caller's
// cookie store adds the Cookie header itself). Plain http:// URLs work too.
// A request's bodyFile exists after Send only when the whole answer came back.
// Throws PlatformError when WinHTTP cannot open a session at all.
std::unique_ptr<IHttpTransport> CreateWin32HttpTransport(const HttpSettings& settings);

std::unique_ptr<INetwork> CreateWin32Network();

} // namespace plat::win32
