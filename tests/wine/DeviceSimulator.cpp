#include <algorithm>
#include <winsock2.h>

#include "tests/wine/DeviceSimulator.h"

#include "common/Text.h"
#include "device/Json.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace winetest {
namespace {

#ifndef VELTRA_DEVSIM_PY
#define VELTRA_DEVSIM_PY ""
#endif

// Runs the simulator command given as "$@" in the background, with the work
// folder as $0, and records the watchdog's process id and, at the end, the
// exit code (written under another name first, so that a reader never sees a
// half-written file).
constexpr const wchar_t* kRunnerScript = L"exec </dev/null >\"$0/devsim.log\" 2>&1\n"
                                         L"\"$@\" &\n"
                                         L"echo $! >\"$0/pid\"\n"
                                         L"wait $!\n"
                                         L"echo $? >\"$0/exit.tmp\"\n"
                                         L"mv \"$0/exit.tmp\" \"$0/exit\"\n";

constexpr std::chrono::seconds kKillGrace{10};

std::string EnvironmentOr(const wchar_t* name, const std::string& fallback) {
  wchar_t buffer[4096];
  DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer))
    return fallback;
  return text::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
}

std::wstring Wide(const std::string& utf8) {
  std::u16string u16 = text::Utf8ToUtf16(utf8);
  return std::wstring(u16.begin(), u16.end());
}

// The Linux path of a Windows path, through Wine's own mapping of drives.
std::string UnixPath(const std::filesystem::path& windowsPath) {
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
  if (proc == nullptr)
    throw HarnessError("the device simulator can only be started under Wine");
  auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(proc));
  char* unixName = toUnix(windowsPath.c_str());
  if (unixName == nullptr)
    throw HarnessError("no Linux path for " + windowsPath.string());
  std::string result(unixName);
  HeapFree(GetProcessHeap(), 0, unixName);
  return result;
}

// Wine runs a command line that names a Linux program as that program, but
// hands back no process to wait on.
void StartLinuxProgram(const std::vector<std::wstring>& argv) {
  std::wstring commandLine;
  for (const std::wstring& arg : argv)
    commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(arg);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    throw HarnessError("cannot start " +
                       text::Utf16ToUtf8(std::u16string_view(
                           reinterpret_cast<const char16_t*>(argv[0].data()), argv[0].size())) +
                       ": error " + std::to_string(GetLastError()));
  if (process.hThread)
    CloseHandle(process.hThread);
  if (process.hProcess)
    CloseHandle(process.hProcess);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int ToInt(const device::JsonValue* value) {
  if (value == nullptr || value->kind != device::JsonValue::Kind::Number)
    throw HarnessError("the simulator's answer lacks a number");
  return std::stoi(value->text);
}

std::string ToText(const device::JsonValue* value) {
  if (value == nullptr || value->kind != device::JsonValue::Kind::String)
    return {};
  return value->text;
}

std::string DecodeBase64(std::string_view in) {
  auto sextet = [](char c) -> int {
    if (c >= 'A' && c <= 'Z')
      return c - 'A';
    if (c >= 'a' && c <= 'z')
      return c - 'a' + 26;
    if (c >= '0' && c <= '9')
      return c - '0' + 52;
    if (c == '+')
      return 62;
    if (c == '/')
      return 63;
    return -1;
  };
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : in) {
    int v = sextet(c);
    if (v < 0)
      continue; // padding
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

class SocketLibrary {
public:
  SocketLibrary() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
      throw HarnessError("WSAStartup failed");
  }
  ~SocketLibrary() { WSACleanup(); }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
};

class Socket {
public:
  Socket() : s_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
    if (s_ == INVALID_SOCKET)
      throw HarnessError("socket() failed: " + std::to_string(WSAGetLastError()));
  }
  ~Socket() { closesocket(s_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET Get() const { return s_; }

private:
  SOCKET s_;
};

} // namespace

std::vector<std::string> RecordedRequest::HeaderValues(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : headers)
    if (text::EqualsIgnoreCase(n, name))
      values.push_back(v);
  return values;
}

