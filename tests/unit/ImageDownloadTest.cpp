#include "device/ImageDownload.h"
#include "platform/fake/FakePlatform.h"
#include "tests/support/DeviceRig.h"

#include <gtest/gtest.h>

namespace {

const std::string kRoot = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
const std::string kJreCache = kRoot + "\\JRECache\\jre_v_17.0.2.zip";
const std::string kLibCache = kRoot + "\\LIBCache\\lib_hmi_full_410_7_r.zip";
const std::string kJreImage = kRoot + "\\JREImage\\v17.0.2.0";
const std::string kLibImage = kRoot + "\\LIBImage\\v4.10\\v410_0007";

// The archive library as the download relies on it: an archive's own fault
// (damaged, an item failing its check) raises an error of the archive, and
// only a failure of this machine raises PlatformError. The fake library
// reports those faults as PlatformError; this one passes them on as the
// archive's.
class ArchiveFaultsAsTheArchives : public plat::IArchiveLibrary {
public:
  explicit ArchiveFaultsAsTheArchives(plat::IArchiveLibrary& inner) : inner_(inner) {}
  bool Load() override { return inner_.Load(); }
  std::vector<plat::ArchiveFormat> Formats() override { return inner_.Formats(); }
  std::unique_ptr<plat::IArchive> Open(const std::string& formatName,
                                       const std::string& archivePath) override {
    return std::make_unique<Archive>(inner_.Open(formatName, archivePath));
  }

private:
  class Archive : public plat::IArchive {
  public:
    explicit Archive(std::unique_ptr<plat::IArchive> inner) : inner_(std::move(inner)) {}
    std::vector<plat::ArchiveItem> Items() override { return inner_->Items(); }
    bool HasErrors() override { return false; }
    void Extract(const plat::ExtractTargets& targets, const plat::ItemProgress& onProgress,
                 const plat::StopFlag* stop) override {
      if (inner_->HasErrors())
        throw std::runtime_error("The archive is damaged.");
      try {
        inner_->Extract(targets, onProgress, stop);
      } catch (const plat::PlatformError& e) {
        throw std::runtime_error(e.what());
      }
    }

  private:
    std::unique_ptr<plat::IArchive> inner_;
  };
  plat::IArchiveLibrary& inner_;
};

// The download branch in the session of a device on port 8443.
class DownloadTest : public ::testing::Test, public testsupport::DeviceRig {
protected:
  DownloadTest() {
    view.host = "gw:8443";
    p.http.openPorts = {8443};
    facts.hmiJREFile = "jre_v_17.0.2.zip";
    facts.hmiLIBFile = "lib_hmi_full_410_7_r.zip";
    facts.releaseVersion = "v4.10";
    // The device serves both archives.
    p.http.routes["POST /cgi-bin/ReadBinaryFile.cgi"] = [this](const plat::HttpRequest& r,
                                                               std::string&) {
      std::string which =
          r.body.find("/mnt/flash/hmi/jre/jre_v_17.0.2.zip") != std::string::npos           ? "jre"
          : r.body.find("/mnt/flash/hmi/lib/lib_hmi_full_410_7_r.zip") != std::string::npos ? "lib"
                                                                                            : "";
      fetched.push_back(which);
      int status = which.empty() ? 404 : (which == "jre" ? jreStatus : 200);
      return std::optional(fake::FakeHttpTransport::Answer(status, which + "-archive"));
    };
    // What the archives hold once they are in the cache.
    p.archives.archives[p.files.Normalize(kJreCache)] = Archive({"bin/javaw.exe", "lib/rt.jar"});
    p.archives.archives[p.files.Normalize(kLibCache)] = Archive({"config-gui.jar", "hmi.jar"});
    p.ui.onProcessMessages = [this] { statusSeen.push_back(view.status); };
  }
  static fake::FakeArchiveContent Archive(const std::vector<std::string>& names) {
    return fake::FakeArchiveContent::Files("zip", names);
  }
  bool Run() {
    message = "unset";
    plat::Services faultsAsTheArchives{p.system,   p.files,       p.ui,        p.http,
                                       p.network,  archiveFaults, p.storage,   p.xml,
                                       p.security, p.windows,     p.processes, p.registry};
    device::LaunchContext c{archiveFaultsAreTheArchives ? faultsAsTheArchives : p.services,
                            folders,
                            view,
                            last,
                            g,
                            http,
                            log};
    provided = device::DownloadRuntimeImages(c, facts, session);
    message = provided->images ? "" : provided->failure.message;
    return provided->images.has_value();
  }
  const device::RuntimeImages& Images() const { return *provided->images; }
  std::vector<std::string> Below(const std::string& folder) const { return p.files.Below(folder); }

