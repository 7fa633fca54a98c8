#include "store/Settings.h"

#include "platform/Storage.h"

namespace store {

std::string GetPackageFolderValue(StoreContext& c, bool& error) {
  error = false;
  plat::Services& s = c.s;
  const std::string file = c.folders.GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return {};
  try {
    return s.xml.ReadFirst(file, kPackageFolderXPath);
  } catch (const std::exception&) {
    error = true;
    c.view.SetStatusText("Invalid application settings file.");
    c.view.HideBrowse();
    return {};
  }
}

void SavePackageFolderValue(StoreContext& c, const std::string& value) {
  plat::Services& s = c.s;
  const std::string file = c.folders.GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return;
  try {
    s.xml.WriteFirst(file, kPackageFolderXPath, value);
  } catch (const plat::AccessDenied&) {
    // The settings file is the machine's: only an administrator changes it.
    c.view.SetStatusText(
        "The package folder of this computer can only be changed by an administrator.");
  } catch (const std::exception&) {
    c.view.SetStatusText("Error saving application settings file.");
  }
}

} // namespace store
