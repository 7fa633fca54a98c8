// Packages and the package folder as an operator handles them: the real
// launcher, its file dialog and folder picker driven by typing a path and
// pressing the dialog's button, and the images the launcher installs in its
// machine-wide folder.
//
// Under Wine 8 the dialogs take a typed path through WM_SETTEXT on their
// file-name box (the edit inside combo box 1148 of the file dialog, edit 1152
// of the folder picker) and a click on the button with id IDOK, the folder
// picker's "Select". The file dialog takes the path only with backslashes.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"

#include "platform/win32/Win32Storage.h"

#include <objbase.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

using plat::ControlId;
using testing::ElementsAre;
using testing::IsEmpty;
using winetest::CleanAppFolder;
using winetest::DeviceSimulator;
using winetest::Launcher;
using winetest::TempFolder;
using winetest::WaitUntil;

constexpr const char* kOpenDialogTitle = "Select Veltra Dynamic Remote HMI package";
constexpr const char* kFolderPickerTitle =
    "Select folder where Veltra Dynamic Remote HMI packages are stored";
constexpr int kFileNameBox = 1148;   // the file dialog's file-name combo box
constexpr int kFolderNameBox = 1152; // the folder picker's file-name edit box
constexpr const char* kPackageName = "Veltra_410.VeltraDynamicRemoteHMI.KL7zip";
constexpr const char* kNotAPackage =
    "Selected file is NOT a valid Veltra Dynamic Remote HMI package.";

// Where the test package puts its images: jre version 17.0.9, release 4.10,
// product type Q614.
const fs::path kPackagedJavaw = fs::path(L"JREImage") / L"v17.0.9" / L"bin" / L"javaw.exe";
const fs::path kPackagedConfigGui = fs::path(L"LIBImage") / L"v4.10" / L"Q614" / L"config-gui.jar";
const fs::path kCachedPackage = fs::path(L"PackageCache") / kPackageName;

// Made at build time by cmake/windows.d/launcher-e2e-testdata.cmake.
fs::path TestData(const std::string& relative) {
  return winetest::WindowsPath(std::string(VELTRA_LAUNCHER_TESTDATA) + "/" + relative);
}

// One of the test packages: good, wrongcase or numeric.
fs::path Package(const std::string& kind) {
  return TestData("packages/" + kind + "/" + kPackageName);
}

// Presses Import Package, types `file` into the file dialog and opens it.
void ImportThroughTheDialog(Launcher& launcher, const fs::path& file) {
  launcher.Click(ControlId::btnImportPackage);
  HWND dialog = launcher.WaitForDialog(kOpenDialogTitle);
  Launcher::SetDialogItemText(dialog, kFileNameBox, file.string());
  Launcher::ClickDialogButton(dialog, IDOK);
  launcher.WaitUntilGone(dialog);
}

// The text of the box the action ends with; presses its OK.
std::string BoxText(Launcher& launcher) {
  HWND box = launcher.WaitForMessageBox();
  // The launcher's thread may have been busy long enough to count as hung
  // until it takes a message; reading the box would fail before that.
  launcher.WaitUntilIdle();
  EXPECT_EQ(Launcher::MessageBoxCaption(box), "Veltra Dynamic Remote HMI");
  std::string text = Launcher::MessageBoxText(box);
  launcher.PressOk(box);
  return text;
}

void ExpectPackagedImages(const CleanAppFolder& app) {
  EXPECT_EQ(winetest::FileContents(app.Path() / kPackagedJavaw),
            winetest::FileContents(TestData("trees/package/jre/bin/javaw.exe")));
  EXPECT_EQ(winetest::FileContents(app.Path() / kPackagedConfigGui),
            winetest::FileContents(TestData("trees/package/lib/config-gui.jar")));
}

std::string SettingsXml(const std::string& packageFolder) {
  return "<Settings><PackageFolder baseURI=\"" + packageFolder + "\"/></Settings>";
}

