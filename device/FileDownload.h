// A file of the device read into the cache, whole or not at all.
#pragma once

#include "device/DeviceSession.h"
#include "device/StepFailure.h"

#include <optional>
#include <string>

namespace device {

struct LaunchContext;

// Reads the device file `remotePath` from the device at `at` (the endpoint
// of the session the read belongs to, never the host box read again) into
// `localPath`. The body goes to a part file of this process beside it first
// and replaces `localPath` only when the device answered 200 with the whole
// body, so a failed read never leaves a partial archive where later
// launches would take it for a complete one.
//
// Nothing when the file is in place; otherwise a failure at
// Stage::Provisioning whose message is the reason: the connection's (no
// answer, another status, a body cut short, given up after a close) or this
// computer's (the part file cannot be made or written, the disk is full, the
// rename fails). The reason also goes to the developer log. A failed read
// says nothing certain about the device, so it does not end the session:
// the logout that follows finds out whether the device is still there.
std::optional<StepFailure> DownLoadFile(LaunchContext& c, const DeviceEndpoint& at,
                                        const std::string& remotePath,
                                        const std::string& localPath);

} // namespace device
