#include "device/HttpClient.h"
#include "device/Json.h"

#include <gtest/gtest.h>

namespace {

using device::GetValue;
using device::ParseJson;

TEST(GetValue, EveryJsonType) {
  auto doc = ParseJson(R"({"s":"enabled","n":5,"f":-1.50e+3,"t":true,"F":false,"z":null,)"
                       R"("o":{"a":1},"a":[1,2],"u":"caf\u00e9 \ud83d\udd11","e":""})");
  ASSERT_TRUE(doc);
  struct Case {
    const char* member;
    const char* expected;
  } cases[] = {
      {"s", "enabled"}, {"n", "5"}, {"f", "-1.50e+3"}, {"t", "true"},
      {"F", "false"},   {"z", ""},  {"o", ""},         {"a", ""},
      {"missing", ""},  {"S", ""},  {"e", ""},         {"u", "caf\xC3\xA9 \xF0\x9F\x94\x91"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetValue(c.member, &*doc), c.expected) << c.member;
}

TEST(GetValue, NotAnObjectOrNotJsonGivesEmpty) {
  EXPECT_EQ(GetValue("a", nullptr), "");
  auto array = ParseJson(R"([{"a":"x"}])");
  ASSERT_TRUE(array);
  EXPECT_EQ(GetValue("a", &*array), "");
  for (const char* bad : {"<html>error</html>", "", "{", R"({"a":})", R"({"a":"x"} trailing)",
                          R"({"a":01})", R"({'a':'x'})", "{\"a\":\"\x01\"}"})
    EXPECT_FALSE(ParseJson(bad)) << bad;
}

TEST(ParseJson, DeepNestingIsRefusedNotACrash) {
  std::string deep(100000, '[');
  EXPECT_FALSE(ParseJson(deep));
  std::string ok = std::string(100, '[') + std::string(100, ']');
  EXPECT_TRUE(ParseJson(ok));
}

TEST(FormEncoding, ByteByByte) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"AZaz09", "AZaz09"},         {"*-._", "*-._"},       {"a b", "a+b"}, {"p&w/d", "p%26w%2Fd"},
      {"=+%~!", "%3D%2B%25%7E%21"}, {"\xC3\xA9", "%C3%A9"}, {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(device::EncodeFormField(c.in), c.out) << c.in;
}

TEST(FormEncoding, LoginBodyInFieldOrder) {
  EXPECT_EQ(device::EncodeForm({{"sessID", ""},
                                {"credential_0", ""},
                                {"credential_1", ""},
                                {"credential_2", "192.0.2.10"},
                                {"destination", "/"}}),
            "sessID=&credential_0=&credential_1=&credential_2=192.0.2.10&destination=%2F");
  EXPECT_EQ(device::EncodeForm({}), "");
}

TEST(Multipart, OneFieldAndAFreshBoundaryEachTime) {
  std::string body1, body2;
  std::string type1 = device::MakeMultipart("file", "/mnt/flash/hmi/jre/j.zip", body1);
  std::string type2 = device::MakeMultipart("file", "/mnt/flash/hmi/jre/j.zip", body2);
  ASSERT_EQ(type1.rfind("multipart/form-data; boundary=", 0), 0u);
  std::string boundary = type1.substr(type1.find('=') + 1);
  EXPECT_NE(type1, type2);
  EXPECT_EQ(body1, "--" + boundary +
                       "\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\n"
                       "/mnt/flash/hmi/jre/j.zip\r\n--" +
                       boundary + "--\r\n");
}

TEST(CookieStore, HostAndPathRules) {
  device::CookieStore store;
  store.TakeFrom("https://10.0.0.5:51443/LOGIN",
                 {{"Set-Cookie", "R930::AuthCookieHandler_R930HMI=tok1; path=/; Secure; HttpOnly"},
                  {"Content-Type", "text/html"},
                  {"set-cookie", "narrow=1; Path=/cgi-bin"},
                  {"Set-Cookie", "def=2"}, // default path of /LOGIN is /
                  {"Set-Cookie", "evil=3; Domain=example.com"},
                  {"Set-Cookie", "noequals"}});
  struct Case {
    const char* url;
    const char* header;
  } cases[] = {
      {"https://10.0.0.5:51443/cgi-bin/infoExt.cgi",
       "narrow=1; R930::AuthCookieHandler_R930HMI=tok1; def=2"},
      {"https://10.0.0.5/LOGOUT", "R930::AuthCookieHandler_R930HMI=tok1; def=2"},
      {"https://10.0.0.5:443/cgi-binx", "R930::AuthCookieHandler_R930HMI=tok1; def=2"},
      {"https://10.0.0.6/LOGOUT", ""},
      {"http://10.0.0.5/LOGOUT", "def=2"}, // a secure cookie never goes in clear
      {"https://example.com/", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(store.HeaderFor(c.url), c.header) << c.url;
}

TEST(CookieStore, SameNameHostAndPathReplacesInPlace) {
  device::CookieStore store;
  store.TakeFrom("https://gw/LOGIN", {{"Set-Cookie", "a=1; path=/"}, {"Set-Cookie", "b=2"}});
  store.TakeFrom("https://gw/LOGIN", {{"Set-Cookie", "a=9; path=/"}});
  ASSERT_EQ(store.Cookies().size(), 2u);
  EXPECT_EQ(store.Cookies()[0].value, "9");
  store.TakeFrom("https://sub.gw.example/x", {{"Set-Cookie", "d=1; Domain=.gw.example"}});
  EXPECT_EQ(store.HeaderFor("https://other.gw.example/"), "d=1");
}

TEST(BodyText, CharsetFromContentType) {
  plat::HttpResponse r;
  r.body = "caf\xE9";
  r.headers = {{"Content-Type", "application/json; charset=ISO-8859-1"}};
  EXPECT_EQ(device::BodyText(r), "caf\xC3\xA9");
  r.headers = {{"Content-Type", "application/json"}};
  r.body = "caf\xC3\xA9";
  EXPECT_EQ(device::BodyText(r), "caf\xC3\xA9");
}

} // namespace
