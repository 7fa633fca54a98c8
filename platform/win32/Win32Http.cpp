#include <winsock2.h>

#include "platform/win32/Win32Http.h"

#include "platform/Platform.h"
#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Pump.h"
#include "platform/win32/Win32Text.h"

#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

namespace plat::win32 {
namespace {

constexpr const wchar_t* kUserAgent = L"VeltraDynamicRemoteHMI/1.0";
constexpr DWORD kReadChunk = 64 * 1024;
constexpr const char* kStoppedText = "The request was given up: the launcher was closed";
// Where WinHTTP, as measured under Wine, ends a chunked body that has not
// ended by then, reporting a normal end.
constexpr uint64_t kWinHttpChunkedEnd = 0xFFFF0000;

constexpr DWORD kProtocolsUpToTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 |
                                      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                                      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
constexpr DWORD kProtocolsUpToTls13 = kProtocolsUpToTls12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;

constexpr DWORD kAcceptAnyCertificate =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;

std::string WinHttpError(const char* call, DWORD code) {
  // Codes of the security layer come through as they are; those read in hex.
  std::string number = std::to_string(code);
  if (code > 0xFFFF) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    number = hex;
  }
  return "WinHTTP error " + number + " in " + call;
}

std::string LastWinHttpError(const char* call) {
  return WinHttpError(call, GetLastError());
}

bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

// The SHA-256 of the certificate the server presented for this request, as
// hex pairs joined by colons; empty when there is none to read. Asked of the
// request itself, after its answer came: WinHTTP may have carried it over a
// kept-alive connection opened earlier, even by another session, without a
// new handshake, and the certificate of that connection is the one that
// counts.
std::string ServerCertificateSha256(HINTERNET request) {
  CertificateContext certificate;
  DWORD size = sizeof(PCCERT_CONTEXT);
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, certificate.put(), &size))
    return {};
  if (!certificate)
    return {};
  BYTE hash[32];
  DWORD hashSize = sizeof hash;
  if (!CryptHashCertificate2(L"SHA256", 0, nullptr, certificate.get()->pbCertEncoded,
                             certificate.get()->cbCertEncoded, hash, &hashSize) ||
      hashSize != sizeof hash)
    return {};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (DWORD i = 0; i < hashSize; ++i) {
    if (i > 0)
      text += ':';
    text += kHex[hash[i] >> 4];
    text += kHex[hash[i] & 0xF];
  }
  return text;
}

// The body file could not be made or written: this machine's failure, not
// the request's, so it is raised to the caller rather than reported as a
// failed request.
class LocalFailure : public PlatformError {
public:
  using PlatformError::PlatformError;
};

// Where the body of an answer goes: memory, or a file that is removed again
// unless the transfer finished.
class BodySink {
public:
  BodySink(std::string& memory, const std::optional<std::string>& path, uint64_t maxFileBytes)
      : memory_(memory), path_(path), maxFileBytes_(maxFileBytes) {}
  BodySink(const BodySink&) = delete;
  BodySink& operator=(const BodySink&) = delete;

  ~BodySink() {
    if (file_) {
      file_.reset();
      DeleteFileW(widePath_.c_str());
    }
  }

  void Open() {
    if (!path_)
      return;
    widePath_ = Widen(*path_);
    file_.reset(CreateFileW(widePath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
      throw LocalFailure(FileError("cannot be created"));
  }

  bool Write(const char* data, DWORD size, std::string& error) {
    if (!path_) {
      if (memory_.size() + size > kMaxMemoryBodyBytes) {
        error = TooLarge(kMaxMemoryBodyBytes);
        return false;
      }
      memory_.append(data, size);
      return true;
    }
    if (fileBytes_ + size > maxFileBytes_) {
      error = TooLarge(maxFileBytes_);
      return false;
    }
    fileBytes_ += size;
    while (size > 0) {
      DWORD written = 0;
      if (!WriteFile(file_.get(), data, size, &written, nullptr) || written == 0)
        throw LocalFailure(FileError("cannot be written"));
      data += written;
      size -= written;
    }
    return true;
  }

  // Keeps the file: the whole body is in it.
  void Finish() {
    if (!file_)
      return;
    if (!file_.close()) {
      std::string error = FileError("cannot be written");
      DeleteFileW(widePath_.c_str());
      throw LocalFailure(error);
    }
  }

  static std::string TooLarge(uint64_t cap) {
    return "The answer is larger than " + std::to_string(cap) + " bytes";
  }

private:
  std::string FileError(const char* what) const {
    return "The file " + *path_ + " " + what + ". " + SystemErrorText(GetLastError());
  }

  std::string& memory_;
  const std::optional<std::string>& path_;
  uint64_t maxFileBytes_;
  uint64_t fileBytes_ = 0;
  std::wstring widePath_;
  KernelHandle file_;
};

std::optional<std::wstring> QueryHeaderText(HINTERNET request, DWORD info) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return std::nullopt;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX))
    return std::nullopt;
  return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
}

