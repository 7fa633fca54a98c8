// The login window's design: every control with its kind, initial caption or
// content and place. Both the Win32 toolkit and the in-memory one build the
// window from this table, so the logic sees the same controls everywhere.
#pragma once

#include "platform/FormView.h"

#include <array>

namespace plat {

enum class ControlKind {
  Label,
  Edit,
  PasswordEdit,
  ReadOnlyEdit,
  Button,
  DefaultButton,
  RadioGroup,
  StatusBar,
  Picture
};

struct ControlLayout {
  ControlId id;
  ControlKind kind;
  const char* caption; // initial caption or content
  int left, top, width, height;
  int tabOrder; // -1: not a tab stop
};

inline constexpr const char* kFormCaption = "Veltra Substation Gateway - Dynamic Remote HMI";
inline constexpr int kClientWidth = 629;
inline constexpr int kClientHeight = 320;
inline constexpr int kStatusBarHeight = 19;
inline constexpr const char* kRadioGroupCaption = " Special Operational Mode ";
inline constexpr std::array<const char*, kOperationalModeCount> kOperationalModeItems = {
    "None", "Auto-login", "Emergency access"};

// Initial contents of the three edit boxes. Normal start-up clears them; only
// developer mode shows them.
inline constexpr const char* kDefaultHost = "192.168.1.100";
inline constexpr const char* kDefaultUserName = "admin";
inline constexpr const char* kDefaultPassword = "Pa55w0rd";

// Declaration order. The status bar spans the bottom edge, whatever its numbers.
inline constexpr std::array<ControlLayout, 14> kLoginFormLayout = {{
    {ControlId::Label1, ControlKind::Label, "Host", 56, 113, 22, 13, -1},
    {ControlId::lblUserName, ControlKind::Label, "User Name", 56, 142, 52, 13, -1},
    {ControlId::lblPassword, ControlKind::Label, "Password", 56, 176, 46, 13, -1},
    {ControlId::edtHost, ControlKind::Edit, kDefaultHost, 168, 110, 121, 21, 0},
    {ControlId::edtUserName, ControlKind::Edit, kDefaultUserName, 168, 139, 121, 21, 1},
    {ControlId::edtPassword, ControlKind::PasswordEdit, kDefaultPassword, 168, 173, 121, 21, 2},
    {ControlId::btnLaunch, ControlKind::DefaultButton, "Launch", 168, 270, 75, 25, 3},
    {ControlId::btnImportPackage, ControlKind::Button, "Import Package", 320, 270, 89, 25, 4},
    {ControlId::statusBar, ControlKind::StatusBar, "", 0, kClientHeight - kStatusBarHeight,
     kClientWidth, kStatusBarHeight, -1},
    {ControlId::rgOperationalMode, ControlKind::RadioGroup, kRadioGroupCaption, 320, 96, 218, 113,
     6},
    {ControlId::lblPackageFolder, ControlKind::Label, "Package folder", 56, 223, 71, 13, -1},
    {ControlId::Image1, ControlKind::Picture, "", 10, 8, 218, 73, -1},
    {ControlId::edtPackageFolder, ControlKind::ReadOnlyEdit, "", 168, 215, 370, 21, 7},
    {ControlId::btnBrowse, ControlKind::Button, "Browse", 544, 213, 75, 25, 8},
}};

} // namespace plat