// Writes the settings file that puts the launcher in package mode.
void WriteSettings(const CleanAppFolder& app, const std::string& content) {
  fs::create_directories(app.Path());
  HANDLE h = CreateFileW((app.Path() / L"ApplicationSettings.xml").c_str(), GENERIC_WRITE, 0,
                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  BOOL ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(h);
  ASSERT_TRUE(ok && written == content.size());
}

// The package folder as the settings file holds it, read by an XML parser.
std::string SavedPackageFolder(const CleanAppFolder& app) {
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string value;
  try {
    value = plat::win32::CreateWin32XmlFile()->ReadFirst(
        (app.Path() / L"ApplicationSettings.xml").string(), "//PackageFolder/@baseURI");
  } catch (...) {
    if (SUCCEEDED(com))
      CoUninitialize();
    throw;
  }
  if (SUCCEEDED(com))
    CoUninitialize();
  return value;
}

class LauncherPackage : public testing::Test {
protected:
  CleanAppFolder app_;
};

// --- Import Package ---

TEST_F(LauncherPackage, ImportInstallsTheImagesAndRefusesTheSamePackageAgain) {
  Launcher launcher;
  launcher.WaitUntilShown();

  ImportThroughTheDialog(launcher, Package("good"));
  EXPECT_EQ(BoxText(launcher), "Imported package successfully");
  ExpectPackagedImages(app_);
  EXPECT_EQ(winetest::FileContents(app_.Path() / kCachedPackage),
            winetest::FileContents(Package("good")));
  EXPECT_EQ(launcher.Text(ControlId::statusBar), "");

  ImportThroughTheDialog(launcher, Package("good"));
  EXPECT_EQ(BoxText(launcher), "This package or a more recent version is already installed.");
  ExpectPackagedImages(app_);
}

struct InvalidPackageCase {
  const char* name;
  const char* kind;
};

void PrintTo(const InvalidPackageCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherPackageInvalid : public LauncherPackage,
                               public testing::WithParamInterface<InvalidPackageCase> {};

TEST_P(LauncherPackageInvalid, IsRefusedAndInstallsNothing) {
  Launcher launcher;
  launcher.WaitUntilShown();
  ImportThroughTheDialog(launcher, Package(GetParam().kind));
  EXPECT_EQ(BoxText(launcher), kNotAPackage);
  EXPECT_THAT(app_.Files(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Launcher, LauncherPackageInvalid,
                         testing::Values(
                             // The package type is compared exactly.
                             InvalidPackageCase{"PackageTypeInOtherLetterCase", "wrongcase"},
                             // Only text properties count: a number is as good as a missing one.
                             InvalidPackageCase{"CompatibilityLevelStoredAsNumber", "numeric"}),
                         [](const testing::TestParamInfo<InvalidPackageCase>& info) {
                           return info.param.name;
                         });

TEST_F(LauncherPackage, CancellingTheFileDialogChangesNothing) {
  Launcher launcher;
  launcher.WaitUntilShown();
  launcher.Click(ControlId::btnImportPackage);
  HWND dialog = launcher.WaitForDialog(kOpenDialogTitle);
  Launcher::SetDialogItemText(dialog, kFileNameBox, Package("good").string());
  Launcher::ClickDialogButton(dialog, IDCANCEL);
  launcher.WaitUntilGone(dialog);

  launcher.WaitUntilIdle();
  EXPECT_EQ(launcher.FindMessageBox(), nullptr);
  EXPECT_THAT(app_.Files(), IsEmpty());
  EXPECT_EQ(launcher.Text(ControlId::statusBar), "");
}

// --- Package mode: the settings file and the package folder ---

struct SettingsCase {
  const char* name;
  // The settings file; "%FOLDER%" stands for an existing folder.
  std::string content;
  std::string folderBox; // likewise
  std::string status;
  bool browseVisible;
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherPackageSettings : public LauncherPackage,
                                public testing::WithParamInterface<SettingsCase> {};

std::string WithFolder(std::string text, const fs::path& folder) {
  const std::string marker = "%FOLDER%";
  if (size_t at = text.find(marker); at != std::string::npos)
    text.replace(at, marker.size(), folder.string());
  return text;
}

// In developer mode, where Browse shows whoever runs the launcher, so that
// only a broken settings file can hide it.
TEST_P(LauncherPackageSettings, PutTheLauncherInPackageMode) {
  const SettingsCase& c = GetParam();
  TempFolder packages;
  ASSERT_NO_FATAL_FAILURE(WriteSettings(app_, WithFolder(c.content, packages.Path())));
  Launcher launcher({.kloxDataDir = L"1"});
  launcher.WaitUntilShown();

  EXPECT_FALSE(launcher.Visible(ControlId::btnImportPackage));
  EXPECT_TRUE(launcher.Visible(ControlId::edtPackageFolder));
  EXPECT_EQ(launcher.Text(ControlId::edtPackageFolder), WithFolder(c.folderBox, packages.Path()));
  EXPECT_EQ(launcher.Text(ControlId::statusBar), c.status);
  EXPECT_EQ(launcher.Visible(ControlId::btnBrowse), c.browseVisible);
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LauncherPackageSettings,
    testing::Values(SettingsCase{"FolderExists", SettingsXml("%FOLDER%"), "%FOLDER%", "", true},
                    SettingsCase{"FolderMissing", SettingsXml("%FOLDER%\\gone"), "%FOLDER%\\gone",
                                 "Configured package folder does not exist.", true},
                    SettingsCase{"FolderNotSet", SettingsXml(""), "",
                                 "Package folder not configured.", true},
                    SettingsCase{"EmptyFile", "", "", "Invalid application settings file.", false}),
    [](const testing::TestParamInfo<SettingsCase>& info) { return info.param.name; });

TEST_F(LauncherPackage, BrowseSavesThePickedFolderInTheSettingsFile) {
  TempFolder before;
  TempFolder picked;
  ASSERT_NO_FATAL_FAILURE(WriteSettings(app_, SettingsXml(before.Path().string())));
  Launcher launcher({.kloxDataDir = L"1"});
  launcher.WaitUntilShown();

  launcher.Click(ControlId::btnBrowse);
  HWND picker = launcher.WaitForDialog(kFolderPickerTitle);
  EXPECT_EQ(Launcher::DialogItemText(picker, IDOK), "Select");
  Launcher::SetDialogItemText(picker, kFolderNameBox, picked.Path().string());
  Launcher::ClickDialogButton(picker, IDOK);
  launcher.WaitUntilGone(picker);
  launcher.WaitUntilIdle();

  EXPECT_EQ(launcher.FindMessageBox(), nullptr);
  const std::string shown = launcher.Text(ControlId::edtPackageFolder);
  EXPECT_TRUE(fs::equivalent(shown, picked.Path())) << shown;
  EXPECT_EQ(SavedPackageFolder(app_), shown);
  EXPECT_EQ(launcher.Text(ControlId::statusBar), "");
}

// --- Package mode and a device ---

TEST_F(LauncherPackage, LaunchInstallsTheDevicesPackageFromThePackageFolder) {
  ASSERT_NO_FATAL_FAILURE(WriteSettings(app_, SettingsXml(TestData("packages/good").string())));
  // The device could serve its archives, but package mode never asks for them.
  winetest::DeviceSimulatorOptions options;
  options.filesDir = TestData("device/good");
  DeviceSimulator device(options);
  Launcher launcher;
  launcher.WaitUntilShown();
  launcher.SetText(ControlId::edtHost, "127.0.0.1:" + std::to_string(device.Port()));
  launcher.SetText(ControlId::edtUserName, "admin");
  launcher.SetText(ControlId::edtPassword, "Adm1n-pw");
  launcher.Click(ControlId::btnLaunch);

  ASSERT_TRUE(WaitUntil([&] {
    std::vector<winetest::RecordedRequest> requests = device.Requests();
    return !requests.empty() && requests.back().path == "/LOGOUT";
  }));
  launcher.WaitUntilIdle();
  HWND box = launcher.FindMessageBox();
  ASSERT_EQ(box, nullptr) << Launcher::MessageBoxText(box);
  // The packaged runtime is no program that runs and the device is not
  // trusted: the launch goes on to start the HMI, then the launcher closes.
  EXPECT_TRUE(launcher.WaitForExit(std::chrono::seconds(30)));

  std::vector<std::string> paths;
  for (const winetest::RecordedRequest& r : device.Requests())
    paths.push_back(r.path);
  EXPECT_THAT(paths, ElementsAre("/info.cgi", "/LOGIN", "/cgi-bin/infoExt.cgi", "/LOGOUT"));
  ExpectPackagedImages(app_);
  EXPECT_TRUE(fs::exists(app_.Path() / kCachedPackage));
}

} // namespace
