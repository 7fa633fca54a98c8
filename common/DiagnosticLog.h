// The developer-mode log: "Log.txt" beside the executable, one message a line.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace launch {

class DiagnosticLog {
public:
  // `enableLogging` is read at every call: start-up sets it after the log
  // object exists.
  DiagnosticLog(plat::Services& services, const bool& enableLogging)
      : s_(services), enableLogging_(enableLogging) {}

  std::string GetLogFileName();
  // Appends the message as one line. Read and write failures are raised.
  void LogMessage(const std::string& aMessage);
  // Deletes the file; a file that cannot be deleted is raised as an error.
  void ClearLog();

private:
  plat::Services& s_;
  const bool& enableLogging_;
};

} // namespace launch
