// The WinHTTP transport against the device simulator over real HTTPS on
// loopback: what goes on the wire, what comes back, and how failures below
// HTTP end a request.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "device/HttpClient.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Http.h"
#include "tests/wine/DeviceSimulator.h"

#include <psapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

namespace {

using plat::HeaderList;
using plat::HttpRequest;
using plat::HttpResponse;
using plat::HttpSettings;
using plat::IHttpTransport;
using plat::PlatformError;
using plat::TransferProgress;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::StartsWith;
using winetest::DeviceSimulator;
using winetest::RecordedRequest;
using winetest::TempFolder;

constexpr const char* kSessionCookie = "R930::AuthCookieHandler_R930HMI";
constexpr const char* kFormType = "application/x-www-form-urlencoded; charset=utf-8";
// A multipart body with a NUL, a byte above 0x7F and a line break inside.
constexpr char kBinaryBody[] = "------b0undary\r\n\0\xff\x7f\r\n------b0undary--\r\n";

std::unique_ptr<IHttpTransport> AcceptingTransport(const HttpSettings& settings = {}) {
  auto transport = plat::win32::CreateWin32HttpTransport(settings);
  transport->SetCertificateHook([] { return true; });
  return transport;
}

HttpRequest Request(std::string method, std::string url, HeaderList headers = {},
                    std::string body = {}) {
  HttpRequest request;
  request.method = std::move(method);
  request.url = std::move(url);
  request.headers = std::move(headers);
  request.body = std::move(body);
  return request;
}

std::vector<std::string> ValuesOf(const HeaderList& headers, const std::string& name) {
  std::vector<std::string> values;
  for (const auto& [n, v] : headers)
    if (_stricmp(n.c_str(), name.c_str()) == 0)
      values.push_back(v);
  return values;
}

uint64_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
    return 0;
  return counters.PeakWorkingSetSize;
}

class HttpTransportTest : public testing::Test {
protected:
  // One simulator for the whole suite; every test starts from its start-up
  // configuration with an empty request log.
  static void TearDownTestSuite() { simulator_.reset(); }

  void SetUp() override {
    if (!simulator_)
      simulator_ = std::make_unique<DeviceSimulator>();
    simulator_->Reset();
  }

  DeviceSimulator& Sim() { return *simulator_; }

  // The one request the simulator received since the last reset.
  RecordedRequest OnlyRequest() {
    std::vector<RecordedRequest> requests = Sim().Requests();
    if (requests.size() != 1) {
      ADD_FAILURE() << "the simulator received " << requests.size() << " requests, not 1";
      return {};
    }
    return requests[0];
  }

  static inline std::unique_ptr<DeviceSimulator> simulator_;
};

TEST_F(HttpTransportTest, SendsMethodTargetHeadersAndBodyExactlyAsGiven) {
  struct Case {
    const char* name;
    std::string method;
    std::string target;
    HeaderList headers;
    std::string body;
  };
  const Case cases[] = {
      {"form post",
       "POST",
       "/LOGIN",
       {{"Content-Type", kFormType}, {"Accept-Language", "de-DE"}, {"X-Client", "a  b;c=d"}},
       "credential_0=op%C3%A9rateur&credential_1=a+b%26c&credential_2="},
      {"binary post",
       "POST",
       "/cgi-bin/ReadBinaryFile.cgi",
       {{"Content-Type", "multipart/form-data; boundary=----b0undary"}},
       std::string(kBinaryBody, sizeof kBinaryBody - 1)},
      {"get with query", "GET", "/info.cgi?since=3&x=%2F", {{"Accept", "*/*"}}, ""},
  };
  auto transport = AcceptingTransport();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sim().Reset();
    std::string error;
    auto response =
        transport->Send(Request(c.method, Sim().Url(c.target), c.headers, c.body), error);
    ASSERT_TRUE(response) << error;

    RecordedRequest received = OnlyRequest();
    EXPECT_EQ(received.method, c.method);
    EXPECT_EQ(received.path, c.target);
    EXPECT_EQ(received.version, "HTTP/1.1");
    EXPECT_EQ(received.body, c.body);
    EXPECT_THAT(received.bodyError, IsEmpty());
    if (!c.body.empty()) {
      EXPECT_THAT(received.HeaderValues("Content-Length"),
                  testing::ElementsAre(std::to_string(c.body.size())));
    }
    EXPECT_THAT(received.HeaderValues("Host"),
                testing::ElementsAre("127.0.0.1:" + std::to_string(Sim().Port())));
    EXPECT_THAT(received.HeaderValues("Cookie"), IsEmpty());
    // Ours arrive once each, unchanged and in the order given.
    size_t previous = 0;
    for (const auto& [name, value] : c.headers) {
      auto at = std::find_if(received.headers.begin(), received.headers.end(),
                             [&](const auto& h) { return h.first == name; });
      ASSERT_NE(at, received.headers.end()) << name;
      EXPECT_EQ(at->second, value);
      EXPECT_THAT(received.HeaderValues(name), testing::SizeIs(1)) << name;
      size_t index = static_cast<size_t>(at - received.headers.begin());
      EXPECT_GE(index, previous) << name;
      previous = index;
    }
  }
}