DeviceSimulator::DeviceSimulator(const DeviceSimulatorOptions& options) {
  const std::string devsim = EnvironmentOr(L"VELTRA_DEVSIM", VELTRA_DEVSIM_PY);
  const std::string python = EnvironmentOr(L"VELTRA_PYTHON", "/usr/bin/python3");
  if (devsim.empty())
    throw HarnessError("VELTRA_DEVSIM does not name the device simulator");
  unixWork_ = UnixPath(work_.Path());

  std::vector<std::wstring> args = {L"/bin/sh",
                                    L"-c",
                                    kRunnerScript,
                                    Wide(unixWork_),
                                    L"/usr/bin/timeout",
                                    L"-k",
                                    std::to_wstring(kKillGrace.count()),
                                    std::to_wstring(options.watchdog.count()),
                                    Wide(python),
                                    Wide(devsim),
                                    L"--ready-file",
                                    Wide(unixWork_ + "/ready.json")};
  if (options.fixedPorts.empty()) {
    for (int i = 0; i < options.devicePorts; ++i) {
      args.push_back(L"--port");
      args.push_back(L"0");
    }
  }
  for (int port : options.fixedPorts) {
    args.push_back(L"--port");
    args.push_back(std::to_wstring(port));
  }
  if (!options.configJson.empty()) {
    work_.WriteFile("config.json", options.configJson);
    args.push_back(L"--config");
    args.push_back(Wide(unixWork_ + "/config.json"));
  }
  if (!options.filesDir.empty()) {
    args.push_back(L"--files-dir");
    args.push_back(Wide(UnixPath(options.filesDir)));
  }

  StartLinuxProgram(args);
  running_ = true;
  try {
    std::optional<device::JsonValue> ready;
    WaitUntil(
        [&] {
          if (std::optional<std::string> content = ReadWholeFile(work_.Path() / "ready.json"))
            ready = device::ParseJson(text::Trim(*content));
          return ready.has_value() || Exited();
        },
        options.startDeadline);
    if (!ready)
      Fail(Exited() ? "the device simulator ended before it was ready"
                    : "the device simulator was not ready in time");
    const device::JsonValue* ports = ready->Member("ports");
    if (ports == nullptr || ports->kind != device::JsonValue::Kind::Array)
      Fail("the device simulator's ready file lists no ports");
    for (const device::JsonValue& port : ports->items)
      ports_.push_back(ToInt(&port));
    controlPort_ = ToInt(ready->Member("control_port"));
    pid_ = ToInt(ready->Member("pid"));
  } catch (...) {
    Stop();
    throw;
  }
}

DeviceSimulator::~DeviceSimulator() {
  try {
    Stop();
  } catch (...) {
    // The watchdog ends a simulator that could not be stopped.
  }
}

std::string DeviceSimulator::Url(const std::string& path, size_t portIndex) const {
  return "https://127.0.0.1:" + std::to_string(Port(portIndex)) + path;
}

bool DeviceSimulator::Exited() const {
  std::error_code ec;
  return std::filesystem::exists(work_.Path() / "exit", ec);
}

std::string DeviceSimulator::Log() const {
  return ReadWholeFile(work_.Path() / "devsim.log").value_or("");
}

void DeviceSimulator::Fail(const std::string& what) {
  throw HarnessError(what + "; its output:\n" + Log());
}

void DeviceSimulator::Stop() {
  if (!running_)
    return;
  running_ = false;
  if (controlPort_ != 0) {
    bool asked = false;
    try {
      asked = Control("POST", "/shutdown").status == 200;
    } catch (const HarnessError&) {
      // Not answering: the signal below ends it.
    }
    if (asked && WaitUntil([&] { return Exited(); }, std::chrono::seconds(15)))
      return;
  }
  if (Exited())
    return;
  // The watchdog passes TERM on to the simulator and kills it when it has not
  // ended within its grace time.
  std::optional<std::string> pid;
  WaitUntil([&] { return (pid = ReadWholeFile(work_.Path() / "pid")).has_value(); },
            std::chrono::seconds(5));
  if (!pid)
    return;
  StartLinuxProgram({L"/bin/kill", L"-TERM", Wide(text::Trim(*pid))});
  WaitUntil([&] { return Exited(); }, kKillGrace + std::chrono::seconds(10));
}