  ArchiveFaultsAsTheArchives archiveFaults{p.archives};
  bool archiveFaultsAreTheArchives = false;
  device::DeviceFacts facts;
  device::DeviceSession session{http, {"gw:8443", 8443, true}, "tok-1"};
  std::optional<device::Provisioned> provided;
  std::vector<std::string> fetched;
  std::vector<std::string> statusSeen;
  int jreStatus = 200;
  std::string message;
};

TEST_F(DownloadTest, FreshCacheFetchesAndExtractsBothThenNothingMore) {
  ASSERT_TRUE(Run()) << message;
  EXPECT_EQ(fetched, (std::vector<std::string>{"jre", "lib"}));
  EXPECT_EQ(p.files.Contents(kJreCache), "jre-archive");
  EXPECT_TRUE(p.files.FileExists(kJreImage + "\\bin\\javaw.exe"));
  EXPECT_TRUE(p.files.FileExists(kLibImage + "\\config-gui.jar"));
  EXPECT_EQ(Images().jreImageFolder, kJreImage);
  EXPECT_EQ(Images().hmiLibImageFolder, kLibImage);
  EXPECT_EQ(Images().jreVersion, "v17.0.2.0");
  EXPECT_EQ(Images().hmiSchemaVersion, "v410_0007");
  // Downloaded images come with an HMI that puts the host in its caption.
  EXPECT_TRUE(Images().fromDevice);
  EXPECT_EQ(p.http.requests[0].url, "https://gw:8443/cgi-bin/ReadBinaryFile.cgi");
  for (const char* s : {"Retrieving JRE image...", "Extracting JRE image...",
                        "Retrieving HMI binaries image...", "Extracting HMI binaries image..."})
    EXPECT_NE(std::find(statusSeen.begin(), statusSeen.end(), s), statusSeen.end()) << s;

  fetched.clear();
  p.archives.opened.clear();
  ASSERT_TRUE(Run());
  EXPECT_TRUE(fetched.empty());
  EXPECT_TRUE(p.archives.opened.empty());
}

// A download shows how far it has come beside the status text, which stays
// as it was; the extraction after it counts its files, and both figures go
// when their step ends.
TEST_F(DownloadTest, ProgressShowsBesideTheStatusTextAndGoesAfter) {
  constexpr uint64_t kMiB = 1024 * 1024;
  auto serve = p.http.routes["POST /cgi-bin/ReadBinaryFile.cgi"];
  std::vector<std::string> statusDuringTransfer;
  p.http.routes["POST /cgi-bin/ReadBinaryFile.cgi"] = [&](const plat::HttpRequest& r,
                                                          std::string& error) {
    // The runtime's 4 MiB arrive in four pieces, the last two close behind
    // the second; the binaries' transfer tells nothing.
    if (r.body.find("/jre/") != std::string::npos) {
      const std::pair<uint32_t, uint64_t> pieces[] = {
          {500, kMiB}, {500, 2 * kMiB}, {100, 3 * kMiB}, {100, 4 * kMiB}};
      for (const auto& [after, received] : pieces) {
        p.system.tick += after;
        r.onProgress({received, 4 * kMiB});
        statusDuringTransfer.push_back(view.status);
      }
    }
    return serve(r, error);
  };
  ASSERT_TRUE(Run()) << message;
  EXPECT_EQ(
      view.progressShown,
      (std::vector<std::string>{"1.0 of 4.0 MB (25%), 2.0 MB/s", "2.0 of 4.0 MB (50%), 2.0 MB/s",
                                // the third piece came too soon to redraw
                                "4.0 of 4.0 MB (100%), 3.3 MB/s", "", "1 of 2 files",
                                "2 of 2 files", "", "", "1 of 2 files", "2 of 2 files", ""}));
  EXPECT_EQ(statusDuringTransfer, std::vector<std::string>(4, "Retrieving JRE image..."));
  EXPECT_EQ(view.progress, "");
}

TEST_F(DownloadTest, TheTwoHalvesLookAtDifferentThingsFirst) {
  // JRE image valid but its archive missing: fetched, not extracted.
  p.files.AddFile(kJreImage + "\\bin\\javaw.exe", "MZ");
  // HMI image valid and its archive missing: nothing fetched for it.
  p.files.AddFile(kLibImage + "\\config-gui.jar", "PK");
  ASSERT_TRUE(Run()) << message;
  EXPECT_EQ(fetched, (std::vector<std::string>{"jre"}));
  EXPECT_TRUE(p.archives.opened.empty());
}

TEST_F(DownloadTest, CachedArchiveIsExtractedWithoutFetching) {
  p.files.AddFile(kJreCache, "cached");
  p.files.AddFile(kLibCache, "cached");
  ASSERT_TRUE(Run()) << message;
  EXPECT_TRUE(fetched.empty());
  EXPECT_EQ(p.archives.opened.size(), 2u);
}

TEST_F(DownloadTest, Failures) {
  jreStatus = 404;
  EXPECT_FALSE(Run());
  EXPECT_EQ(message, "Unable to download JRE archive.");
  EXPECT_FALSE(p.files.FileExists(kJreCache)); // nothing left to poison the cache

  jreStatus = 200;
  p.archives.archives[p.files.Normalize(kJreCache)] = Archive({"readme.txt"});
  EXPECT_FALSE(Run());
  EXPECT_EQ(message, "Unable to process JRE image for remote HMI.");

  p.archives.archives[p.files.Normalize(kJreCache)] = Archive({"bin/javaw.exe"});
  p.archives.archives[p.files.Normalize(kLibCache)] = Archive({"other.jar"});
  EXPECT_FALSE(Run());
  EXPECT_EQ(message, "Unable to process HMI binaries image for remote HMI.");

  p.http.Fail("POST /cgi-bin/ReadBinaryFile.cgi");
  p.files.DeleteFile(kLibCache);
  EXPECT_FALSE(Run());
  EXPECT_EQ(message, "Unable to download HMI binaries archive for remote HMI.");
}

TEST_F(DownloadTest, ACachedArchiveThatDoesNotExtractIsFetchedAfresh) {
  struct Case {
    const char* name;
    bool lib; // the HMI binaries archive rather than the JRE archive
    std::function<void(fake::FakeArchiveContent&)> spoil;
    bool raises; // else false with the message below
    bool kept;   // whether the archive stays in the cache
    const char* message;
  } cases[] = {
      {"checksum error in a later item", false,
       [](fake::FakeArchiveContent& c) { c.failOnExtractIndex = 1; }, true, false, ""},
      {"damaged", false, [](fake::FakeArchiveContent& c) { c.damaged = true; }, true, false, ""},
      {"hostile item path", false,
       [](fake::FakeArchiveContent& c) { c.items[1].path = "../../evil.jar"; }, true, false, ""},
      {"HMI binaries with a checksum error", true,
       [](fake::FakeArchiveContent& c) { c.failOnExtractIndex = 1; }, true, false, ""},
      // Sound, only without the marker: fetching it again would bring the
      // same archive.
      {"no marker", false, [](fake::FakeArchiveContent& c) { c.items[0].path = "readme.txt"; },
       false, true, "Unable to process JRE image for remote HMI."},
  };
  archiveFaultsAreTheArchives = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& cacheFile = c.lib ? kLibCache : kJreCache;
    fake::FakeArchiveContent sound =
        c.lib ? Archive({"config-gui.jar", "hmi.jar"}) : Archive({"bin/javaw.exe", "lib/rt.jar"});
    fake::FakeArchiveContent spoilt = sound;
    c.spoil(spoilt);
    p.archives.archives[p.files.Normalize(cacheFile)] = spoilt;
    p.files.AddFile(kJreCache, "cached");
    p.files.AddFile(kLibCache, "cached");
    p.files.DeleteTree(kRoot + "\\JREImage");
    p.files.DeleteTree(kRoot + "\\LIBImage");
    p.files.accessLists.clear();
    if (c.raises) {
      EXPECT_THROW(Run(), std::exception);
    } else {
      EXPECT_FALSE(Run());
      EXPECT_EQ(message, c.message);
    }
    EXPECT_EQ(p.files.FileExists(cacheFile), c.kept);
    // Read-only once it has extracted completely; one that failed stays its
    // maker's to remove.
    EXPECT_EQ(p.files.accessLists.count(p.files.Normalize(cacheFile)), c.kept ? 1u : 0u);

    p.archives.archives[p.files.Normalize(cacheFile)] = sound;
    fetched.clear();
    ASSERT_TRUE(Run()) << message;
    EXPECT_EQ(fetched, c.kept ? std::vector<std::string>{}
                              : std::vector<std::string>{c.lib ? "lib" : "jre"});
  }
}

