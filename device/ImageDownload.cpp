#include "device/ImageDownload.h"

#include "common/Text.h"
#include "device/DeviceSession.h"
#include "launcher/LoginForm.h"
#include "store/ArchiveExtraction.h"
#include "store/FolderUtils.h"

#include <stdexcept>

namespace device {

using plat::ControlId;

int32_t VersionNumberPartCount(const std::string& aVersionNumber) {
  int32_t dots = 0;
  for (char c : aVersionNumber)
    dots += c == '.';
  return dots;
}

void ExtractJREVersion(launcher::TLoginForm& form) {
  std::string version =
      text::ReplaceAll(text::ReplaceAll(form.hmiJREFile, "jre_v_", ""), ".zip", "");
  for (int32_t n = VersionNumberPartCount(version); n < 3; ++n)
    version += ".0";
  form.jreVersion = "v" + version;
}

void ExtractHMISchemaVersion(launcher::TLoginForm& form) {
  form.hmiSchemaVersion.clear();
  std::vector<std::string> parts = text::Split(form.hmiLIBFile, '_');
  if (parts.size() < 5)
    throw std::runtime_error("The HMI binaries archive name '" + form.hmiLIBFile +
                             "' has no schema version.");
  std::string fifth = parts[4];
  while (text::CharCount(fifth) < 4)
    fifth = "0" + fifth;
  form.hmiSchemaVersion = "v" + parts[3] + "_" + fifth;
}

bool DownloadRuntimeImages(launcher::TLoginForm& form, int32_t iPort, std::string& errorMessage) {
  plat::Services& s = form.Services();
  store::FolderUtils& folders = form.Folders();
  auto status = [&](const char* textToShow) {
    form.View().SetText(ControlId::statusBar, textToShow);
  };
  // The archive names come from the device and become file names in the
  // cache: a name that is not one plain file name must not pick the path.
  store::CheckFolderName(form.hmiJREFile, "JRE archive");
  store::CheckFolderName(form.hmiLIBFile, "HMI binaries archive");

  bool result = true;
  ExtractJREVersion(form);
  const std::string jreRemote = "/mnt/flash/hmi/jre/" + form.hmiJREFile;
  const std::string jreCache = store::JoinPath(folders.GetJRECacheFolder(), form.hmiJREFile);
  if (!s.files.FileExists(jreCache)) {
    s.ui.ProcessMessages();
    status("Retrieving JRE image...");
    result = DownLoadFile(form, jreRemote, jreCache, iPort);
    s.ui.ProcessMessages();
  }
  if (!result) {
    errorMessage = "Unable to download JRE archive.";
    return false;
  }
  if (!folders.IsJREImageFolderValid(form.jreVersion)) {
    std::string target = folders.GetJREImageFolder(form.jreVersion);
    status("Extracting JRE image...");
    errorMessage.clear();
    result = store::ExtractArchive(s, jreCache, target, errorMessage, "", true);
    s.ui.ProcessMessages();
    if (result) {
      result = folders.IsJREImageFolderValid(form.jreVersion);
      if (!result)
        errorMessage = "Unable to process JRE image for remote HMI.";
    }
    if (!result)
      return false;
  }
  form.jreImageFolder = folders.GetJREImageFolder(form.jreVersion);

  ExtractHMISchemaVersion(form);
  if (!folders.IsLIBImageFolderValid(form.releaseVersion, form.hmiSchemaVersion)) {
    const std::string libRemote = "/mnt/flash/hmi/lib/" + form.hmiLIBFile;
    const std::string libCache = store::JoinPath(folders.GetLIBCacheFolder(), form.hmiLIBFile);
    if (!s.files.FileExists(libCache)) {
      status("Retrieving HMI binaries image...");
      result = DownLoadFile(form, libRemote, libCache, iPort);
      s.ui.ProcessMessages();
    }
    if (!result) {
      errorMessage = "Unable to download HMI binaries archive for remote HMI.";
      return false;
    }
    std::string target = folders.GetLIBImageFolder(form.releaseVersion, form.hmiSchemaVersion);
    status("Extracting HMI binaries image...");
    errorMessage.clear();
    result = store::ExtractArchive(s, libCache, target, errorMessage, "", true);
    s.ui.ProcessMessages();
    if (result) {
      result = folders.IsLIBImageFolderValid(form.releaseVersion, form.hmiSchemaVersion);
      if (!result)
        errorMessage = "Unable to process HMI binaries image for remote HMI.";
    }
    if (!result)
      return false;
  }
  form.hmiLibImageFolder = folders.GetLIBImageFolder(form.releaseVersion, form.hmiSchemaVersion);
  form.includeHostInLoginCaption = true;
  return true;
}

} // namespace device
