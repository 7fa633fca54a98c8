// Starting programs, and the HMI among them.
#pragma once

#include "common/LaunchState.h"
#include "hmi/HmiServices.h"
#include "platform/Desktop.h"

#include <cstdint>
#include <optional>
#include <string>

namespace hmi {

// The first window of a started program: 800 x 600, in the middle of the
// virtual screen. On a screen smaller than that the offsets are negative.
plat::WindowPlacement CenteredPlacement(plat::ScreenSize virtualScreen);

// Starts `appName` with the arguments `cmdLine` in `currentDirectory`; on
// success sleeps `startTime` ms and returns the process handle, open for the
// rest of the launcher's run. Nothing is started for an empty `appName`; a
// failed start is silent and returns nothing.
std::optional<uint32_t> ExecApplication(const HmiServices& s, const std::string& appName,
                                        const std::string& cmdLine,
                                        const std::string& currentDirectory, int32_t startTime);

// The HMI's start: the program, its arguments and its working directory.
struct JavaCommand {
  std::string javawPath;
  std::string arguments;
  std::string workingDirectory;
};

// The HMI's command line for the device in the host box, from the image
// folders, the device's release and the operational mode. The port goes on
// it from the release that has the option, the emergency session from the
// release that takes it there (common/ReleaseRules.h). Raises when
// a folder holds characters not allowed in paths, or when a port is needed
// and the host box's port is not a number.
JavaCommand JavaCommandLine(const std::string& jreImageFolder, const std::string& hmiLibImageFolder,
                            const std::string& hostText, int32_t releaseVersionAsInt, int mode,
                            const std::string& sessionToken);

// Starts the HMI: its process handle, or nothing when it did not start.
std::optional<uint32_t> RunJavaApp(const HmiServices& s, const JavaCommand& command);

} // namespace hmi
