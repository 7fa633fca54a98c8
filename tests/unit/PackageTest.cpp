#include "common/DeviceAddress.h"
#include "hmi/HmiContract.h"
#include "launcher/LoginForm.h"
#include "launcher/RunElevatedUtils.h"
#include "platform/fake/FakePlatform.h"
#include "store/PackageImport.h"
#include "store/Settings.h"
#include "store/Timestamp.h"
#include "tests/support/PropertyStreamWriter.h"

#include <gtest/gtest.h>

namespace {

using launcher::TLoginForm;
using plat::ControlId;
using testsupport::PropertySpec;

const std::string kRoot = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
const std::string kSettings = kRoot + "\\ApplicationSettings.xml";
const std::string kTemp = "C:\\Users\\operator\\AppData\\Local\\Temp";
const std::string kScratch = kTemp + "\\TMP_4242_0";

TEST(Timestamp, Iso8601WithZones) {
  struct Case {
    const char* a;
    const char* b;
    int order; // sign of a - b
  } cases[] = {
      {"2026-05-01T10:00:00Z", "2026-05-01T10:00:01Z", -1},
      {"2026-05-01T12:00:00+02:00", "2026-05-01T10:00:00Z", 0},
      {"2026-05-01T10:00:00", "2026-05-01T10:00:00Z", 0},
      {"2026-05-01T09:30:00-01:00", "2026-05-01T10:00:00Z", 1},
      {"2026-05-01", "2026-05-01T00:00:00Z", 0},
      {"20260501T100000Z", "2026-05-01T10:00:00Z", 0},
      {"2026-05-01T10:00:00.250Z", "2026-05-01T10:00:00.2Z", 1},
      {"2024-02-29T00:00Z", "2024-03-01T00:00Z", -1},
      {"2026-12-31T23:59:59+0100", "2026-12-31T22:59:59Z", 0},
  };
  for (const Case& c : cases) {
    int64_t d = store::ParseIso8601(c.a) - store::ParseIso8601(c.b);
    EXPECT_EQ((d > 0) - (d < 0), c.order) << c.a << " vs " << c.b;
  }
  for (const char* bad : {"", "yesterday", "2026-13-01", "2026-02-30", "2026-05-01T25:00",
                          "2026-05-01T10:00:00+", "2026-05-01X", "26-05-01"})
    EXPECT_THROW(store::ParseIso8601(bad), std::invalid_argument) << bad;
}

class PackageTest : public ::testing::Test {
protected:
  PackageTest() { form.Create(p.toolkit); }

  static std::vector<PropertySpec> Props(std::string timestamp = "2026-05-01T10:00:00Z") {
    return {{"timestamp", 0x1E, timestamp},
            {"compatibility level", 0x1E, "1"},
            {"package type", 0x1E, "VeltraDynamicRemoteHMIArchive"},
            {"jre version", 0x1E, "17.0.2.0"},
            {"product type", 0x1E, "full"},
            {"release version", 0x1E, "4.10"}};
  }
  // A package file at `path` whose Contents holds the given image files.
  void AddPackage(const std::string& path, const std::vector<PropertySpec>& props,
                  std::vector<std::string> contentFiles = {"jre/bin/javaw.exe",
                                                           "lib/config-gui.jar", "lib/hmi.jar"}) {
    p.storage.Add(path, {{u"\x0005"
                          u"DocumentSummaryInformation",
                          testsupport::PropertyStream(props)},
                         {u"Contents", "7z"}});
    fake::FakeArchiveContent compound;
    compound.format = "Compound";
    compound.items = {{"Contents", false}, {"[5]DocumentSummaryInformation", false}};
    compound.data = {"7z-bytes", "props"};
    p.archives.archives["content:" + p.files.Contents(path)] = compound;
    contentsByPackage[p.files.Normalize(path)] =
        fake::FakeArchiveContent::Files("7z", contentFiles);
  }
  bool Import(const std::string& path) {
    // The scratch Contents file is what the package extraction writes; the
    // fake library opens it with the contents registered for this package.
    p.archives.archives[p.files.Normalize(kScratch + "\\Contents")] =
        contentsByPackage[p.files.Normalize(path)];
    message = "unset";
    store::StoreContext c = form.Store();
    return store::ImportPackage(c, path, message);
  }
  fake::FakeFormView& view() { return *p.toolkit.view; }
  std::vector<std::string> Below(const std::string& folder) const { return p.files.Below(folder); }

