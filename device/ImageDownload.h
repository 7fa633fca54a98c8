// The download branch of credential verification: runtime images fetched from
// the device and extracted into the machine-wide cache when missing.
#pragma once

#include "device/DeviceSession.h"
#include "device/LaunchContext.h"
#include "device/LogIn.h"

#include <cstdint>
#include <string>

namespace device {

// The number of "." characters (not of parts).
int32_t VersionNumberPartCount(const std::string& aVersionNumber);
// jreVersion from hmiJREFile: "jre_v_17.0.2.zip" gives "v17.0.2.0".
std::string ExtractJREVersion(const std::string& hmiJREFile);
// hmiSchemaVersion from the 4th and 5th "_" parts of hmiLIBFile, the 5th
// padded to four characters: "lib_hmi_full_410_7_r.zip" gives "v410_0007".
// Raises when the name has fewer than five parts.
std::string ExtractHMISchemaVersion(const std::string& hmiLIBFile);

// Makes sure both images of the device are in place, reading a missing
// archive from the endpoint of `session`: the images, or the failure that
// left none. This computer's failures (an archive name it cannot store, a
// file it cannot write, no room for the items) are told in their own words
// and are not the connection's. An archive name that is not one plain file
// name is refused before anything is read. A failure of this machine while
// an archive is extracted raises PlatformError and keeps the archive; an
// archive at fault is deleted from the cache and its error raised.
Provisioned DownloadRuntimeImages(LaunchContext& c, const DeviceFacts& device,
                                  DeviceSession& session);

} // namespace device
