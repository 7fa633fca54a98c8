// One file of the device read into the cache: whole or not at all, into a
// part file of its own.
#include "device/FileDownload.h"
#include "device/LaunchContext.h"
#include "platform/fake/FakePlatform.h"
#include "tests/support/DeviceRig.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr const char* kFileRead = "POST /cgi-bin/ReadBinaryFile.cgi";
constexpr const char* kRemote = "/mnt/flash/hmi/jre/jre_v_1.zip";
const std::string kLocal = "C:\\cache\\jre_v_1.zip";

// A read in the session of the device gw on port 8443, typed so.
class FileDownloadTest : public ::testing::Test, public testsupport::DeviceRig {
protected:
  FileDownloadTest() {
    view.host = "gw:8443";
    p.http.openPorts = {8443};
    p.files.CreateDirectories("C:\\cache");
  }
  // True when the file is in place.
  bool Read(const std::string& local = kLocal) {
    device::LaunchContext c = Context();
    failure = device::DownLoadFile(c, at, kRemote, local);
    return !failure.has_value();
  }

  device::DeviceEndpoint at{"gw:8443", 8443, true};
  std::optional<device::StepFailure> failure;
};

TEST_F(FileDownloadTest, KeepsThePreviousFileWhenTheReadFails) {
  p.files.AddFile(kLocal, "old archive");
  p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(404, "nope"));
  EXPECT_FALSE(Read());
  EXPECT_EQ(p.files.Contents(kLocal), "old archive");
  EXPECT_FALSE(p.files.FileExists(kLocal + ".part"));

  p.http.Fail(kFileRead);
  EXPECT_FALSE(Read());
  EXPECT_EQ(p.files.Contents(kLocal), "old archive");

  auto partial = fake::FakeHttpTransport::Answer(200, "PK-half");
  partial.complete = false;
  p.http.Route(kFileRead, partial);
  EXPECT_FALSE(Read());
  EXPECT_EQ(p.files.Contents(kLocal), "old archive");
  EXPECT_FALSE(p.files.FileExists(kLocal + ".part"));

  p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(200, "PK-new"));
  EXPECT_TRUE(Read());
  EXPECT_EQ(p.files.Contents(kLocal), "PK-new");
  EXPECT_EQ(p.http.requests.back().url, "https://gw:8443/cgi-bin/ReadBinaryFile.cgi");
  EXPECT_NE(p.http.requests.back().body.find(kRemote), std::string::npos);
}

TEST_F(FileDownloadTest, EachDownloadWritesAPartFileOfItsOwn) {
  // Another launcher is reading the same archive, and an earlier process
  // with this process's id left its part file behind.
  p.files.AddFile(kLocal + ".part", "another launcher's part");
  p.files.AddFile(kLocal + ".4242.0.part", "left behind");
  p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(200, "PK-new"));
  EXPECT_TRUE(Read());
  ASSERT_TRUE(p.http.requests.back().bodyFile);
  EXPECT_EQ(*p.http.requests.back().bodyFile, kLocal + ".4242.1.part");
  EXPECT_EQ(p.files.Contents(kLocal), "PK-new");
  EXPECT_FALSE(p.files.FileExists(kLocal + ".4242.1.part"));
  EXPECT_EQ(p.files.Contents(kLocal + ".part"), "another launcher's part");
  EXPECT_EQ(p.files.Contents(kLocal + ".4242.0.part"), "left behind");
}

// Why a read failed, and whose that is: the connection's, which the branch
// tells in its own words, or this computer's, which says what happened. The
// part file goes either way.
TEST_F(FileDownloadTest, AFailedReadSaysWhoseItIs) {
  using device::Whose;
  const std::string part = kLocal + ".4242.0.part";
  auto cut = fake::FakeHttpTransport::Answer(200, "PK-half");
  cut.complete = false;
  struct Case {
    const char* name;
    std::function<void()> setUp;
    Whose whose;
    std::string reason;
  } cases[] = {
      {"status 404", [&] { p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(404, "")); },
       Whose::Connection, "status 404"},
      {"no answer", [&] { p.http.Fail(kFileRead); }, Whose::Connection, "no answer"},
      {"cut short", [&] { p.http.Route(kFileRead, cut); }, Whose::Connection, "no answer"},
      {"the disk fills up during the transfer",
       [&] {
         p.http.routes[kFileRead] = [&](const plat::HttpRequest& r,
                                        std::string&) -> std::optional<plat::HttpResponse> {
           throw plat::PlatformError("The file " + *r.bodyFile +
                                     " cannot be written. There is not enough space on the disk.");
         };
       },
       Whose::ThisComputer,
       "The file " + part + " cannot be written. There is not enough space on the disk."},
      {"no part file can be made", [&] { p.files.unwritable.insert(part); }, Whose::ThisComputer,
       "The file " + kLocal + " cannot be written here: Cannot create file \"" + part + "\"."},
      {"the archive cannot take its place",
       [&] {
         p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(200, "PK"));
         p.files.unwritable.insert(kLocal);
       },
       Whose::ThisComputer, "Cannot move \"" + part + "\" to \"" + kLocal + "\"."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(200, "PK"));
    p.files.unwritable.clear();
    c.setUp();
    EXPECT_FALSE(Read());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->stage, device::Stage::Provisioning);
    EXPECT_EQ(failure->whose, c.whose);
    EXPECT_EQ(failure->message, c.reason);
    EXPECT_FALSE(p.files.FileExists(kLocal));
    EXPECT_FALSE(p.files.FileExists(part));
  }
}

// The read goes to the endpoint of the session it belongs to, whatever the
// host box says by now.
TEST_F(FileDownloadTest, ReadsFromTheEndpointNotFromTheHostBox) {
  view.host = "other:9443";
  p.http.openPorts = {51443, 9443};
  at = {"gw", 51443, false};
  p.http.Route(kFileRead, fake::FakeHttpTransport::Answer(200, "PK-new"));
  EXPECT_TRUE(Read());
  ASSERT_EQ(p.http.requests.size(), 1u);
  EXPECT_EQ(p.http.requests[0].url, "https://gw:51443/cgi-bin/ReadBinaryFile.cgi");
}

} // namespace