TEST_F(HttpTransportTest, SendsACookieOnlyWhenTheCallerGivesOne) {
  auto transport = AcceptingTransport();
  std::string error;
  auto login = transport->Send(Request("POST", Sim().Url("/LOGIN"), {{"Content-Type", kFormType}},
                                       "credential_0=admin&credential_1=Adm1n-pw&credential_2="),
                               error);
  ASSERT_TRUE(login) << error;
  ASSERT_EQ(login->status, 200);
  std::vector<std::string> setCookies = ValuesOf(login->headers, "Set-Cookie");
  ASSERT_THAT(setCookies, testing::ElementsAre(StartsWith(std::string(kSessionCookie) + "=")));
  const std::string cookie = setCookies[0].substr(0, setCookies[0].find(';'));

  // The session cookie was set on this very session: WinHTTP must not have
  // kept it.
  auto without = transport->Send(Request("GET", Sim().Url("/cgi-bin/infoExt.cgi")), error);
  ASSERT_TRUE(without) << error;
  EXPECT_EQ(without->status, 401);

  auto with = transport->Send(
      Request("GET", Sim().Url("/cgi-bin/infoExt.cgi"), {{"Cookie", cookie}}), error);
  ASSERT_TRUE(with) << error;
  EXPECT_EQ(with->status, 200);

  std::vector<RecordedRequest> requests = Sim().Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_THAT(requests[1].HeaderValues("Cookie"), IsEmpty());
  EXPECT_THAT(requests[2].HeaderValues("Cookie"), testing::ElementsAre(cookie));
}

// The whole way from the wire to the cookie store: a device at 127.0.0.1
// that plants its session cookie on "0.1" gets no cookie kept at all, so the
// session goes nowhere else (and not to itself either).
TEST_F(HttpTransportTest, ACookieWithAForeignDomainFromAnAddressIsNotKept) {
  struct Case {
    const char* domain;
    bool kept;
  };
  const Case cases[] = {{"0.1", false}, {"0.0.1", false}, {"127.0.0.1", true}};
  auto transport = AcceptingTransport();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.domain);
    Sim().Reset();
    Sim().Configure(std::string(R"({"cookie_domain": ")") + c.domain + R"("})");
    device::THttpClient client(*transport);
    client.OnValidateServerCertificate = [] { return true; };
    auto login = client.Post(Sim().Url("/LOGIN"), device::kFormContentType,
                             "credential_0=admin&credential_1=Adm1n-pw&credential_2=");
    ASSERT_TRUE(login);
    ASSERT_EQ(login->status, 200);
    EXPECT_EQ(client.Cookies().Cookies().size(), c.kept ? 1u : 0u);
    EXPECT_EQ(client.Cookies().HeaderFor("https://127.1.0.1/cgi-bin/infoExt.cgi"), "");
    auto info = client.Get(Sim().Url("/cgi-bin/infoExt.cgi"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, c.kept ? 200 : 401);
  }
}