void DeviceSimulator::Configure(const std::string& json) {
  ControlAnswer answer = Control("POST", "/config", json);
  if (answer.status != 200)
    throw HarnessError("the simulator refused the configuration " + json + ": " + answer.body);
}

void DeviceSimulator::Reset() {
  ControlAnswer answer = Control("POST", "/reset");
  if (answer.status != 200)
    throw HarnessError("the simulator did not reset: " + answer.body);
}

std::vector<RecordedRequest> DeviceSimulator::Requests(int since) {
  ControlAnswer answer = Control("GET", "/requests?since=" + std::to_string(since));
  std::optional<device::JsonValue> list = device::ParseJson(answer.body);
  if (answer.status != 200 || !list || list->kind != device::JsonValue::Kind::Array)
    throw HarnessError("the simulator's request log cannot be read: " + answer.body);
  std::vector<RecordedRequest> requests;
  for (const device::JsonValue& item : list->items) {
    RecordedRequest r;
    r.seq = ToInt(item.Member("seq"));
    r.port = ToInt(item.Member("port"));
    r.method = ToText(item.Member("method"));
    r.path = ToText(item.Member("path"));
    r.version = ToText(item.Member("version"));
    if (const device::JsonValue* headers = item.Member("headers"))
      for (const device::JsonValue& pair : headers->items)
        if (pair.items.size() == 2)
          r.headers.emplace_back(pair.items[0].text, pair.items[1].text);
    if (const device::JsonValue* cookies = item.Member("cookies"))
      for (const auto& [name, value] : cookies->Members())
        r.cookies.emplace(name, value.text);
    r.body = DecodeBase64(ToText(item.Member("body_b64")));
    r.bodyError = ToText(item.Member("body_error"));
    requests.push_back(std::move(r));
  }
  return requests;
}

ControlAnswer DeviceSimulator::Control(const std::string& method, const std::string& path,
                                       const std::string& body) {
  if (controlPort_ == 0)
    throw HarnessError("the device simulator is not running");
  SocketLibrary library;
  Socket s;
  DWORD timeoutMs = 30000;
  setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
             sizeof timeoutMs);
  setsockopt(s.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs),
             sizeof timeoutMs);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(controlPort_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    throw HarnessError("cannot reach the simulator's control port: " +
                       std::to_string(WSAGetLastError()));

  std::ostringstream request;
  request << method << ' ' << path << " HTTP/1.1\r\n"
          << "Host: 127.0.0.1:" << controlPort_ << "\r\n"
          << "Content-Type: application/json\r\n"
          << "Content-Length: " << body.size() << "\r\n"
          << "Connection: close\r\n\r\n"
          << body;
  const std::string bytes = request.str();
  for (size_t sent = 0; sent < bytes.size();) {
    int n = send(s.Get(), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0)
      throw HarnessError("cannot send to the simulator's control port");
    sent += static_cast<size_t>(n);
  }
  // The control API closes the connection after every answer.
  std::string reply;
  char buffer[16384];
  for (;;) {
    int n = recv(s.Get(), buffer, sizeof buffer, 0);
    if (n < 0)
      throw HarnessError("no answer from the simulator's control port");
    if (n == 0)
      break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  size_t headerEnd = reply.find("\r\n\r\n");
  if (reply.compare(0, 5, "HTTP/") != 0 || reply.size() < 12 || headerEnd == std::string::npos)
    throw HarnessError("the simulator's control port gave no HTTP answer");
  ControlAnswer answer;
  answer.status = std::stoi(reply.substr(9, 3));
  answer.body = reply.substr(headerEnd + 4);
  return answer;
}

std::vector<std::string> Paths(const std::vector<RecordedRequest>& requests) {
  std::vector<std::string> paths;
  for (const RecordedRequest& r : requests)
    paths.push_back(r.path);
  return paths;
}

size_t CountOf(const std::vector<RecordedRequest>& requests, const std::string& path) {
  return static_cast<size_t>(std::count_if(
      requests.begin(), requests.end(), [&](const RecordedRequest& r) { return r.path == path; }));
}

} // namespace winetest
