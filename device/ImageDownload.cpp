#include "device/ImageDownload.h"

#include "common/Paths.h"
#include "common/Progress.h"
#include "common/Text.h"
#include "store/ArchiveExtraction.h"
#include "store/FolderUtils.h"
#include "store/ImageInstall.h"

#include <functional>
#include <stdexcept>

namespace device {

namespace {

// One of the two runtime images: where it comes from, where it goes, and the
// texts the operator sees for it.
struct ImagePlan {
  std::string remotePath;
  std::function<std::string()> cacheFile; // made only when it is needed
  std::function<std::string()> imageFolder;
  std::function<bool()> isValid;
  const char* marker; // the file isValid looks for
  // The JRE looks at its cached archive first and fetches a missing one even
  // for a valid image; the HMI binaries look at the image first and fetch
  // nothing for a valid one. The difference shows on the wire.
  bool cacheFirst;
  const char* retrievingText;
  const char* extractingText;
  const char* fetchFailedText;
  const char* notValidText;
};

bool ProvideImage(LaunchContext& c, const ImagePlan& plan, int32_t iPort,
                  std::string& errorMessage) {
  std::string cacheFile;
  auto fetchWhenMissing = [&] {
    cacheFile = plan.cacheFile();
    if (c.s.files.FileExists(cacheFile))
      return true;
    if (plan.cacheFirst)
      c.view.ProcessMessages();
    c.view.SetStatusText(plan.retrievingText);
    bool fetched = DownLoadFile(c, plan.remotePath, cacheFile, iPort);
    c.view.ProcessMessages();
    if (!fetched)
      errorMessage = plan.fetchFailedText;
    return fetched;
  };
  if (plan.cacheFirst && !fetchWhenMissing())
    return false;
  if (plan.isValid())
    return true;
  if (!plan.cacheFirst && !fetchWhenMissing())
    return false;

  c.view.SetStatusText(plan.extractingText);
  errorMessage.clear();
  auto extract = [&](const std::string& newImage) {
    try {
      launch::ProgressDisplay progress(c.view, c.s.system);
      return store::ExtractArchive(
          c.s, cacheFile, newImage, errorMessage, "", true, std::nullopt,
          [&](uint64_t done, uint64_t total) { progress.Items(done, total); });
    } catch (...) {
      // The cached archive cannot be extracted (damaged, an item that fails,
      // hostile names): kept, it would fail every launch the same way, as it
      // is never fetched again. Without it the next launch fetches it afresh.
      try {
        c.s.files.DeleteFile(cacheFile);
      } catch (const std::exception&) {
      }
      throw;
    }
  };
  // Extracted beside the image and moved into place only when complete, so
  // a failure half-way never leaves an image that counts as valid.
  bool result =
      store::InstallImage(c.s, c.folders, plan.imageFolder(), plan.marker, store::ValidImage::Keep,
                          extract) != store::ImageOutcome::NotFilled;
  c.view.ProcessMessages();
  if (result && !plan.isValid()) {
    errorMessage = plan.notValidText;
    result = false;
  }
  return result;
}

} // namespace

int32_t VersionNumberPartCount(const std::string& aVersionNumber) {
  int32_t dots = 0;
  for (char c : aVersionNumber)
    dots += c == '.';
  return dots;
}

void ExtractJREVersion(launch::LoginFormState& state) {
  std::string version =
      text::ReplaceAll(text::ReplaceAll(state.hmiJREFile, "jre_v_", ""), ".zip", "");
  for (int32_t n = VersionNumberPartCount(version); n < 3; ++n)
    version += ".0";
  state.jreVersion = "v" + version;
}

void ExtractHMISchemaVersion(launch::LoginFormState& state) {
  state.hmiSchemaVersion.clear();
  std::vector<std::string> parts = text::Split(state.hmiLIBFile, '_');
  if (parts.size() < 5)
    throw std::runtime_error("The HMI binaries archive name '" + state.hmiLIBFile +
                             "' has no schema version.");
  std::string fifth = parts[4];
  while (text::CharCount(fifth) < 4)
    fifth = "0" + fifth;
  state.hmiSchemaVersion = "v" + parts[3] + "_" + fifth;
}

bool DownloadRuntimeImages(LaunchContext& c, int32_t iPort, std::string& errorMessage) {
  store::FolderUtils& folders = c.folders;
  launch::LoginFormState& state = c.state;
  // The archive names come from the device and become file names in the
  // cache: a name that is not one plain file name must not pick the path.
  paths::CheckFolderName(state.hmiJREFile, "JRE archive");
  paths::CheckFolderName(state.hmiLIBFile, "HMI binaries archive");

  ExtractJREVersion(state);
  const std::string jreVersion = state.jreVersion;
  const ImagePlan jre{
      "/mnt/flash/hmi/jre/" + state.hmiJREFile,
      [&] { return paths::JoinPath(folders.GetJRECacheFolder(), state.hmiJREFile); },
      [&] { return folders.GetJREImageFolder(jreVersion); },
      [&] { return folders.IsJREImageFolderValid(jreVersion); },
      store::kJreImageMarker,
      true,
      "Retrieving JRE image...",
      "Extracting JRE image...",
      "Unable to download JRE archive.",
      "Unable to process JRE image for remote HMI."};
  if (!ProvideImage(c, jre, iPort, errorMessage))
    return false;
  state.jreImageFolder = jre.imageFolder();

  ExtractHMISchemaVersion(state);
  const std::string release = state.releaseVersion;
  const std::string schema = state.hmiSchemaVersion;
  const ImagePlan lib{
      "/mnt/flash/hmi/lib/" + state.hmiLIBFile,
      [&] { return paths::JoinPath(folders.GetLIBCacheFolder(), state.hmiLIBFile); },
      [&] { return folders.GetLIBImageFolder(release, schema); },
      [&] { return folders.IsLIBImageFolderValid(release, schema); },
      store::kLibImageMarker,
      false,
      "Retrieving HMI binaries image...",
      "Extracting HMI binaries image...",
      "Unable to download HMI binaries archive for remote HMI.",
      "Unable to process HMI binaries image for remote HMI."};
  if (!ProvideImage(c, lib, iPort, errorMessage))
    return false;
  state.hmiLibImageFolder = lib.imageFolder();
  state.includeHostInLoginCaption = true;
  return true;
}

} // namespace device