// "Status line CRLF Name: value CRLF ... CRLF" into name/value pairs in order.
HeaderList SplitRawHeaders(std::wstring_view raw) {
  HeaderList headers;
  bool statusLine = true;
  while (!raw.empty()) {
    size_t end = raw.find(L"\r\n");
    std::wstring_view line = raw.substr(0, end);
    raw = end == std::wstring_view::npos ? std::wstring_view() : raw.substr(end + 2);
    if (statusLine) {
      statusLine = false;
      continue;
    }
    size_t colon = line.find(L':');
    if (line.empty() || colon == std::wstring_view::npos)
      continue;
    std::wstring_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == L' ' || value.front() == L'\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == L' ' || value.back() == L'\t'))
      value.remove_suffix(1);
    headers.emplace_back(Narrow(line.substr(0, colon)), Narrow(value));
  }
  return headers;
}

std::optional<uint64_t> ContentLength(HINTERNET request) {
  std::optional<std::wstring> text = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
  if (!text)
    return std::nullopt;
  std::string digits = Narrow(*text);
  uint64_t length = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
  if (ec != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return length;
}

bool ChunkedEncoding(HINTERNET request) {
  std::optional<std::wstring> text = QueryHeaderText(request, WINHTTP_QUERY_TRANSFER_ENCODING);
  return text && Narrow(*text).find("chunked") != std::string::npos;
}

// Fails a body that makes next to no progress. The receive time-out bounds
// each read only, so a device that sends a byte every few seconds would keep
// a download going for ever, each read well within its time-out. So over
// each stretch of the receive time-out the body must grow at the floor
// rate, kMinBodyBytesPerSecond: a real transfer, however slow the line,
// is far above it; a drip is far below. The check is made as reads return,
// and a read waits at most the receive time-out, so a crawling body fails
// within about twice that time.
class ProgressWatch {
public:
  explicit ProgressWatch(uint32_t windowMs)
      : windowMs_(windowMs),
        minBytes_(static_cast<uint64_t>(kMinBodyBytesPerSecond) * windowMs / 1000),
        windowStart_(GetTickCount64()) {}

  // Counts bytes that just arrived; false when the stretch that has just
  // run out brought fewer than the floor.
  bool Arrived(uint64_t bytes, std::string& error) {
    windowBytes_ += bytes;
    if (windowMs_ == 0) // no receive time-out: no floor either
      return true;
    uint64_t now = GetTickCount64();
    if (now - windowStart_ < windowMs_)
      return true;
    if (windowBytes_ < minBytes_) {
      error = "The answer arrived too slowly: " + std::to_string(windowBytes_) + " bytes in " +
              std::to_string(now - windowStart_) + " ms";
      return false;
    }
    windowStart_ = now;
    windowBytes_ = 0;
    return true;
  }

private:
  uint32_t windowMs_;
  uint64_t minBytes_;
  uint64_t windowStart_;
  uint64_t windowBytes_ = 0;
};

// The body's progress as the worker thread sees it, read by the caller's
// thread between its messages.
struct BodyProgress {
  std::atomic<uint64_t> received{0};
  std::atomic<uint64_t> total{kNoTotal};

  static constexpr uint64_t kNoTotal = ~uint64_t{0};
  TransferProgress Now() const {
    TransferProgress now;
    now.received = received.load();
    uint64_t all = total.load();
    if (all != kNoTotal)
      now.total = all;
    return now;
  }
};

bool ValidHeader(const std::pair<std::string, std::string>& header) {
  const auto& [name, value] = header;
  auto breaksLine = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
  return !name.empty() && name.find(':') == std::string::npos &&
         std::none_of(name.begin(), name.end(), breaksLine) &&
         std::none_of(value.begin(), value.end(), breaksLine);
}

class Win32HttpTransport : public IHttpTransport {
public:
  // The session opens with the first request, not at start-up: the window
  // shows without waiting for the HTTP stack.
  explicit Win32HttpTransport(const HttpSettings& settings) : settings_(settings) {}

  std::optional<HttpResponse> Send(const HttpRequest& request, std::string& error) override {
    try {
      // The request waits for the device, up to the time-outs: the caller's
      // window goes on answering meanwhile, and is told the body's progress.
      std::optional<HttpResponse> response;
      std::string workError;
      BodyProgress progress;
      uint64_t told = 0;
      auto tell = [&] {
        TransferProgress now = progress.Now();
        if (request.onProgress && now.received != told) {
          told = now.received;
          request.onProgress(now);
        }
      };
      RunWhilePumping(
          [&] {
            if (!session_)
              OpenSession();
            response = SendUnguarded(request, workError, progress);
          },
          tell);
      error = workError;
      if (response)
        tell();
      return response;
    } catch (const LocalFailure& e) {
      throw PlatformError(e.what());
    } catch (const std::exception& e) {
      error = e.what();
    } catch (...) {
      error = "Unexpected failure while sending an HTTP request";
    }
    return std::nullopt;
  }

  void SetCertificateHook(std::function<bool()> acceptAnyCertificate) override {
    acceptAnyCertificate_ = std::move(acceptAnyCertificate);
  }

private:
  void OpenSession() {
    const HttpSettings& settings = settings_;
    // Loopback and the substation network are reached directly, never through
    // a proxy the machine may have configured.
    // Set up whole before it is kept: a failed option leaves no half session.
    InternetHandle session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
      throw PlatformError(LastWinHttpError("WinHttpOpen"));
    if (!WinHttpSetTimeouts(session.get(), 0, static_cast<int>(settings.connectTimeoutMs),
                            static_cast<int>(settings.sendTimeoutMs),
                            static_cast<int>(settings.receiveTimeoutMs)))
      throw PlatformError(LastWinHttpError("WinHttpSetTimeouts"));
    // The wait for the answer's headers has a time-out of its own; the
    // receive time-out covers it too.
    if (!SetDwordOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                        settings.receiveTimeoutMs))
      throw PlatformError(LastWinHttpError("WinHttpSetOption(RECEIVE_RESPONSE_TIMEOUT)"));
    // Older systems do not know TLS 1.3 and refuse the whole set with it.
    if (!SetDwordOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, kProtocolsUpToTls13) &&
        !SetDwordOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, kProtocolsUpToTls12))
      throw PlatformError(LastWinHttpError("WinHttpSetOption(SECURE_PROTOCOLS)"));
    if (!SetDwordOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                        WINHTTP_OPTION_REDIRECT_POLICY_NEVER))
      throw PlatformError(LastWinHttpError("WinHttpSetOption(REDIRECT_POLICY)"));
    session_ = std::move(session);
  }

  std::optional<HttpResponse> SendUnguarded(const HttpRequest& request, std::string& error,
                                            BodyProgress& told) {
    // Created before anything else, so that after any failure no file is left
    // at the path, not even one from an earlier download.
    HttpResponse response;
    BodySink sink(response.body, request.bodyFile, settings_.maxFileBodyBytes);
    sink.Open();

    std::wstring url = Widen(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
      error = LastWinHttpError("WinHttpCrackUrl");
      return std::nullopt;
    }
    if ((parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) ||
        parts.dwHostNameLength == 0) {
      error = WinHttpError("WinHttpCrackUrl", ERROR_WINHTTP_INVALID_URL);
      return std::nullopt;
    }
    auto part = [](const wchar_t* text, DWORD length) {
      return text ? std::wstring_view(text, length) : std::wstring_view();
    };
    std::wstring host(part(parts.lpszHostName, parts.dwHostNameLength));
    std::wstring target(part(parts.lpszUrlPath, parts.dwUrlPathLength));
    std::wstring_view extra = part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    target.append(extra.substr(0, extra.find(L'#')));
    if (target.empty() || target.front() != L'/')
      target.insert(0, 1, L'/');

    if (request.body.size() > MAXDWORD) {
      error = "The request body is too large";
      return std::nullopt;
    }
    for (const auto& header : request.headers) {
      if (!ValidHeader(header)) {
        error = "Invalid request header '" + header.first + "'";
        return std::nullopt;
      }
    }

    InternetHandle connection(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) {
      error = LastWinHttpError("WinHttpConnect");
      return std::nullopt;
    }
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    std::wstring method = Widen(request.method);
    InternetHandle handle(WinHttpOpenRequest(
        connection.get(), method.c_str(), target.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!handle) {
      error = LastWinHttpError("WinHttpOpenRequest");
      return std::nullopt;
    }
    HINTERNET req = handle.get();

    // WinHTTP would otherwise keep the session cookie itself and send it
    // again behind the cookie store's back, and follow a login's redirect.
    if (!SetDwordOption(req, WINHTTP_OPTION_DISABLE_FEATURE,
                        WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS)) {
      error = LastWinHttpError("WinHttpSetOption(DISABLE_FEATURE)");
      return std::nullopt;
    }
    if (secure && acceptAnyCertificate_ && acceptAnyCertificate_()) {
      if (!SetDwordOption(req, WINHTTP_OPTION_SECURITY_FLAGS, kAcceptAnyCertificate)) {
        error = LastWinHttpError("WinHttpSetOption(SECURITY_FLAGS)");
        return std::nullopt;
      }
    }
    for (const auto& [name, value] : request.headers) {
      std::wstring line = Widen(name) + L": " + Widen(value);
      if (!WinHttpAddRequestHeaders(req, line.c_str(), static_cast<DWORD>(line.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
        error = LastWinHttpError("WinHttpAddRequestHeaders");
        return std::nullopt;
      }
    }

    if (StopRequested(request.stop)) {
      error = kStoppedText;
      return std::nullopt;
    }
    DWORD bodySize = static_cast<DWORD>(request.body.size());
    LPVOID body = bodySize == 0 ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(request.body.data());
    if (!WinHttpSendRequest(req, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, bodySize, bodySize, 0)) {
      error = LastWinHttpError("WinHttpSendRequest");
      return std::nullopt;
    }
    if (!WinHttpReceiveResponse(req, nullptr)) {
      error = LastWinHttpError("WinHttpReceiveResponse");
      return std::nullopt;
    }

    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(req, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize,
                             WINHTTP_NO_HEADER_INDEX)) {
      error = LastWinHttpError("WinHttpQueryHeaders(STATUS_CODE)");
      return std::nullopt;
    }
    response.status = static_cast<int>(status);
    std::optional<std::wstring> raw = QueryHeaderText(req, WINHTTP_QUERY_RAW_HEADERS_CRLF);
    if (!raw) {
      error = LastWinHttpError("WinHttpQueryHeaders(RAW_HEADERS_CRLF)");
      return std::nullopt;
    }
    response.headers = SplitRawHeaders(*raw);
    if (secure)
      response.certificateSha256 = ServerCertificateSha256(req);

    // How the body's end is known. With a Content-Length, the end is its
    // last byte, and a body that stops short of it is cut. A chunked body
    // ends with its last (empty) chunk, but WinHTTP decodes the chunks itself
    // and, as measured under Wine, reports a connection closed in order
    // before the last chunk as a normal end, and even ends an endless chunked
    // body after kWinHttpChunkedEnd bytes as if it were complete; a body with
    // neither ends where the connection closes, just as a cut one does.
    // Such a body is taken as it came, a file body too: a device's CGI
    // commonly streams its files so, and what proves an archive whole is the
    // archive's own check when it is extracted (one that fails is removed).
    // Where a cut can be told (the announced length not reached, a
    // connection reset) the request fails.
    const bool bodyExpected =
        request.method != "HEAD" && status >= 200 && status != 204 && status != 304;
    const bool chunked = ChunkedEncoding(req);
    const std::optional<uint64_t> length = chunked ? std::nullopt : ContentLength(req);
    const bool hasLength = length.has_value();
    const uint64_t announced = length.value_or(0);
    if (bodyExpected && request.bodyFile && status < 300 && hasLength &&
        announced > settings_.maxFileBodyBytes) {
      error = BodySink::TooLarge(settings_.maxFileBodyBytes);
      return std::nullopt;
    }

    if (hasLength)
      told.total = announced;
    // Each read takes what has arrived, never more. A synchronous read for
    // more waits until that much has come (as measured under Wine, 64 reads
    // of 1 MiB for a 64 MiB body), so a device sending a byte now and then
    // would hold it for ever, out of the slow-body check's reach. Reading
    // what is there costs one more call per TLS record, and the download
    // stays within about a tenth of a bare WinHTTP program's.
    std::vector<char> buffer(kReadChunk);
    uint64_t received = 0;
    ProgressWatch progress(settings_.receiveTimeoutMs);
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(req, &available)) {
        error = LastWinHttpError("WinHttpQueryDataAvailable");
        return std::nullopt;
      }
      if (available == 0)
        break;
      DWORD read = 0;
      if (!WinHttpReadData(req, buffer.data(), std::min(available, kReadChunk), &read)) {
        error = LastWinHttpError("WinHttpReadData");
        return std::nullopt;
      }
      if (read == 0)
        break;
      if (!sink.Write(buffer.data(), read, error))
        return std::nullopt;
      received += read;
      told.received = received;
      if (!progress.Arrived(read, error))
        return std::nullopt;
      // The launcher was closed: the rest of the body is not waited for.
      if (StopRequested(request.stop)) {
        error = kStoppedText;
        return std::nullopt;
      }
    }

    if (bodyExpected && hasLength && received < announced) {
      error = "The answer ended after " + std::to_string(received) + " of " +
              std::to_string(announced) + " bytes";
      return std::nullopt;
    }
    // That end is WinHTTP's, not the device's, and comes before the file cap.
    if (chunked && received == kWinHttpChunkedEnd) {
      error = "The chunked answer did not end before " + std::to_string(received) + " bytes";
      return std::nullopt;
    }
    sink.Finish();
    response.complete = true;
    return response;
  }

  HttpSettings settings_;
  InternetHandle session_;
  std::function<bool()> acceptAnyCertificate_;
};

std::string AnsiToUtf8(const char* ansi) {
  int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  if (length <= 1)
    return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length) - 1);
  return Narrow(wide);
}

class Win32Network : public INetwork {
public:
  LocalAddress LocalIPv4() override {
    LocalAddress result;
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
      return result;
    result.socketsStarted = true;
    char name[256] = {};
    if (gethostname(name, sizeof name) == 0) {
      name[sizeof name - 1] = '\0';
      result.hostName = AnsiToUtf8(name);
      const hostent* host = gethostbyname(name);
      if (host != nullptr) {
        result.nameResolved = true;
        if (host->h_addrtype == AF_INET && host->h_addr_list != nullptr &&
            host->h_addr_list[0] != nullptr) {
          in_addr address;
          std::memcpy(&address, host->h_addr_list[0], sizeof address);
          result.address = inet_ntoa(address);
        }
      }
    }
    WSACleanup();
    return result;
  }
};

} // namespace

std::unique_ptr<IHttpTransport> CreateWin32HttpTransport(const HttpSettings& settings) {
  return std::make_unique<Win32HttpTransport>(settings);
}

std::unique_ptr<INetwork> CreateWin32Network() {
  return std::make_unique<Win32Network>();
}

} // namespace plat::win32
