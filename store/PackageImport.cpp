#include "store/PackageImport.h"

#include "common/Progress.h"
#include "common/ReleaseRules.h"
#include "common/Text.h"
#include "store/ArchiveExtraction.h"
#include "store/FolderUtils.h"
#include "store/ImageInstall.h"
#include "store/PropertySet.h"
#include "store/Settings.h"
#include "store/Timestamp.h"

namespace store {

using paths::JoinPath;

namespace {

constexpr const char* kNotAPackage =
    "Selected file is NOT a valid Veltra Dynamic Remote HMI package.";
constexpr const char* kPackageSuffix = ".VeltraDynamicRemoteHMI.KL7zip";
const char* const kRequired[] = {"timestamp",   "compatibility level", "package type",
                                 "jre version", "product type",        "release version"};

// The three naming values of a package that carries all six properties.
struct PackageNames {
  bool complete = false; // all six present
  std::string jreVersion, productType, releaseVersion;
  bool NamesBlank() const {
    return text::Trim(jreVersion).empty() || text::Trim(productType).empty() ||
           text::Trim(releaseVersion).empty();
  }
};

PackageNames NamesOf(const PropertyList& props) {
  PackageNames names;
  for (const char* name : kRequired)
    if (!props.Has(name))
      return names;
  names.complete = true;
  names.jreVersion = props.Value("jre version");
  names.productType = props.Value("product type");
  names.releaseVersion = props.Value("release version");
  return names;
}

// Runs `cleanUp` when the scope ends, by return or by error.
template <typename F> class Finally {
public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() {
    try {
      f_();
    } catch (...) {
      // A failed clean-up must not hide the outcome of the import itself.
    }
  }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

private:
  F f_;
};

// Removes a scratch folder, if there is one; one that will not go (a file
// held open) stays behind rather than hide the outcome.
void RemoveScratch(plat::IFileSystem& files, const std::string& folder) {
  try {
    if (!folder.empty() && files.DirectoryExists(folder))
      files.DeleteTree(folder);
  } catch (const std::exception&) {
  }
}

} // namespace

bool ImportPackage(StoreContext& c, const std::string& fileName, std::string& errorMessage) {
  plat::Services& s = c.s;
  FolderUtils& folders = c.folders;
  errorMessage = kNotAPackage;

  if (!IsCompoundDocument(s, fileName))
    return false;
  PropertyList props = GetFileUserDefinedInfo(s, fileName);
  const PackageNames names = NamesOf(props);
  if (!names.complete)
    return false;
  const std::string timestamp = props.Value("timestamp");

  if (props.Value("compatibility level") != "1") {
    errorMessage = "This package is not supported in the current version of this tool.";
    return false;
  }
  if (props.Value("package type") != "VeltraDynamicRemoteHMIArchive" || names.NamesBlank())
    return false;

  const std::string packageName = paths::FileNameOf(fileName);
  const std::string target = JoinPath(folders.GetPackageCacheFolder(), packageName);
  if (s.files.FileExists(target)) {
    int64_t installed = ParseIso8601(GetFileUserDefinedInfo(s, target).Value("timestamp"));
    if (!(installed < ParseIso8601(timestamp))) {
      errorMessage = "This package or a more recent version is already installed.";
      return false;
    }
  }

  std::string staging, scratch;
  Finally cleanUp([&] {
    c.view.SetStatusText("");
    RemoveScratch(s.files, staging);
    RemoveScratch(s.files, scratch);
  });

  c.view.SetStatusText("Copying package...");
  c.view.ProcessMessages();
  // The package joins the cache only once its images are installed: a
  // cached package is what makes a later import "already installed", so one
  // whose images failed must not get there. It is staged beside its place,
  // on the same volume, and renamed into it at the end.
  staging = folders.CreateUniqueDirectory(folders.GetPackageCacheFolder(), "TMP");
  const std::string staged = JoinPath(staging, packageName);
  s.files.CopyFile(fileName, staged);

  scratch = folders.CreateUniqueDirectory("", "TMP");
  c.view.SetStatusText("Extracting package contents...");
  c.view.ProcessMessages();

  errorMessage.clear();
  auto extract = [&](const std::string& archive, const std::string& folder,
                     const std::optional<std::string>& format) {
    launch::ProgressDisplay progress(c.view, s.system);
    return ExtractArchive(
        s, archive, folder, errorMessage, "", true, format,
        [&](uint64_t done, uint64_t total) { progress.Items(done, total); }, &c.view.Stop());
  };
  if (!extract(staged, scratch, std::nullopt))
    return false;
  const std::string contents = JoinPath(scratch, "Contents");
  const std::string contentsFolder = folders.CreateUniqueDirectory(scratch, "TMP");
  // The images are unpacked here and then copied into the cache, so both
  // disks need the room; the second check comes after the unpacking, when a
  // shared disk shows it. Checked here rather than in ExtractArchive alone so
  // that the message names the package the operator knows.
  const std::optional<uint64_t> unpacked = UnpackedSize(s, contents, kFormat7z);
  auto refuseWithoutRoomIn = [&](const std::string& folder) {
    errorMessage = unpacked ? UnpackRoomMessage(s, packageName, *unpacked, folder) : "";
    return !errorMessage.empty();
  };
  if (refuseWithoutRoomIn(contentsFolder))
    return false;
  errorMessage.clear();
  if (!extract(contents, contentsFolder, kFormat7z))
    return false;
  if (refuseWithoutRoomIn(folders.GetAppRootFolder()))
    return false;

  // Each image is copied beside its folder and renamed into place only when
  // complete; an older image stays whole until then.
  auto copyOf = [&](const char* folder) {
    return [&s, from = JoinPath(contentsFolder, folder)](const std::string& newImage) {
      s.files.CopyTree(from, newImage);
      return true;
    };
  };
  const std::string jre = "v" + names.jreVersion;
  const std::string release = "v" + names.releaseVersion;
  const std::string& productType = names.productType;
  if (!folders.IsJREImageFolderValid(jre)) {
    InstallImage(s, folders, folders.GetJREImageFolder(jre), kJreImageMarker, ValidImage::Keep,
                 copyOf("jre"));
    if (!folders.IsJREImageFolderValid(jre)) {
      errorMessage = "Unable to extract JRE image.";
      return false;
    }
  }
  if (InstallImage(s, folders, folders.GetLIBImageFolder(release, productType), kLibImageMarker,
                   ValidImage::Replace, copyOf("lib")) != ImageOutcome::Installed ||
      !folders.IsLIBImageFolderValid(release, productType)) {
    errorMessage = "Unable to extract HMI binaries image.";
    return false;
  }
  s.files.MoveFile(staged, target);
  // Whole and installed: read-only from now on, like its images.
  s.files.SetAccessList(target, plat::AccessList::ReadOnly);
  errorMessage.clear();
  return true;
}

bool IsPackageImageValid(StoreContext& c, const std::string& packageFile,
                         std::string& jreImageFolder, std::string& libImageFolder) {
  plat::Services& s = c.s;
  FolderUtils& folders = c.folders;
  jreImageFolder.clear();
  libImageFolder.clear();
  if (!s.files.FileExists(packageFile) || !IsCompoundDocument(s, packageFile))
    return false;
  const PackageNames names = NamesOf(GetFileUserDefinedInfo(s, packageFile));
  if (!names.complete || names.NamesBlank())
    return false;
  const std::string jre = "v" + names.jreVersion;
  const std::string release = "v" + names.releaseVersion;
  if (!folders.IsJREImageFolderValid(jre) ||
      !folders.IsLIBImageFolderValid(release, names.productType))
    return false;
  jreImageFolder = folders.GetJREImageFolder(jre);
  libImageFolder = folders.GetLIBImageFolder(release, names.productType);
  return true;
}

std::string PackageDeviceType(const DeviceRelease& device) {
  return rules::PackageServesTheFamily(device.releaseVersionAsInt) ? "Veltra" : device.deviceType;
}

std::string PackageNameFor(const DeviceRelease& device) {
  return PackageDeviceType(device) + "_" + std::to_string(device.releaseVersionAsInt) +
         kPackageSuffix;
}

bool ProvideImagesFromPackage(StoreContext& c, const DeviceRelease& device,
                              const launch::LauncherGlobals& g, PackageImages& images,
                              std::string& errorMessage) {
  plat::Services& s = c.s;
  FolderUtils& folders = c.folders;

  const std::string packageName = PackageNameFor(device);
  const std::string cached = JoinPath(folders.GetPackageCacheFolder(), packageName);
  const std::string forDevice = PackageDeviceType(device) + device.releaseVersion;
  bool result = s.files.FileExists(cached);

  if (!result && !g.enableDownload) {
    bool error = false;
    const std::string packageFolder = GetPackageFolderValue(c, error);
    try {
      // A value the file system cannot even look up is no missing folder but
      // one that cannot be reached.
      if (paths::HasInvalidPathChar(packageFolder, false))
        throw paths::InvalidPathError("Illegal characters in path: " + packageFolder);
      if (s.files.DirectoryExists(packageFolder)) {
        const std::string source = JoinPath(packageFolder, packageName);
        if (s.files.FileExists(source)) {
          try {
            // A scratch folder of its own: another launcher may be importing
            // the same package from its copy at this very moment.
            std::string copyFolder;
            Finally removeCopy([&] { RemoveScratch(s.files, copyFolder); });
            copyFolder = folders.CreateUniqueDirectory("", "PKG");
            const std::string scratchCopy = JoinPath(copyFolder, packageName);
            c.view.SetStatusText("Copying package from package folder...");
            s.files.CopyFile(source, scratchCopy);
            c.view.SetStatusText("");
            errorMessage.clear();
            result = ImportPackage(c, scratchCopy, errorMessage);
          } catch (const std::exception&) {
            errorMessage = "Unable to copy remote dynamic HMI package for " + forDevice +
                           " from the package folder.";
          }
        } else {
          errorMessage =
              "Package folder does not contain a remote dynamic HMI package for " + forDevice + ".";
        }
      } else if (error) {
        errorMessage = "Invalid application settings file.";
      } else if (packageFolder.empty()) {
        errorMessage = "Package folder not configured.";
      } else {
        errorMessage = "Configured package folder does not exist.";
      }
    } catch (const std::exception&) {
      errorMessage = "Unable to access package folder.";
    }
  }

  if (result) {
    std::string jreFolder, libFolder;
    if (IsPackageImageValid(c, cached, jreFolder, libFolder)) {
      images = {jreFolder, libFolder};
      return true;
    }
    errorMessage = "Please contact Norwick Brann Technical Support to obtain a valid remote "
                   "dynamic HMI package for " +
                   forDevice + ".";
    return false;
  }
  if (g.enableDownload)
    errorMessage = "Please contact Norwick Brann Technical Support to obtain a remote dynamic HMI "
                   "package for " +
                   forDevice + ".";
  return false;
}

} // namespace store
