// The download branch of credential verification: runtime images fetched from
// the device and extracted into the machine-wide cache when missing.
#pragma once

#include "common/LaunchState.h"
#include "device/DeviceSession.h"

#include <cstdint>
#include <string>

namespace device {

// The number of "." characters (not of parts).
int32_t VersionNumberPartCount(const std::string& aVersionNumber);
// jreVersion from hmiJREFile: "jre_v_17.0.2.zip" gives "v17.0.2.0".
void ExtractJREVersion(launch::LoginFormState& state);
// hmiSchemaVersion from the 4th and 5th "_" parts of hmiLIBFile, the 5th
// padded to four characters: "lib_hmi_full_410_7_r.zip" gives "v410_0007".
// Raises when the name has fewer than five parts.
void ExtractHMISchemaVersion(launch::LoginFormState& state);

// Makes sure both images are in place; false with errorMessage set otherwise.
bool DownloadRuntimeImages(LaunchContext& c, int32_t iPort, std::string& errorMessage);

} // namespace device
