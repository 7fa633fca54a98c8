#include "hmi/ProcessUtils.h"

#include "common/DeviceAddress.h"
#include "common/Paths.h"
#include "common/ReleaseRules.h"
#include "hmi/HmiContract.h"

#include <algorithm>

namespace hmi {
namespace {

constexpr int32_t kWindowWidth = 800;
constexpr int32_t kWindowHeight = 600;

// Half of what the screen leaves beside the window, truncated toward zero.
// Computed in 64 bits so that no screen size can overflow it.
int32_t CenteredOffset(int32_t screen, int32_t window) {
  return static_cast<int32_t>((static_cast<int64_t>(screen) - window) / 2);
}

} // namespace

plat::WindowPlacement CenteredPlacement(plat::ScreenSize virtualScreen) {
  return {CenteredOffset(virtualScreen.width, kWindowWidth),
          CenteredOffset(virtualScreen.height, kWindowHeight), kWindowWidth, kWindowHeight};
}

std::optional<uint32_t> ExecApplication(const HmiServices& s, const std::string& appName,
                                        const std::string& cmdLine,
                                        const std::string& currentDirectory, int32_t startTime) {
  if (appName.empty())
    return std::nullopt;
  std::optional<uint32_t> process = s.processes.CreateProcess(
      appName + " " + cmdLine, currentDirectory, CenteredPlacement(s.processes.VirtualScreen()));
  if (process)
    s.system.Sleep(static_cast<uint32_t>(std::max(startTime, 0)));
  return process;
}

JavaCommand JavaCommandLine(const std::string& jreImageFolder, const std::string& hmiLibImageFolder,
                            const std::string& hostText, int32_t releaseVersionAsInt, int mode,
                            const std::string& sessionToken) {
  JavaCommand command;
  command.javawPath = paths::JoinPath(jreImageFolder, kJavawRelativePath);
  std::string classPath = paths::JoinPath(hmiLibImageFolder, "*", true);
  command.arguments = "--add-opens java.prefs/java.util.prefs=ALL-UNNAMED -Xms256m -Xmx1024m "
                      "-classpath \"" +
                      classPath + "\" " + kMainClass + " -host " + addr::ExtractHost(hostText);
  if (rules::HasPortOption(releaseVersionAsInt))
    command.arguments += " -port " + std::to_string(addr::ExtractPort(hostText));
  if (mode == launch::modeEmergencyAccess && rules::TakesSessionOnCommandLine(releaseVersionAsInt))
    command.arguments += std::string(" -auth ") + launch::kSessionCookieName + "=" + sessionToken;
  command.workingDirectory = jreImageFolder;
  return command;
}

std::optional<uint32_t> RunJavaApp(const HmiServices& s, const JavaCommand& command) {
  return ExecApplication(s, command.javawPath, command.arguments, command.workingDirectory, 0);
}

} // namespace hmi
