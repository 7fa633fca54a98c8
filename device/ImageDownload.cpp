#include "device/ImageDownload.h"

#include "common/Paths.h"
#include "common/Progress.h"
#include "common/Text.h"
#include "device/FileDownload.h"
#include "store/ArchiveExtraction.h"
#include "store/FolderUtils.h"
#include "store/ImageInstall.h"

#include <functional>
#include <optional>
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

// Makes sure one image is in place: nothing when it is, else why not.
std::optional<StepFailure> ProvideImage(LaunchContext& c, const ImagePlan& plan,
                                        DeviceSession& session) {
  std::string cacheFile;
  auto fetchWhenMissing = [&]() -> std::optional<StepFailure> {
    cacheFile = plan.cacheFile();
    if (c.s.files.FileExists(cacheFile))
      return std::nullopt;
    if (plan.cacheFirst)
      c.view.ProcessMessages();
    c.view.SetStatusText(plan.retrievingText);
    // A read that failed leaves the session open: a device that refused or
    // cut its answer is still there, and one that is gone does not answer
    // the logout either.
    std::optional<StepFailure> failure =
        DownLoadFile(c, session.Endpoint(), plan.remotePath, cacheFile);
    c.view.ProcessMessages();
    if (!failure)
      return std::nullopt;
    // This computer's failure says what happened; the device's is told in
    // the branch's words, its reason kept in the developer log.
    if (failure->whose == Whose::ThisComputer)
      return CannotStore(failure->message);
    return StepFailure{Stage::Provisioning, plan.fetchFailedText, failure->whose};
  };
  if (plan.cacheFirst)
    if (std::optional<StepFailure> failure = fetchWhenMissing())
      return failure;
  if (plan.isValid())
    return std::nullopt;
  if (!plan.cacheFirst)
    if (std::optional<StepFailure> failure = fetchWhenMissing())
      return failure;

  // Closed meanwhile: a fetched archive stays cached, but nothing is unpacked.
  if (c.view.StopRequested())
    throw plat::Stopped();
  c.view.SetStatusText(plan.extractingText);
  std::string refusalMessage;
  store::Refusal refusal = store::Refusal::None;
  auto extract = [&](const std::string& newImage) {
    try {
      launch::ProgressDisplay progress(c.view, c.s.system);
      return store::ExtractArchive(
          c.s, cacheFile, newImage, refusalMessage, "", true, std::nullopt,
          [&](uint64_t done, uint64_t total) { progress.Items(done, total); }, &c.view.Stop(),
          &refusal);
    } catch (const plat::Stopped&) {
      // Given up, not failed: the archive is as good as it was.
      throw;
    } catch (const plat::PlatformError&) {
      // This machine failed (no room, a write refused): the archive may be
      // good, and fetching it again would not help.
      throw;
    } catch (...) {
      // The cached archive cannot be extracted (damaged, an item that fails,
      // hostile names): kept, it would fail every launch the same way, as it
      // is never fetched again. Without it the next launch fetches it afresh.
      try {
        c.s.files.DeleteFile(cacheFile);
      } catch (const plat::AccessDenied&) {
        // Sealed, or another user's: this user cannot clear the way for a
        // fresh copy, and every launch would fail on it.
        throw plat::AccessDenied("The archive \"" + paths::FileNameOf(cacheFile) + "\" in \"" +
                                 paths::ParentFolderOf(cacheFile) +
                                 "\" is damaged and cannot be removed by this user. Ask an "
                                 "administrator to delete it, then try again.");
      } catch (const std::exception&) {
      }
      throw;
    }
  };
  // Extracted beside the image and moved into place only when complete, so
  // a failure half-way never leaves an image that counts as valid.
  const bool filled =
      store::InstallImage(c.s, c.folders, plan.imageFolder(), plan.marker, store::ValidImage::Keep,
                          extract) != store::ImageOutcome::NotFilled;
  c.view.ProcessMessages();
  // Extracted completely, so whole: read-only from now on. One that fails
  // to extract stays its maker's, who can remove it.
  if (filled)
    c.s.files.SetAccessList(cacheFile, plat::AccessList::ReadOnly);
  if (!filled)
    return refusal == store::Refusal::ThisMachine
               ? CannotStore(refusalMessage)
               : StepFailure{Stage::Provisioning, refusalMessage, Whose::Connection};
  if (!plan.isValid())
    return StepFailure{Stage::Provisioning, plan.notValidText, Whose::Connection};
  return std::nullopt;
}

} // namespace