TEST_F(HttpTransportTest, HandsARedirectBackWithItsLocationInsteadOfFollowingIt) {
  const std::string location = Sim().Url("/info.cgi");
  Sim().Configure(R"({"login_status": 302, "login_location": ")" + location + R"("})");
  auto transport = AcceptingTransport();
  std::string error;
  auto response = transport->Send(
      Request("POST", Sim().Url("/LOGIN"), {{"Content-Type", kFormType}}, "credential_0=x"), error);
  ASSERT_TRUE(response) << error;
  EXPECT_EQ(response->status, 302);
  EXPECT_THAT(ValuesOf(response->headers, "Location"), testing::ElementsAre(location));
  EXPECT_THAT(Sim().Requests(), testing::SizeIs(1));
}

TEST_F(HttpTransportTest, AcceptsTheSelfSignedCertificateOnlyWhenTheHookSaysSo) {
  struct Case {
    const char* name;
    std::optional<bool> hookAnswer; // nothing: no hook at all
    bool answered;
  };
  const Case cases[] = {
      {"no hook: the system's checks", std::nullopt, false},
      {"hook refuses", false, false},
      {"hook accepts", true, true},
  };
  // Wine hands an open connection to whichever session asks next for the same
  // server, without checking the certificate again; a simulator of its own
  // means no connection to it was opened before. The refusing cases come first
  // for the same reason.
  DeviceSimulator fresh;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto transport = plat::win32::CreateWin32HttpTransport({});
    int asked = 0;
    if (c.hookAnswer)
      transport->SetCertificateHook([&] {
        ++asked;
        return *c.hookAnswer;
      });
    for (int i = 0; i < 2; ++i) {
      std::string error;
      auto response = transport->Send(Request("GET", fresh.Url("/info.cgi")), error);
      EXPECT_EQ(response.has_value(), c.answered) << error;
      if (response) {
        EXPECT_EQ(response->status, 200);
      } else {
        EXPECT_THAT(error, HasSubstr("WinHTTP error"));
      }
    }
    if (c.hookAnswer) {
      EXPECT_EQ(asked, 2) << "the hook is asked before every request";
    }
  }
}

// Each answer reports the certificate of the connection that carried it.
// WinHTTP hands a kept-alive connection to the next request for the same
// server, even of another session, without a new handshake: after the device
// changed its certificate, that connection still reports the old one, and
// only a new connection the new one. So the certificate is read from every
// answer, never taken once per server.
TEST_F(HttpTransportTest, ReportsTheCertificateOfTheConnectionThatCarriedTheAnswer) {
  DeviceSimulator device;
  auto sha256 = [&] {
    const std::string body = device.Control("GET", "/cert/sha256").body;
    const size_t at = body.find("\"sha256\": \"");
    return at == std::string::npos ? body : body.substr(at + 11, 95);
  };
  auto presented = [&](IHttpTransport& transport, HeaderList headers = {}) {
    std::string error;
    auto response = transport.Send(Request("GET", device.Url("/info.cgi"), headers), error);
    EXPECT_TRUE(response) << error;
    return response ? response->certificateSha256 : std::string("no answer");
  };
  const std::string first = sha256();
  auto kept = AcceptingTransport();
  EXPECT_EQ(presented(*kept), first);

  ASSERT_EQ(device.Control("POST", "/cert", R"({"use": "second"})").status, 200);
  const std::string second = sha256();
  ASSERT_NE(second, first);
  auto other = AcceptingTransport();
  EXPECT_EQ(presented(*other), first) << "a new session on the kept-alive connection";
  // The last request on that connection; the next one needs a new handshake.
  EXPECT_EQ(presented(*kept, {{"Connection", "close"}}), first);
  EXPECT_EQ(presented(*other), second);
  EXPECT_EQ(presented(*kept), second);

  // Plain HTTP has no certificate.
  std::string error;
  auto plain = kept->Send(
      Request("GET", "http://127.0.0.1:" + std::to_string(device.ControlPort()) + "/ready"), error);
  ASSERT_TRUE(plain) << error;
  EXPECT_EQ(plain->certificateSha256, "");
}