// A damaged archive that this user may not remove (sealed, or another
// user's) would fail every launch: the operator is told where it is and
// whom to ask.
TEST_F(DownloadTest, ADamagedArchiveThisUserMayNotRemoveAsksForAnAdministrator) {
  archiveFaultsAreTheArchives = true;
  fake::FakeArchiveContent spoilt = Archive({"bin/javaw.exe", "lib/rt.jar"});
  spoilt.damaged = true;
  p.archives.archives[p.files.Normalize(kJreCache)] = spoilt;
  p.files.AddFile(kJreCache, "cached");
  p.files.denied.insert(kJreCache);
  try {
    Run();
    ADD_FAILURE() << "no error";
  } catch (const plat::AccessDenied& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("\"" + kRoot + "\\JRECache\""), std::string::npos) << what;
    EXPECT_NE(what.find("jre_v_17.0.2.zip"), std::string::npos) << what;
    EXPECT_NE(what.find("administrator"), std::string::npos) << what;
  }
  EXPECT_TRUE(p.files.FileExists(kJreCache));
}

TEST_F(DownloadTest, AnImageIsInstalledWholeOrNotAtAll) {
  // The second item fails its checksum after bin/javaw.exe has been written.
  fake::FakeArchiveContent broken = Archive({"bin/javaw.exe", "lib/rt.jar"});
  broken.failOnExtractIndex = 1;
  p.archives.archives[p.files.Normalize(kJreCache)] = broken;
  p.files.AddFile(kJreImage + "\\lib\\stale.jar", "from an earlier, broken image");
  EXPECT_THROW(Run(), plat::ArchiveError);
  // The image folder is as it was: no marker, and no scratch folder beside it.
  EXPECT_EQ(Below(kRoot + "\\JREImage"),
            (std::vector<std::string>{"v17.0.2.0", "v17.0.2.0\\lib", "v17.0.2.0\\lib\\stale.jar"}));

  // A sound archive gives an image of exactly its own files.
  p.archives.archives[p.files.Normalize(kJreCache)] = Archive({"bin/javaw.exe", "lib/rt.jar"});
  ASSERT_TRUE(Run()) << message;
  EXPECT_EQ(Below(kRoot + "\\JREImage"),
            (std::vector<std::string>{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe",
                                      "v17.0.2.0\\lib", "v17.0.2.0\\lib\\rt.jar"}));
  EXPECT_EQ(
      Below(kRoot + "\\LIBImage"),
      (std::vector<std::string>{"v4.10", "v4.10\\v410_0007", "v4.10\\v410_0007\\config-gui.jar",
                                "v4.10\\v410_0007\\hmi.jar"}));
}

