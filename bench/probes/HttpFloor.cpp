// The launcher's conversation with the device through WinHTTP and nothing
// else: the floor for that part of a launch under the same Wine.
//
//   httpfloor --port P [--host H] --mode cold|warm [--jre NAME --lib NAME --out DIR]
//
// cold: GET info.cgi, POST LOGIN (auto-login form), GET cgi-bin/infoExt.cgi,
// POST cgi-bin/ReadBinaryFile.cgi for the JRE and the HMI binaries archive
// (each streamed to a file in DIR), POST LOGOUT. warm: the same without the
// two file reads. The session cookie goes back by WinHTTP's own cookie
// handling; the certificate is not checked, as the launcher does not.
// Output: one JSON line per request with its status, body size and times,
// then {"event":"done"}. Exit code 0 when every answer was 200.
#include "ProbeClock.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using probe::EmitLine;
using probe::EpochSeconds;
using probe::Fixed;

struct Request {
  std::string name;
  const wchar_t* verb;
  std::wstring path;
  std::wstring headers;
  std::string body;
  std::wstring outFile; // empty: the body is read and dropped
};

const wchar_t kFormType[] = L"Content-Type: application/x-www-form-urlencoded; charset=utf-8\r\n";
const char kBoundary[] = "----benchfloorboundary7d2a";

Request FileRead(const std::string& name, const std::string& devicePath,
                 const std::wstring& outFile) {
  const std::string b = kBoundary;
  std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n" +
                     devicePath + "\r\n--" + b + "--\r\n";
  std::wstring headers = L"Content-Type: multipart/form-data; boundary=";
  for (char c : b)
    headers += static_cast<wchar_t>(c);
  headers += L"\r\n";
  return {name, L"POST", L"/cgi-bin/ReadBinaryFile.cgi", headers, body, outFile};
}

// Sends one request on `connection` and reads the whole answer. Writes a
// JSON line; false when the request failed or the status was not 200.
bool Send(HINTERNET connection, const Request& r) {
  const double start = EpochSeconds();
  DWORD status = 0;
  unsigned long long bytes = 0;
  DWORD error = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  HINTERNET request =
      WinHttpOpenRequest(connection, r.verb, r.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  bool ok = request != nullptr;
  if (ok) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    ok = WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (ok) {
    void* body = r.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(r.body.data());
    const DWORD size = static_cast<DWORD>(r.body.size());
    ok = WinHttpSendRequest(request,
                            r.headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : r.headers.c_str(),
                            r.headers.empty() ? 0 : static_cast<DWORD>(-1L), body, size, size, 0) &&
         WinHttpReceiveResponse(request, nullptr);
  }
  if (ok) {
    DWORD size = sizeof status;
    ok = WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  }
  if (ok && !r.outFile.empty()) {
    file = CreateFileW(r.outFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = file != INVALID_HANDLE_VALUE;
  }
  std::vector<char> buffer(256 * 1024);
  while (ok) {
    DWORD got = 0;
    ok = WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got);
    if (!ok || got == 0)
      break;
    bytes += got;
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ok = WriteFile(file, buffer.data(), got, &written, nullptr) && written == got;
    }
  }
  if (!ok)
    error = GetLastError();
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  if (request != nullptr)
    WinHttpCloseHandle(request);
  EmitLine("{\"event\":\"request\",\"name\":\"" + r.name +
           "\",\"status\":" + std::to_string(status) + ",\"bytes\":" + std::to_string(bytes) +
           ",\"error\":" + std::to_string(error) + ",\"start\":" + Fixed(start) +
           ",\"end\":" + Fixed(EpochSeconds()) + "}");
  return ok && status == 200;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  const double start = EpochSeconds();
  const probe::Options options(argc, argv, 1);
  const std::wstring host = options.Text(L"host", L"127.0.0.1");
  const int64_t port = options.Number(L"port", 0);
  const std::wstring mode = options.Text(L"mode", L"cold");
  if (port <= 0 || port > 65535 || (mode != L"cold" && mode != L"warm")) {
    std::fputs("usage: httpfloor --port P [--host H] --mode cold|warm [--jre N --lib N --out D]\n",
               stderr);
    return 2;
  }

  std::vector<Request> requests;
  requests.push_back({"info", L"GET", L"/info.cgi", L"", "", L""});
  requests.push_back({"login", L"POST", L"/LOGIN", kFormType,
                      "sessID=&credential_0=&credential_1=&credential_2=127.0.0.1&destination=%2F",
                      L""});
  requests.push_back({"infoext", L"GET", L"/cgi-bin/infoExt.cgi", L"", "", L""});
  if (mode == L"cold") {
    const std::wstring out = options.Text(L"out", L".");
    const std::wstring jre = options.Text(L"jre"), lib = options.Text(L"lib");
    requests.push_back(
        FileRead("read_jre", "/mnt/flash/hmi/jre/" + probe::Narrow(jre), out + L"\\" + jre));
    requests.push_back(
        FileRead("read_lib", "/mnt/flash/hmi/lib/" + probe::Narrow(lib), out + L"\\" + lib));
  }
  requests.push_back({"logout", L"POST", L"/LOGOUT", kFormType, "", L""});

  HINTERNET session = WinHttpOpen(L"bench-httpfloor", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection =
      session ? WinHttpConnect(session, host.c_str(), static_cast<INTERNET_PORT>(port), 0)
              : nullptr;
  bool ok = connection != nullptr;
  for (const Request& r : requests) {
    if (!ok)
      break;
    ok = Send(connection, r);
  }
  if (connection != nullptr)
    WinHttpCloseHandle(connection);
  if (session != nullptr)
    WinHttpCloseHandle(session);
  EmitLine("{\"event\":\"done\",\"ok\":" + std::string(ok ? "true" : "false") +
           ",\"start\":" + Fixed(start) + ",\"end\":" + Fixed(EpochSeconds()) + "}");
  return ok ? 0 : 1;
}