TEST_F(HttpTransportTest, AStalledAnswerFailsAtTheReceiveTimeout) {
  Sim().Configure(R"({"stall": {"/info.cgi": true}})");
  HttpSettings quick;
  quick.receiveTimeoutMs = 1500;
  auto transport = AcceptingTransport(quick);
  std::string error;
  auto response = transport->Send(Request("GET", Sim().Url("/info.cgi")), error);
  EXPECT_FALSE(response);
  // Windows reports its own time-out code here, Wine the socket's.
  EXPECT_THAT(error, HasSubstr("in WinHttpReceiveResponse"));
}

TEST_F(HttpTransportTest, ABodyCutShortFailsAndLeavesNoBodyFile) {
  // The simulator resets the connection after half of this body. Half of it
  // is more than the socket buffers of both ends can hold, so the answer's
  // head and part of its body have been read when the reset comes.
  const std::string reset = R"({"huge_body": {"/info.cgi": 134217728},
                                "reset_mid_body": {"/info.cgi": true}})";
  // An orderly close after fewer bytes than announced: only the length tells.
  const std::string closed = R"({"garbage": {"/info.cgi":
      "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly these bytes"}})";
  struct Case {
    const char* name;
    const std::string& config;
    bool toFile;
  };
  const Case cases[] = {
      {"reset, into memory", reset, false},
      {"reset, into a file", reset, true},
      {"closed early, into memory", closed, false},
      {"closed early, into a file", closed, true},
  };
  TempFolder folder;
  const std::filesystem::path target = folder.Path() / "body.bin";
  auto transport = AcceptingTransport();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sim().Reset();
    Sim().Configure(c.config);
    // A file from an earlier download must not survive as if it were the answer.
    folder.WriteFile("body.bin", "stale");
    HttpRequest request = Request("GET", Sim().Url("/info.cgi"));
    if (c.toFile)
      request.bodyFile = target.string();
    std::string error;
    auto response = transport->Send(request, error);
    EXPECT_FALSE(response);
    EXPECT_THAT(error, testing::Not(IsEmpty()));
    if (c.toFile) {
      EXPECT_FALSE(std::filesystem::exists(target));
    }
  }
}

// A body without a length, or chunked, ends where the connection closes in
// order, whole or cut alike (WinHTTP reports a chunked body closed before its
// last chunk as a normal end). The transport takes it as it came, into a
// file too; what proves an archive whole is its extraction.
TEST_F(HttpTransportTest, ABodyWithoutALengthIsTakenAsItCame) {
  constexpr uint64_t kBody = 1 << 20;
  const std::string huge = R"("huge_body": {"/info.cgi": 1048576})";
  const std::string unframedJson = R"({"garbage": {"/info.cgi":
      "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"autologin\": \"disabled\"}"}})";
  const std::string chunkedJson = R"({"garbage": {"/info.cgi":
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n6\r\n{\"a\":1\r\n1\r\n}\r\n0\r\n\r\n"}})";
  struct Case {
    const char* name;
    std::string config;
    bool toFile;
    uint64_t fileBytes;     // into a file: what it holds afterwards
    std::string memoryBody; // into memory: the body handed back
  };
  const Case cases[] = {
      {"chunked, whole", "{" + huge + R"(, "chunked": {"/info.cgi": true}})", true, kBody, ""},
      {"chunked, closed before the last chunk",
       "{" + huge + R"(, "chunked_cut": {"/info.cgi": true}})", true, kBody / 2, ""},
      {"no length, whole, closed after the last byte",
       "{" + huge + R"(, "unframed": {"/info.cgi": true}})", true, kBody, ""},
      {"no length, closed halfway",
       "{" + huge + R"(, "close_without_length": {"/info.cgi": true}})", true, kBody / 2, ""},
      {"no length, whole, into memory", unframedJson, false, 0, R"({"autologin": "disabled"})"},
      {"chunked, whole, into memory", chunkedJson, false, 0, R"({"a":1})"},
  };
  TempFolder folder;
  const std::filesystem::path target = folder.Path() / "body.bin";
  auto transport = AcceptingTransport();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sim().Reset();
    Sim().Configure(c.config);
    folder.WriteFile("body.bin", "stale");
    HttpRequest request = Request("GET", Sim().Url("/info.cgi"));
    if (c.toFile)
      request.bodyFile = target.string();
    std::string error;
    auto response = transport->Send(request, error);
    ASSERT_TRUE(response) << error;
    EXPECT_EQ(response->status, 200);
    EXPECT_TRUE(response->complete);
    if (c.toFile) {
      EXPECT_THAT(response->body, IsEmpty());
      ASSERT_TRUE(std::filesystem::exists(target));
      EXPECT_EQ(std::filesystem::file_size(target), c.fileBytes);
    } else {
      EXPECT_EQ(response->body, c.memoryBody);
    }
  }
}

