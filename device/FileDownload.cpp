#include "device/FileDownload.h"

#include "common/Progress.h"
#include "device/HttpClient.h"
#include "device/LaunchContext.h"

#include <exception>

namespace device {

namespace {

// The part file of this process for `localPath`: "<file>.<pid>.<n>.part".
// Another launcher fetching the same archive writes a name of its own, so
// neither finds the other's file open; a name left by an earlier process of
// the same id is passed over rather than taken.
std::string PartFileFor(plat::Services& s, const std::string& localPath) {
  const std::string stem = localPath + "." + std::to_string(s.system.ProcessId()) + ".";
  for (int n = 0; n < 1000; ++n) {
    std::string candidate = stem + std::to_string(n) + ".part";
    if (!s.files.FileExists(candidate) && !s.files.DirectoryExists(candidate))
      return candidate;
  }
  throw plat::PlatformError("No free name for a part file of " + localPath);
}

void RemoveQuietly(plat::IFileSystem& files, const std::string& path) {
  try {
    if (files.FileExists(path))
      files.DeleteFile(path);
  } catch (const std::exception&) {
  }
}

} // namespace

std::optional<StepFailure> DownLoadFile(LaunchContext& c, const DeviceEndpoint& at,
                                        const std::string& remotePath,
                                        const std::string& localPath) {
  plat::IFileSystem& files = c.s.files;
  auto failed = [&](Whose whose, const std::string& why) {
    // The path and the reason hold no secret.
    LogQuietly(c, "Reading " + remotePath + " failed: " + why);
    return StepFailure{Stage::Provisioning, why, whose};
  };
  std::string body;
  std::string contentType = MakeMultipart("file", remotePath, body);
  std::string partial;
  try {
    // The part file is made here, before anything is asked of the device:
    // a file that cannot be made (the cache folder being a file, a name too
    // long) is this computer's failure. Left to the transport, it would end
    // the request before sending.
    partial = PartFileFor(c.s, localPath);
    files.WriteFile(partial, "");
  } catch (const std::exception& e) {
    return failed(Whose::ThisComputer,
                  "The file " + localPath + " cannot be written here: " + e.what());
  }
  std::optional<StepFailure> failure;
  try {
    launch::ProgressDisplay progress(c.view, c.s.system);
    std::optional<plat::HttpResponse> response = c.http.PostForFile(
        at.Url("cgi-bin/ReadBinaryFile.cgi"), contentType, body, partial,
        [&](const plat::TransferProgress& p) { progress.Bytes(p.received, p.total); },
        &c.view.Stop());
    if (response && response->status == 200 && response->complete) {
      // A rename in one folder: the archive is replaced whole or not at all,
      // even when another launcher put one there meanwhile.
      files.MoveFile(partial, localPath);
      return std::nullopt;
    }
    failure = failed(Whose::Connection, !response ? "no answer"
                                        : response->status != 200
                                            ? "status " + std::to_string(response->status)
                                            : "the answer ended early");
  } catch (const plat::PlatformError& e) {
    // The transport raises this computer's failures (the body file cannot
    // be written, the disk filled up) with the system's reason; so does a
    // rename that fails.
    failure = failed(Whose::ThisComputer, e.what());
  } catch (const std::exception& e) {
    failure = failed(Whose::Connection, e.what());
  }
  RemoveQuietly(files, partial);
  return failure;
}

} // namespace device
