// The developer-mode log, "Log.txt", one message a line, and the folder of the
// developer-mode files: beside the executable, or, where that folder cannot be
// written (an installed copy under Program Files run by a standard user), the
// user's own application-data folder for the program. The log then starts by
// saying where it is.
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
  // Where the developer-mode files go, with a trailing separator; decided at
  // the first call.
  std::string DeveloperFolder();
  // Appends the message as one line. Read and write failures are raised.
  void LogMessage(const std::string& aMessage);
  // Deletes the file; a file that cannot be deleted is raised as an error.
  void ClearLog();

private:
  plat::Services& s_;
  const bool& enableLogging_;
  std::string folder_;
  // The program's folder could not be written: the files went elsewhere.
  bool movedAway_ = false;
};

} // namespace launch