TEST_F(HttpTransportTest, ABodyBeyondTheCapFailsAndLeavesNoBodyFile) {
  constexpr uint64_t kCap = 4ull << 20;
  struct Case {
    const char* name;
    std::string config;
    bool toFile;
    const char* errorPart;
  };
  const Case cases[] = {
      {"endless, into a file", R"({"endless_body": {"/info.cgi": true}})", true, "larger than"},
      {"announced beyond the cap, into a file",
       R"({"huge_body": {"/info.cgi": )" + std::to_string(kCap + 1) + "}}", true, "larger than"},
      {"endless, into memory", R"({"endless_body": {"/info.cgi": true}})", false, "larger than"},
  };
  HttpSettings capped;
  capped.maxFileBodyBytes = kCap;
  TempFolder folder;
  const std::filesystem::path target = folder.Path() / "body.bin";
  auto transport = AcceptingTransport(capped);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sim().Reset();
    Sim().Configure(c.config);
    folder.WriteFile("body.bin", "stale");
    HttpRequest request = Request("GET", Sim().Url("/info.cgi"));
    if (c.toFile)
      request.bodyFile = target.string();
    std::string error;
    auto response = transport->Send(request, error);
    EXPECT_FALSE(response);
    EXPECT_THAT(error, HasSubstr(c.errorPart));
    if (c.toFile) {
      EXPECT_FALSE(std::filesystem::exists(target));
    }
  }
}

// Each byte comes well within the receive time-out, so no single read ever
// times out; the transfer as a whole makes next to no progress.
TEST_F(HttpTransportTest, ADripFeedFailsAndLeavesNoBodyFile) {
  Sim().Configure(R"({"drip_ms": {"/info.cgi": 100}})");
  HttpSettings quick;
  quick.receiveTimeoutMs = 1500;
  TempFolder folder;
  const std::filesystem::path target = folder.Path() / "body.bin";
  auto transport = AcceptingTransport(quick);
  for (bool toFile : {true, false}) {
    SCOPED_TRACE(toFile ? "into a file" : "into memory");
    folder.WriteFile("body.bin", "stale");
    HttpRequest request = Request("GET", Sim().Url("/info.cgi"));
    if (toFile)
      request.bodyFile = target.string();
    std::string error;
    auto response = transport->Send(request, error);
    EXPECT_FALSE(response);
    EXPECT_THAT(error, HasSubstr("too slowly"));
    if (toFile) {
      EXPECT_FALSE(std::filesystem::exists(target));
    }
  }
}

