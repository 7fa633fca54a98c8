#include "hmi/ProcessUtils.h"

#include "common/DeviceAddress.h"
#include "common/Paths.h"
#include "common/ReleaseRules.h"
#include "hmi/HmiContract.h"

#include <algorithm>

namespace hmi {
namespace {

constexpr uint32_t kStartfUseShowWindow = 0x1;
constexpr uint32_t kStartfUseSize = 0x2;
constexpr uint32_t kStartfUsePosition = 0x4;
constexpr uint16_t kSwShowNormal = 1;
constexpr int32_t kWindowWidth = 800;
constexpr int32_t kWindowHeight = 600;

// Half of what the screen leaves beside the window, truncated toward zero,
// in the unsigned field the system reads it from. Computed in 64 bits so that
// no screen size can overflow it.
uint32_t CenteredOffset(int32_t screen, int32_t window) {
  int64_t half = (static_cast<int64_t>(screen) - window) / 2;
  return static_cast<uint32_t>(static_cast<int32_t>(half));
}

} // namespace

plat::StartupInfo MakeStartupInfo(int32_t virtualWidth, int32_t virtualHeight) {
  plat::StartupInfo info;
  info.flags = kStartfUseShowWindow | kStartfUseSize | kStartfUsePosition;
  info.showWindow = kSwShowNormal;
  info.xSize = kWindowWidth;
  info.ySize = kWindowHeight;
  info.x = CenteredOffset(virtualWidth, kWindowWidth);
  info.y = CenteredOffset(virtualHeight, kWindowHeight);
  return info;
}

void ExecApplication(const HmiServices& s, const std::string& appName, const std::string& cmdLine,
                     const std::string& currentDirectory, int32_t startTime, uint32_t& proc_id,
                     bool wait_for_input_idle) {
  plat::StartupInfo startup = MakeStartupInfo(s.processes.GetSystemMetrics(kSmCxVirtualScreen),
                                              s.processes.GetSystemMetrics(kSmCyVirtualScreen));
  if (appName.empty())
    return;
  std::optional<plat::StartedProcess> started =
      s.processes.CreateProcess(appName + " " + cmdLine, currentDirectory, startup);
  if (!started)
    return;
  if (wait_for_input_idle)
    s.processes.WaitForInputIdle(started->process);
  s.system.Sleep(static_cast<uint32_t>(std::max(startTime, 0)));
  proc_id = started->process;
  s.processes.CloseHandle(started->thread);
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

void RunJavaApp(const HmiServices& s, const launch::LoginFormState& state,
                const std::string& hostText, int mode, launch::LauncherGlobals& globals) {
  JavaCommand command = JavaCommandLine(state.jreImageFolder, state.hmiLibImageFolder, hostText,
                                        state.releaseVersionAsInt, mode, state.sessionToken);
  ExecApplication(s, command.javawPath, command.arguments, command.workingDirectory, 0,
                  globals.proc_id, false);
}

} // namespace hmi
