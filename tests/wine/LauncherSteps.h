// Steps of a launch as the operator takes them, for the launcher tests that
// run against the device simulator with its default account and device.
#pragma once

#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace winetest {

inline constexpr const char* kLauncherCaption = "Veltra Dynamic Remote HMI";
inline constexpr const char* kUnableToConnect =
    "Unable to connect to a device at the specified address.";

// Where the simulator's default device (Release 410, schema 7, the archives
// jre_v_17.0.2.zip and lib_hmi_full_410_7_r.zip) puts its images.
inline const std::filesystem::path kJavaw =
    std::filesystem::path(L"JREImage") / L"v17.0.2.0" / L"bin" / L"javaw.exe";
inline const std::filesystem::path kConfigGui =
    std::filesystem::path(L"LIBImage") / L"v4.10" / L"v410_0007" / L"config-gui.jar";

// Made at build time by cmake/windows.d/launcher-e2e-testdata.cmake.
inline std::filesystem::path LauncherTestData(const std::string& relative) {
  return WindowsPath(std::string(VELTRA_LAUNCHER_TESTDATA) + "/" + relative);
}

// A simulator serving the archives of the test data's device folder `kind`.
inline DeviceSimulatorOptions ServingArchives(const char* kind) {
  DeviceSimulatorOptions options;
  options.filesDir = LauncherTestData(std::string("device/") + kind);
  return options;
}

// Types the simulator's address and default account and presses Launch.
inline void TypeAndLaunch(Launcher& launcher, const DeviceSimulator& device) {
  launcher.SetText(plat::ControlId::edtHost, "127.0.0.1:" + std::to_string(device.Port()));
  launcher.SetText(plat::ControlId::edtUserName, "admin");
  launcher.SetText(plat::ControlId::edtPassword, "Adm1n-pw");
  launcher.Click(plat::ControlId::btnLaunch);
}

// The text of the error box the launch ends with; presses its OK.
inline std::string ErrorBoxText(Launcher& launcher) {
  HWND box = launcher.WaitForMessageBox();
  // After a long blocking call the window system takes the launcher as hung
  // until its thread has taken a message.
  launcher.WaitUntilIdle();
  EXPECT_EQ(Launcher::MessageBoxCaption(box), kLauncherCaption);
  std::string text = Launcher::MessageBoxText(box);
  launcher.PressOk(box);
  return text;
}

// Verification and provisioning succeeded: the logout is the session's last
// request, no box comes, and the launcher closes by itself (the test images
// carry no HMI that runs).
inline void ExpectLaunchSucceeded(Launcher& launcher, DeviceSimulator& device, int since) {
  ASSERT_TRUE(WaitUntil([&] { return CountOf(device.Requests(since), "/LOGOUT") > 0; }))
      << "no logout; requests: " << testing::PrintToString(Paths(device.Requests(since)));
  launcher.WaitUntilIdle();
  HWND box = launcher.FindMessageBox();
  ASSERT_EQ(box, nullptr) << "box: " << Launcher::MessageBoxText(box);
  EXPECT_TRUE(launcher.WaitForExit(std::chrono::seconds(30)));
}

} // namespace winetest