TEST_F(HttpTransportTest, StreamsAHugeBodyCompletelyIntoTheBodyFile) {
  constexpr uint64_t kSize = 64ull * 1024 * 1024;
  Sim().Configure(R"({"huge_body": {"/info.cgi": )" + std::to_string(kSize) + "}}");
  TempFolder folder;
  const std::filesystem::path target = folder.Path() / "big.bin";
  auto transport = AcceptingTransport();
  HttpRequest request = Request("GET", Sim().Url("/info.cgi"));
  request.bodyFile = target.string();
  // Told on this thread while the body arrives, counting up to the whole.
  std::vector<TransferProgress> told;
  const std::thread::id caller = std::this_thread::get_id();
  bool onCaller = true;
  request.onProgress = [&](const TransferProgress& now) {
    onCaller = onCaller && std::this_thread::get_id() == caller;
    told.push_back(now);
  };

  const uint64_t peakBefore = PeakWorkingSet();
  ASSERT_GT(peakBefore, 0u) << "the process's memory use cannot be read";
  std::string error;
  auto response = transport->Send(request, error);
  const uint64_t peakAfter = PeakWorkingSet();
  ASSERT_TRUE(response) << error;
  EXPECT_EQ(response->status, 200);
  EXPECT_TRUE(response->complete);
  EXPECT_THAT(response->body, IsEmpty());
  EXPECT_LT(peakAfter - peakBefore, kSize / 2) << "the body went through memory";
  EXPECT_TRUE(onCaller);
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back().received, kSize);
  EXPECT_EQ(told.back().total, kSize);
  EXPECT_TRUE(std::is_sorted(told.begin(), told.end(),
                             [](const auto& a, const auto& b) { return a.received < b.received; }));

  ASSERT_EQ(std::filesystem::file_size(target), kSize);
  // The simulator sends "0123456789abcdef" over and over.
  std::ifstream in(target, std::ios::binary);
  std::string block(1 << 20, '\0');
  uint64_t offset = 0;
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i, ++offset)
      if (block[static_cast<size_t>(i)] != "0123456789abcdef"[offset % 16])
        FAIL() << "wrong byte at offset " << offset;
  }
  EXPECT_EQ(offset, kSize);
}

// A body file that cannot be made is this machine's failure: raised, not
// reported as a failed request, and nothing is asked of the device.
TEST_F(HttpTransportTest, ABodyFileThatCannotBeMadeRaisesBeforeAnythingIsSent) {
  TempFolder folder;
  auto transport = AcceptingTransport();
  HttpRequest request = Request("GET", Sim().Url("/info.cgi"));
  request.bodyFile = (folder.Path() / "missing-folder" / "body.bin").string();
  std::string error;
  EXPECT_THROW(transport->Send(request, error), PlatformError);
  EXPECT_THAT(Sim().Requests(), IsEmpty());
}

TEST_F(HttpTransportTest, SpeaksPlainHttpToo) {
  auto transport = AcceptingTransport();
  std::string error;
  auto response = transport->Send(
      Request("GET", "http://127.0.0.1:" + std::to_string(Sim().ControlPort()) + "/status"), error);
  ASSERT_TRUE(response) << error;
  EXPECT_EQ(response->status, 200);
  EXPECT_THAT(response->body, HasSubstr("\"control_port\""));
}

// A loopback port that nobody listens on (any more).
int ClosedPort() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    return 1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  int port = 1;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  closesocket(s);
  WSACleanup();
  return port;
}

TEST(HttpTransportFailures, RequestsThatCannotBeMadeGiveNoAnswerButAnError) {
  struct Case {
    const char* name;
    std::string url;
    HeaderList headers;
    const char* errorPart;
  };
  const std::string closed = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/info.cgi";
  const Case cases[] = {
      {"not a URL", "not a url", {}, "WinHttpCrackUrl"},
      {"another scheme", "ftp://127.0.0.1/info.cgi", {}, "WinHttpCrackUrl"},
      {"no host", "https:///info.cgi", {}, "WinHttpCrackUrl"},
      {"header with a line break", closed, {{"X-Evil", "a\r\nCookie: b"}}, "header"},
      {"nobody listening", closed, {}, "WinHTTP error"},
  };
  TempFolder folder;
  const std::filesystem::path target = folder.Path() / "body.bin";
  auto transport = AcceptingTransport();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    folder.WriteFile("body.bin", "from an earlier download");
    HttpRequest request = Request("GET", c.url, c.headers);
    request.bodyFile = target.string();
    std::string error;
    auto response = transport->Send(request, error);
    EXPECT_FALSE(response);
    EXPECT_THAT(error, HasSubstr(c.errorPart));
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

TEST(LocalAddress, GivesTheMachinesNameAndADottedIPv4Address) {
  plat::LocalAddress local = plat::win32::CreateWin32Network()->LocalIPv4();
  EXPECT_TRUE(local.socketsStarted);
  EXPECT_TRUE(local.nameResolved);
  EXPECT_THAT(local.hostName, testing::Not(IsEmpty()));
  in_addr parsed{};
  EXPECT_EQ(inet_pton(AF_INET, local.address.c_str(), &parsed), 1) << local.address;
}

} // namespace
