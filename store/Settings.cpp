#include "store/Settings.h"

#include "launcher/LoginForm.h"
#include "platform/Storage.h"

namespace store {

using plat::ControlId;

std::string GetPackageFolderValue(launcher::TLoginForm& form, bool& error) {
  error = false;
  plat::Services& s = form.Services();
  const std::string file = form.Folders().GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return {};
  try {
    return s.xml.ReadFirst(file, kPackageFolderXPath);
  } catch (const std::exception&) {
    error = true;
    form.View().SetText(ControlId::statusBar, "Invalid application settings file.");
    form.View().SetVisible(ControlId::btnBrowse, false);
    return {};
  }
}

void SavePackageFolderValue(launcher::TLoginForm& form, const std::string& value) {
  plat::Services& s = form.Services();
  const std::string file = form.Folders().GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return;
  try {
    s.xml.WriteFirst(file, kPackageFolderXPath, value);
  } catch (const std::exception&) {
    form.View().SetText(ControlId::statusBar, "Error saving application settings file.");
  }
}

} // namespace store
