// Starting programs, and the HMI among them.
#pragma once

#include "common/LaunchState.h"
#include "hmi/HmiServices.h"
#include "platform/Desktop.h"

#include <cstdint>
#include <string>

namespace hmi {

inline constexpr int32_t kSmCxVirtualScreen = 78;
inline constexpr int32_t kSmCyVirtualScreen = 79;

// The first window of a started program: shown normally, 800 x 600, in the
// middle of a virtual screen of the given size. On a screen smaller than
// that the halves are negative and reach the system as their 32-bit two's
// complement, as it reads them.
plat::StartupInfo MakeStartupInfo(int32_t virtualWidth, int32_t virtualHeight);

// Starts `appName` with the arguments `cmdLine` in `currentDirectory`. On
// success: waits until the program first waits for input when asked to,
// sleeps `startTime` ms and leaves the process handle, still open and now the
// caller's, in `proc_id`; the thread handle is closed. Nothing is started for
// an empty `appName`, and a failed start is silent: `proc_id` then keeps its
// value.
void ExecApplication(const HmiServices& s, const std::string& appName, const std::string& cmdLine,
                     const std::string& currentDirectory, int32_t startTime, uint32_t& proc_id,
                     bool wait_for_input_idle);

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

// Starts the HMI from the state's image folders and sets `globals.proc_id`;
// a failed start leaves it as it was.
void RunJavaApp(const HmiServices& s, const launch::LoginFormState& state,
                const std::string& hostText, int mode, launch::LauncherGlobals& globals);

} // namespace hmi