int32_t VersionNumberPartCount(const std::string& aVersionNumber) {
  int32_t dots = 0;
  for (char c : aVersionNumber)
    dots += c == '.';
  return dots;
}

std::string ExtractJREVersion(const std::string& hmiJREFile) {
  std::string version = text::ReplaceAll(text::ReplaceAll(hmiJREFile, "jre_v_", ""), ".zip", "");
  for (int32_t n = VersionNumberPartCount(version); n < 3; ++n)
    version += ".0";
  return "v" + version;
}

std::string ExtractHMISchemaVersion(const std::string& hmiLIBFile) {
  std::vector<std::string> parts = text::Split(hmiLIBFile, '_');
  if (parts.size() < 5)
    throw std::runtime_error("The HMI binaries archive name '" + hmiLIBFile +
                             "' has no schema version.");
  std::string fifth = parts[4];
  while (text::CharCount(fifth) < 4)
    fifth = "0" + fifth;
  return "v" + parts[3] + "_" + fifth;
}

Provisioned DownloadRuntimeImages(LaunchContext& c, const DeviceFacts& device,
                                  DeviceSession& session) {
  store::FolderUtils& folders = c.folders;
  // The archive names come from the device and become file names in the
  // cache: a name that is not one plain file name must not pick the path.
  for (const std::string* name : {&device.hmiJREFile, &device.hmiLIBFile}) {
    try {
      paths::CheckFolderName(*name, "archive");
    } catch (const paths::InvalidPathError&) {
      return CannotStore("The device offered an archive name that cannot be used: " + *name);
    }
  }
  RuntimeImages images;
  images.fromDevice = true;

  images.jreVersion = ExtractJREVersion(device.hmiJREFile);
  const std::string jreVersion = images.jreVersion;
  const ImagePlan jre{
      "/mnt/flash/hmi/jre/" + device.hmiJREFile,
      [&] { return paths::JoinPath(folders.GetJRECacheFolder(), device.hmiJREFile); },
      [&] { return folders.GetJREImageFolder(jreVersion); },
      [&] { return folders.IsJREImageFolderValid(jreVersion); },
      store::kJreImageMarker,
      true,
      "Retrieving JRE image...",
      "Extracting JRE image...",
      "Unable to download JRE archive.",
      "Unable to process JRE image for remote HMI."};
  if (std::optional<StepFailure> failure = ProvideImage(c, jre, session))
    return *failure;
  images.jreImageFolder = jre.imageFolder();

  images.hmiSchemaVersion = ExtractHMISchemaVersion(device.hmiLIBFile);
  const std::string release = device.releaseVersion;
  const std::string schema = images.hmiSchemaVersion;
  const ImagePlan lib{
      "/mnt/flash/hmi/lib/" + device.hmiLIBFile,
      [&] { return paths::JoinPath(folders.GetLIBCacheFolder(), device.hmiLIBFile); },
      [&] { return folders.GetLIBImageFolder(release, schema); },
      [&] { return folders.IsLIBImageFolderValid(release, schema); },
      store::kLibImageMarker,
      false,
      "Retrieving HMI binaries image...",
      "Extracting HMI binaries image...",
      "Unable to download HMI binaries archive for remote HMI.",
      "Unable to process HMI binaries image for remote HMI."};
  if (std::optional<StepFailure> failure = ProvideImage(c, lib, session))
    return *failure;
  images.hmiLibImageFolder = lib.imageFolder();
  return images;
}

namespace {

class DownloadBranch : public ImageSource {
public:
  Provisioned Provide(LaunchContext& c, const DeviceFacts& device,
                      DeviceSession& session) override {
    return DownloadRuntimeImages(c, device, session);
  }
};

} // namespace

ImageSource& DownloadFromDevice() {
  static DownloadBranch branch;
  return branch;
}

} // namespace device