  fake::FakePlatform p;
  launcher::LauncherGlobals g;
  TLoginForm form{p.services, g};
  std::map<std::string, fake::FakeArchiveContent> contentsByPackage;
  std::string message;
};

TEST_F(PackageTest, ImportInstallsBothImagesAndCleansUp) {
  AddPackage("C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip", Props());
  ASSERT_TRUE(Import("C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip")) << message;
  EXPECT_EQ(message, "");
  EXPECT_TRUE(p.files.FileExists(kRoot + "\\PackageCache\\Q614_410.VeltraDynamicRemoteHMI.KL7zip"));
  EXPECT_TRUE(p.files.FileExists(kRoot + "\\JREImage\\v17.0.2.0\\bin\\javaw.exe"));
  EXPECT_TRUE(p.files.FileExists(kRoot + "\\LIBImage\\v4.10\\full\\config-gui.jar"));
  EXPECT_TRUE(p.files.FileExists(kRoot + "\\LIBImage\\v4.10\\full\\hmi.jar"));
  EXPECT_FALSE(p.files.DirectoryExists(kScratch));
  EXPECT_EQ(view().Text(ControlId::statusBar), "");
  // The package was opened as a compound document, its Contents as 7z.
  EXPECT_EQ(p.archives.opened.front().rfind("Compound " + kRoot + "\\PackageCache\\", 0), 0u);
  EXPECT_EQ(p.archives.opened.back(), "7z " + kScratch + "\\Contents");
  // Nothing but the package and the images is left in the cache.
  EXPECT_EQ(Below(kRoot + "\\PackageCache"),
            std::vector<std::string>{"q614_410.veltradynamicremotehmi.kl7zip"});
  EXPECT_EQ(Below(kRoot + "\\JREImage"),
            (std::vector<std::string>{"v17.0.2.0", "v17.0.2.0\\bin", "v17.0.2.0\\bin\\javaw.exe"}));
}

TEST_F(PackageTest, ImportMessagesInTheOrderOfTheTests) {
  auto with = [](std::string name, std::string value) {
    auto props = Props();
    for (auto& pr : props)
      if (pr.name == name)
        pr.value = value;
    return props;
  };
  auto without = [](std::string name) {
    auto props = Props();
    props.erase(std::remove_if(props.begin(), props.end(),
                               [&](const PropertySpec& pr) { return pr.name == name; }),
                props.end());
    return props;
  };
  auto asNumber = [](std::string name) {
    auto props = Props();
    for (auto& pr : props)
      if (pr.name == name) {
        pr.type = 0x0003;
        pr.value = "1";
      }
    return props;
  };
  const std::string notValid = "Selected file is NOT a valid Veltra Dynamic Remote HMI package.";
  const std::string unsupported =
      "This package is not supported in the current version of this tool.";
  struct Case {
    const char* name;
    std::vector<PropertySpec> props;
    std::string message;
  } cases[] = {
      {"missing timestamp", without("timestamp"), notValid},
      {"missing product type", without("product type"), notValid},
      {"level as a number", asNumber("compatibility level"), notValid},
      {"level 2", with("compatibility level", "2"), unsupported},
      {"level 2 and wrong type",
       [&] {
         auto pr = with("compatibility level", "2");
         pr[2].value = "Other";
         return pr;
       }(),
       unsupported},
      {"type in other case", with("package type", "veltradynamicremotehmiarchive"), notValid},
      {"blank jre version", with("jre version", "   "), notValid},
      {"blank product type", with("product type", ""), notValid},
  };
  for (const Case& c : cases) {
    const std::string path = std::string("C:\\in\\") + c.name + ".KL7zip";
    AddPackage(path, c.props);
    EXPECT_FALSE(Import(path)) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
  }
  p.files.AddFile("C:\\in\\plain.KL7zip", "not a compound file");
  EXPECT_FALSE(Import("C:\\in\\plain.KL7zip"));
  EXPECT_EQ(message, notValid);
  // Nothing was copied into the cache by any refused package.
  for (const std::string& f : p.files.AllFiles())
    EXPECT_EQ(f.find("packagecache"), std::string::npos) << f;
}

TEST_F(PackageTest, SamePackageTwiceIsAlreadyInstalledNewerReplaces) {
  const std::string pkg = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  AddPackage(pkg, Props("2026-05-01T10:00:00Z"));
  ASSERT_TRUE(Import(pkg));
  p.files.journal.clear();
  EXPECT_FALSE(Import(pkg));
  EXPECT_EQ(message, "This package or a more recent version is already installed.");
  for (const std::string& op : p.files.journal)
    EXPECT_TRUE(op.rfind("exists", 0) == 0 || op.rfind("read", 0) == 0 || op.rfind("mkdir", 0) == 0)
        << op;

  // A later time stamp (in another zone) replaces the HMI image; the valid
  // JRE image of the same name is left alone.
  p.files.AddFile(kRoot + "\\JREImage\\v17.0.2.0\\marker", "kept");
  p.files.AddFile(kRoot + "\\LIBImage\\v4.10\\full\\old.jar", "gone");
  AddPackage(pkg, Props("2026-05-01T12:00:01+02:00"));
  ASSERT_TRUE(Import(pkg)) << message;
  EXPECT_TRUE(p.files.FileExists(kRoot + "\\JREImage\\v17.0.2.0\\marker"));
  EXPECT_FALSE(p.files.FileExists(kRoot + "\\LIBImage\\v4.10\\full\\old.jar"));

  // The same instant written differently is not newer.
  AddPackage(pkg, Props("2026-05-01T10:00:01Z"));
  EXPECT_FALSE(Import(pkg));
}

TEST_F(PackageTest, BadTimestampOfAnInstalledPackageIsAnError) {
  const std::string pkg = "C:\\in\\a.KL7zip";
  AddPackage(pkg, Props("not a date"));
  ASSERT_TRUE(Import(pkg)); // nothing to compare with yet
  AddPackage(pkg, Props("2026-05-01T10:00:00Z"));
  EXPECT_THROW(Import(pkg), std::invalid_argument);
}

TEST_F(PackageTest, AFailedImportLeavesNoCachedPackageAndNoScratch) {
  const std::string pkg = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  AddPackage(pkg, Props(), {"jre/bin/javaw.exe", "lib/readme.txt"});
  EXPECT_FALSE(Import(pkg));
  EXPECT_EQ(message, "Unable to extract HMI binaries image.");
  EXPECT_EQ(Below(kRoot + "\\PackageCache"), std::vector<std::string>{});
  EXPECT_EQ(Below(kRoot + "\\LIBImage"), (std::vector<std::string>{"v4.10", "v4.10\\full"}));
  EXPECT_FALSE(p.files.DirectoryExists(kScratch));
  // So the package, put right, is not refused as already installed.
  AddPackage(pkg, Props());
  ASSERT_TRUE(Import(pkg)) << message;

  auto otherJre = Props("2027-01-01");
  otherJre[3].value = "99"; // a JRE image that is not installed yet
  AddPackage("C:\\in\\nojre.KL7zip", otherJre, {"lib/config-gui.jar"});
  EXPECT_THROW(Import("C:\\in\\nojre.KL7zip"), plat::PlatformError); // no "jre" folder
  EXPECT_FALSE(p.files.DirectoryExists(kScratch));
  EXPECT_EQ(view().Text(ControlId::statusBar), "");

  AddPackage("C:\\in\\badjre.KL7zip", otherJre, {"jre/README", "lib/config-gui.jar"});
  EXPECT_FALSE(Import("C:\\in\\badjre.KL7zip"));
  EXPECT_EQ(message, "Unable to extract JRE image.");
  EXPECT_EQ(Below(kRoot + "\\JREImage\\v99"), std::vector<std::string>{});
  EXPECT_EQ(Below(kRoot + "\\PackageCache"),
            std::vector<std::string>{"q614_410.veltradynamicremotehmi.kl7zip"});
}

TEST_F(PackageTest, ANewerPackageThatFailsLeavesTheInstalledOneWhole) {
  const std::string pkg = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  const std::string cached = kRoot + "\\PackageCache\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  AddPackage(pkg, Props("2026-05-01T10:00:00Z"));
  ASSERT_TRUE(Import(pkg)) << message;
  const std::string installed = p.files.Contents(cached);

  AddPackage(pkg, Props("2026-06-01T10:00:00Z"), {"jre/bin/javaw.exe", "lib/readme.txt"});
  EXPECT_FALSE(Import(pkg));
  EXPECT_EQ(message, "Unable to extract HMI binaries image.");
  EXPECT_EQ(p.files.Contents(cached), installed);
  EXPECT_EQ(Below(kRoot + "\\LIBImage"),
            (std::vector<std::string>{"v4.10", "v4.10\\full", "v4.10\\full\\config-gui.jar",
                                      "v4.10\\full\\hmi.jar"}));
  std::string jre, lib;
  store::StoreContext c = form.Store();
  EXPECT_TRUE(store::IsPackageImageValid(c, cached, jre, lib));
}

TEST_F(PackageTest, APackageThatWouldUnpackBeyondTheRoomIsRefused) {
  const std::string pkg = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  const std::string refused = "The archive Q614_410.VeltraDynamicRemoteHMI.KL7zip would unpack to "
                              "1 MB, more than the 0 MB free on the disk.";
  struct Case {
    const char* name;
    uint64_t freeOnTemp; // the temporary folder is on D:
    uint64_t freeOnCache;
  } cases[] = {
      {"the package's own streams", 5, 1 << 20},
      {"its Contents in the temporary folder", 20, 1 << 20},
      {"the images copied into the cache", 1 << 20, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    p.files.drives.insert("d:");
    p.files.CreateDirectories("D:\\Temp");
    p.system.tempFolder = "D:\\Temp";
    p.files.freeBytes["d:"] = c.freeOnTemp;
    p.files.freeBytes["c:"] = c.freeOnCache;
    AddPackage(pkg, Props());
    p.archives.archives[p.files.Normalize("D:\\Temp\\TMP_4242_0\\Contents")] =
        contentsByPackage[p.files.Normalize(pkg)];
    message = "unset";
    store::StoreContext sc = form.Store();
    EXPECT_FALSE(store::ImportPackage(sc, pkg, message));
    EXPECT_EQ(message, refused);
    EXPECT_EQ(Below(kRoot + "\\PackageCache"), std::vector<std::string>{});
    EXPECT_FALSE(p.files.FileExists(kRoot + "\\JREImage\\v17.0.2.0\\bin\\javaw.exe"));
    EXPECT_EQ(Below("D:\\Temp"), std::vector<std::string>{});
  }
}

TEST_F(PackageTest, PropertyValuesThatAreNotFolderNamesAreErrors) {
  auto props = Props();
  props[5].value = "..\\..\\x"; // release version
  AddPackage("C:\\in\\evil.KL7zip", props);
  EXPECT_THROW(Import("C:\\in\\evil.KL7zip"), std::invalid_argument);
  EXPECT_FALSE(p.files.DirectoryExists(kScratch));
}

// --- the settings file ---------------------------------------------------------

TEST_F(PackageTest, SettingsReadAndSave) {
  store::StoreContext c = form.Store();
  bool error = true;
  EXPECT_EQ(store::GetPackageFolderValue(c, error), "");
  EXPECT_FALSE(error);
  store::SavePackageFolderValue(c, "C:\\pkgs");
  EXPECT_FALSE(p.files.FileExists(kSettings)); // never created

  p.files.AddFile(kSettings, "<Settings><PackageFolder baseURI=\" C:\\pkgs \"/></Settings>");
  EXPECT_EQ(store::GetPackageFolderValue(c, error), " C:\\pkgs ");
  EXPECT_FALSE(error);
  store::SavePackageFolderValue(c, "");
  EXPECT_EQ(store::GetPackageFolderValue(c, error), "");
  EXPECT_FALSE(error);
  EXPECT_EQ(view().Text(ControlId::statusBar), "");

  for (const char* bad : {"", "not xml", "<Settings><PackageFolder/></Settings>"}) {
    p.files.AddFile(kSettings, bad);
    view().SetVisible(ControlId::btnBrowse, true);
    view().SetText(ControlId::statusBar, "");
    EXPECT_EQ(store::GetPackageFolderValue(c, error), "") << bad;
    EXPECT_TRUE(error) << bad;
    EXPECT_EQ(view().Text(ControlId::statusBar), "Invalid application settings file.") << bad;
    EXPECT_FALSE(view().Visible(ControlId::btnBrowse)) << bad;
    store::SavePackageFolderValue(c, "C:\\x");
    EXPECT_EQ(view().Text(ControlId::statusBar), "Error saving application settings file.") << bad;
    EXPECT_EQ(p.files.Contents(kSettings), bad);
  }

  // The settings file is the machine's: a user who may not write beside it
  // is told whom to ask, and the file stays.
  const std::string good = "<Settings><PackageFolder baseURI=\"C:\\pkgs\"/></Settings>";
  p.files.AddFile(kSettings, good);
  p.files.denied.insert(kSettings + ".tmp");
  store::SavePackageFolderValue(c, "C:\\x");
  EXPECT_EQ(view().Text(ControlId::statusBar),
            "The package folder of this computer can only be changed by an administrator.");
  EXPECT_EQ(p.files.Contents(kSettings), good);
}

// --- the package branch of verification ---------------------------------------

class ProvisionTest : public PackageTest {
protected:
  ProvisionTest() {
    SetDevice("Q614", "Build Release 410");
    g.enableDownload = false;
  }
  // The device as verification found it: its model and its build banner.
  void SetDevice(const char* model, const char* banner) {
    device.deviceType = model;
    addr::ExtractReleaseVersion(banner, device.releaseVersion, device.releaseVersionAsInt);
  }
  bool Provide() {
    p.archives.archives[p.files.Normalize(kScratch + "\\Contents")] =
        contentsByPackage[p.files.Normalize("C:\\pkgs\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip")];
    message = "unset";
    store::StoreContext c = form.Store();
    images = {};
    return store::ProvideImagesFromPackage(c, device, g, images, message);
  }

  store::DeviceRelease device;
  store::PackageImages images;
};

TEST_F(ProvisionTest, PackageNameFollowsTheRelease) {
  struct Case {
    const char* banner;
    const char* model;
    const char* name;
    bool hostInCaption;
  } cases[] = {
      {"Release 310", "Q627", "Veltra_310.VeltraDynamicRemoteHMI.KL7zip", true},
      {"Release 250", "q614", "q614_250.VeltraDynamicRemoteHMI.KL7zip", true},
      {"Release 230", "Q614", "Q614_230.VeltraDynamicRemoteHMI.KL7zip", false},
  };
  for (const Case& c : cases) {
    SetDevice(c.model, c.banner);
    g.enableDownload = true;
    EXPECT_FALSE(Provide());
    EXPECT_EQ(store::PackageNameFor(device), c.name);
    EXPECT_EQ(hmi::IncludesHostInLoginCaption(false, device.releaseVersionAsInt), c.hostInCaption)
        << c.banner;
  }
  EXPECT_EQ(message, "Please contact Norwick Brann Technical Support to obtain a remote dynamic "
                     "HMI package for Q614v2.30.");
}

TEST_F(ProvisionTest, FromThePackageFolderThroughTheCache) {
  p.files.AddFile(kSettings, "<S><PackageFolder baseURI=\"C:\\pkgs\"/></S>");
  AddPackage("C:\\pkgs\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip", Props());
  ASSERT_TRUE(Provide()) << message;
  EXPECT_EQ(images.jreImageFolder, kRoot + "\\JREImage\\v17.0.2.0");
  EXPECT_EQ(images.libImageFolder, kRoot + "\\LIBImage\\v4.10\\full");
  EXPECT_EQ(store::PackageDeviceType(device), "Veltra");
  EXPECT_FALSE(p.files.FileExists(kTemp + "\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip"));
  EXPECT_FALSE(p.files.DirectoryExists(kScratch));

  // Cached now: the settings file is not even read again.
  p.files.DeleteFile(kSettings);
  ASSERT_TRUE(Provide()) << message;
}

TEST_F(ProvisionTest, PackageFolderMessages) {
  struct Case {
    const char* settings;
    const char* message;
  } cases[] = {
      {"garbage", "Invalid application settings file."},
      {"<S><PackageFolder baseURI=\"\"/></S>", "Package folder not configured."},
      {"<S><PackageFolder baseURI=\"C:\\nowhere\"/></S>",
       "Configured package folder does not exist."},
      {"<S><PackageFolder baseURI=\"C:\\empty\"/></S>",
       "Package folder does not contain a remote dynamic HMI package for Veltrav4.10."},
      // A value the file system cannot look up is no missing folder.
      {"<S><PackageFolder baseURI=\"C:\\bad|name\"/></S>", "Unable to access package folder."},
      {"<S><PackageFolder baseURI=\"C:\\pk*s\"/></S>", "Unable to access package folder."},
  };
  p.files.CreateDirectories("C:\\empty");
  for (const Case& c : cases) {
    p.files.AddFile(kSettings, c.settings);
    device.deviceType = "Q614";
    EXPECT_FALSE(Provide()) << c.settings;
    EXPECT_EQ(message, c.message) << c.settings;
  }
}

TEST_F(ProvisionTest, CopyFailureAndInvalidPackage) {
  const std::string source = "C:\\pkgs\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip";
  p.files.AddFile(kSettings, "<S><PackageFolder baseURI=\"C:\\pkgs\"/></S>");
  AddPackage(source, Props());
  p.files.unwritable.insert(kTemp + "\\PKG_4242_0\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip");
  EXPECT_FALSE(Provide());
  EXPECT_EQ(message, "Unable to copy remote dynamic HMI package for Veltrav4.10 from the package "
                     "folder.");
  EXPECT_EQ(Below(kTemp), std::vector<std::string>{});
  p.files.unwritable.clear();

  // Imported but its HMI image does not install: nothing is cached, so the
  // next attempt imports again and meets the same fault.
  AddPackage(source, Props(), {"jre/bin/javaw.exe", "lib/nothing.txt"});
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(Provide());
    EXPECT_EQ(message, "Unable to extract HMI binaries image.");
  }

  // A cached package whose images are gone is not valid.
  AddPackage(source, Props());
  ASSERT_TRUE(Provide()) << message;
  p.files.DeleteFile(kRoot + "\\LIBImage\\v4.10\\full\\config-gui.jar");
  EXPECT_FALSE(Provide());
  EXPECT_EQ(message, "Please contact Norwick Brann Technical Support to obtain a valid remote "
                     "dynamic HMI package for Veltrav4.10.");
}

TEST_F(ProvisionTest, TheCopyFromThePackageFolderIsAScratchOfItsOwn) {
  p.files.AddFile(kSettings, "<S><PackageFolder baseURI=\"C:\\pkgs\"/></S>");
  AddPackage("C:\\pkgs\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip", Props());
  // Another launcher's copy of the same package, in the middle of its import.
  const std::string theirs = kTemp + "\\Veltra_410.VeltraDynamicRemoteHMI.KL7zip";
  p.files.AddFile(theirs, "another launcher's copy");
  ASSERT_TRUE(Provide()) << message;
  EXPECT_EQ(p.files.Contents(theirs), "another launcher's copy");
  EXPECT_EQ(Below(kTemp), std::vector<std::string>{"veltra_410.veltradynamicremotehmi.kl7zip"});
}

// --- the window's package-folder controls -------------------------------------

TEST(PackageFolderControls, StartUpInPackageMode) {
  struct Case {
    const char* settings;
    bool elevated;
    bool developer;
    bool browse;
    const char* status;
  } cases[] = {
      {"<S><PackageFolder baseURI=\"\"/></S>", false, false, false,
       "Package folder not configured."},
      {"<S><PackageFolder baseURI=\"C:\\gone\"/></S>", true, false, true,
       "Configured package folder does not exist."},
      {"<S><PackageFolder baseURI=\"C:\\work\"/></S>", false, true, true, ""},
      {"", true, false, false, "Invalid application settings file."},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    launcher::LauncherGlobals fg;
    TLoginForm f(fp.services, fg);
    fp.files.AddFile(kSettings, c.settings);
    fp.security.elevated = c.elevated;
    if (c.developer)
      fp.system.environment["KLOX_DATA_DIR"] = "1";
    f.Create(fp.toolkit);
    auto& v = *fp.toolkit.view;
    EXPECT_FALSE(fg.enableDownload);
    EXPECT_FALSE(v.Visible(ControlId::btnImportPackage)) << c.settings;
    EXPECT_TRUE(v.Visible(ControlId::edtPackageFolder)) << c.settings;
    EXPECT_EQ(v.Visible(ControlId::btnBrowse), c.browse) << c.settings;
    EXPECT_EQ(v.Text(ControlId::statusBar), c.status) << c.settings;
  }
}

TEST(PackageFolderControls, ElevationCheck) {
  fake::FakePlatform fp;
  fp.security.elevated = std::nullopt; // token would not open
  EXPECT_FALSE(launcher::IsElevated(fp.services));
  fp.security.elevated = true;
  EXPECT_TRUE(launcher::IsElevated(fp.services));
  fp.security.major = 5; // before elevation existed: group membership decides
  fp.security.admin = false;
  EXPECT_FALSE(launcher::IsElevated(fp.services));
}

TEST_F(PackageTest, BrowseSavesOrChangesNothing) {
  p.files.AddFile(kSettings, "<S><PackageFolder baseURI=\"C:\\old\"/></S>");
  p.ui.folderAnswers = {std::nullopt, std::string("C:\\new")};
  view().SetText(ControlId::statusBar, "before");
  view().Click(ControlId::btnBrowse);
  EXPECT_EQ(p.ui.folderRequests.at(0),
            std::make_pair(std::string("Select folder where Veltra Dynamic Remote HMI packages are "
                                       "stored"),
                           std::string("Select")));
  EXPECT_EQ(view().Text(ControlId::statusBar), "before");
  EXPECT_NE(p.files.Contents(kSettings).find("C:\\old"), std::string::npos);
  view().Click(ControlId::btnBrowse);
  EXPECT_EQ(view().Text(ControlId::edtPackageFolder), "C:\\new");
  EXPECT_EQ(view().Text(ControlId::statusBar), "");
  EXPECT_NE(p.files.Contents(kSettings).find("C:\\new"), std::string::npos);
}

TEST_F(PackageTest, ImportButtonShowsTheOutcome) {
  AddPackage("C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip", Props());
  p.archives.archives[p.files.Normalize(kScratch + "\\Contents")] =
      contentsByPackage[p.files.Normalize("C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip")];
  p.ui.fileAnswers = {std::nullopt, std::string("C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip"),
                      std::string("C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip")};
  view().Click(ControlId::btnImportPackage);
  EXPECT_TRUE(p.ui.messages.empty());
  EXPECT_EQ(p.ui.fileRequests.at(0),
            std::make_pair(std::string("Select Veltra Dynamic Remote HMI package"),
                           std::string("Veltra Dynamic Remote HMI Packages|"
                                       "*.VeltraDynamicRemoteHMI.KL7zip")));
  view().Click(ControlId::btnImportPackage);
  ASSERT_EQ(p.ui.messages.size(), 1u);
  EXPECT_EQ(p.ui.messages[0].kind, plat::MessageKind::Information);
  EXPECT_EQ(p.ui.messages[0].text, "Imported package successfully");
  view().Click(ControlId::btnImportPackage);
  EXPECT_EQ(p.ui.messages[1].kind, plat::MessageKind::Error);
  EXPECT_EQ(p.ui.messages[1].text, "This package or a more recent version is already installed.");
}

// An import fills the machine's images: it waits for another launcher's
// provisioning to end, and Launch stays inert until it is done.
TEST_F(PackageTest, ImportHoldsTheRuntimeImagesLockAndRefusesALaunchMeanwhile) {
  const std::string package = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  AddPackage(package, Props());
  p.archives.archives[p.files.Normalize(kScratch + "\\Contents")] =
      contentsByPackage[p.files.Normalize(package)];
  p.ui.fileAnswers = {package};
  // Another launcher holds the lock for the first wait step.
  p.system.locksHeldElsewhere.insert(store::kRuntimeImagesLock);
  std::vector<std::string> statusWhileWaiting;
  bool launchEnabled = true;
  p.ui.onProcessMessages = [&] {
    if (p.system.locksHeldElsewhere.erase(store::kRuntimeImagesLock) > 0)
      statusWhileWaiting.push_back(view().Text(ControlId::statusBar));
    if (p.system.locksHeld.count(store::kRuntimeImagesLock) > 0) {
      launchEnabled = launchEnabled && view().Enabled(ControlId::btnLaunch);
      view().Type(ControlId::edtHost, "gw");
      view().Click(ControlId::btnLaunch);
    }
  };
  view().Click(ControlId::btnImportPackage);
  ASSERT_EQ(p.ui.messages.size(), 1u);
  EXPECT_EQ(p.ui.messages[0].text, "Imported package successfully");
  EXPECT_EQ(
      statusWhileWaiting,
      std::vector<std::string>{"Waiting for another launcher to provide the runtime images..."});
  EXPECT_EQ(p.system.lockJournal,
            (std::vector<std::string>{std::string("lock ") + store::kRuntimeImagesLock,
                                      std::string("unlock ") + store::kRuntimeImagesLock}));
  EXPECT_FALSE(launchEnabled);
  EXPECT_TRUE(p.http.requests.empty());
  EXPECT_TRUE(view().Enabled(ControlId::btnLaunch));
}

// The window closed while an import unpacks the package: the import stops
// there, cleans up as after a failure, says nothing and installs nothing.
TEST_F(PackageTest, AnImportClosedWhileItUnpacksStopsWithoutAWord) {
  const std::string package = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  AddPackage(package, Props());
  p.archives.archives[p.files.Normalize(kScratch + "\\Contents")] =
      contentsByPackage[p.files.Normalize(package)];
  p.ui.fileAnswers = {package};
  p.archives.onExtractItem = [&](const std::string& target) {
    if (target.find("config-gui.jar") != std::string::npos)
      view().CloseBox();
  };
  view().Click(ControlId::btnImportPackage);
  EXPECT_TRUE(p.ui.messages.empty());
  EXPECT_FALSE(p.files.DirectoryExists(kScratch));
  EXPECT_TRUE(p.system.locksHeld.empty());
  EXPECT_FALSE(
      p.files.FileExists(kRoot + "\\PackageCache\\Q614_410.VeltraDynamicRemoteHMI.KL7zip"));
  EXPECT_FALSE(p.files.FileExists(kRoot + "\\JREImage\\v17.0.2.0\\bin\\javaw.exe"));
}

// An import that waited for another launcher and then fails before its first
// own status text (a file that is no package, a package already installed)
// leaves no waiting text in the status bar.
TEST_F(PackageTest, AFailedImportAfterAWaitLeavesNoWaitingText) {
  const std::string package = "C:\\in\\Q614_410.VeltraDynamicRemoteHMI.KL7zip";
  AddPackage(package, Props());
  Import(package);
  p.files.AddFile("C:\\in\\notes.KL7zip", "not a compound file");
  struct Case {
    std::string file;
    const char* message;
  } cases[] = {
      {"C:\\in\\notes.KL7zip", "Selected file is NOT a valid Veltra Dynamic Remote HMI package."},
      {package, "This package or a more recent version is already installed."},
  };
  for (const Case& c : cases) {
    p.ui.fileAnswers = {c.file};
    p.ui.messages.clear();
    p.system.locksHeldElsewhere.insert(store::kRuntimeImagesLock);
    p.ui.onProcessMessages = [&] { p.system.locksHeldElsewhere.erase(store::kRuntimeImagesLock); };
    view().Click(ControlId::btnImportPackage);
    ASSERT_EQ(p.ui.messages.size(), 1u) << c.file;
    EXPECT_EQ(p.ui.messages[0].text, c.message);
    EXPECT_EQ(view().Text(ControlId::statusBar), "") << c.file;
  }
}

} // namespace