TEST_F(DownloadTest, AnImageAnotherLauncherInstalledMeanwhileIsKept) {
  p.ui.onProcessMessages = [this] {
    if (view.status == "Extracting JRE image..." &&
        !p.files.FileExists(kJreImage + "\\bin\\javaw.exe"))
      p.files.AddFile(kJreImage + "\\bin\\javaw.exe", "theirs");
  };
  ASSERT_TRUE(Run()) << message;
  EXPECT_EQ(p.files.Contents(kJreImage + "\\bin\\javaw.exe"), "theirs");
  EXPECT_EQ(Below(kRoot + "\\JREImage"),
            (std::vector<std::string>{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe"}));
}

TEST_F(DownloadTest, ArchiveNamesFromTheDeviceCannotPickThePath) {
  for (const char* hostile : {"..\\..\\Windows\\evil.zip", "C:\\Windows\\evil.zip", "a/b.zip"}) {
    facts.hmiJREFile = hostile;
    EXPECT_FALSE(Run()) << hostile;
    EXPECT_EQ(message, std::string("This computer could not store the runtime images: The device "
                                   "offered an archive name that cannot be used: ") +
                           hostile);
    EXPECT_EQ(provided->failure.whose, device::Whose::ThisComputer) << hostile;
    EXPECT_TRUE(fetched.empty()) << hostile;
  }
}

TEST(VersionNames, FromArchiveFileNames) {
  struct Case {
    const char* jre;
    const char* jreVersion;
  } jres[] = {{"jre_v_17.0.2.zip", "v17.0.2.0"},
              {"jre_v_11.zip", "v11.0.0.0"},
              {"jre_v_1.8.0.392.zip", "v1.8.0.392"},
              {"jre_v_1.2.3.4.5.zip", "v1.2.3.4.5"}};
  struct LibCase {
    const char* lib;
    const char* schema;
  } libs[] = {{"lib_hmi_full_410_7_r.zip", "v410_0007"},
              {"a_b_c_410_7.zip", "v410_7.zip"},
              {"a_b_c_410_12345_x", "v410_12345"},
              {"a_b_c__7", "v_0007"}};
  for (const auto& c : jres)
    EXPECT_EQ(device::ExtractJREVersion(c.jre), c.jreVersion) << c.jre;
  for (const auto& c : libs)
    EXPECT_EQ(device::ExtractHMISchemaVersion(c.lib), c.schema) << c.lib;
  EXPECT_THROW(device::ExtractHMISchemaVersion("lib_hmi_410.zip"), std::runtime_error);
  EXPECT_EQ(device::VersionNumberPartCount("1.2.3"), 2);
}

} // namespace
