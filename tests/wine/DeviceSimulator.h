// The device simulator (tools/devsim/devsim.py) started from inside a Wine
// test: a real HTTPS server on 127.0.0.1 with a self-signed certificate, and
// its plain-HTTP control API for configuring it and reading what it received.
//
// Wine hands a command line that names a Linux program to Linux, but gives no
// process handle back. So the simulator runs under /bin/sh, which redirects its
// output to a log file, keeps it under a watchdog (`timeout`) so that a test
// process that dies cannot leave it behind for long, and writes its exit code
// to a file when it ends. The ready file, the log and the exit file live in a
// work folder that both sides see.
//
// The simulator's Python and script come from the environment variables
// VELTRA_PYTHON (default /usr/bin/python3) and VELTRA_DEVSIM (default: the
// tools/devsim/devsim.py of the source tree the tests were built from).
#pragma once

#include "tests/wine/LauncherHarness.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace winetest {

struct DeviceSimulatorOptions {
  // How many HTTPS ports, each on a free port of 127.0.0.1.
  int devicePorts = 1;
  // These HTTPS ports of 127.0.0.1 instead (443 needs root); when not empty,
  // devicePorts is not used.
  std::vector<int> fixedPorts;
  // The initial configuration as a JSON object; the simulator's defaults when
  // empty. POST /reset returns to this configuration.
  std::string configJson;
  // Folder (Windows path) with the jre\ and lib\ sub-folders it serves files from.
  std::filesystem::path filesDir;
  // The simulator ends itself after this long, whatever happens to the test.
  std::chrono::seconds watchdog{1800};
  std::chrono::milliseconds startDeadline{60000};
};

// One request as the simulator received it.
struct RecordedRequest {
  int seq = 0;
  int port = 0;
  std::string method;
  std::string path; // with the query
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers; // as on the wire, in order
  std::map<std::string, std::string> cookies;
  std::string body; // the exact bytes
  std::string bodyError;

  // Every value of the header `name` (any letter case), in order.
  std::vector<std::string> HeaderValues(const std::string& name) const;
};

// The paths of the requests, in order.
std::vector<std::string> Paths(const std::vector<RecordedRequest>& requests);
// How many of the requests went to `path`.
size_t CountOf(const std::vector<RecordedRequest>& requests, const std::string& path);

struct ControlAnswer {
  int status = 0;
  std::string body;
};

class DeviceSimulator {
public:
  // Starts the simulator and waits until it serves; throws HarnessError with
  // the simulator's own output when it does not come up.
  explicit DeviceSimulator(const DeviceSimulatorOptions& options = {});
  // Stops the simulator and removes its work folder.
  ~DeviceSimulator();
  DeviceSimulator(const DeviceSimulator&) = delete;
  DeviceSimulator& operator=(const DeviceSimulator&) = delete;

  const std::vector<int>& Ports() const { return ports_; }
  int Port(size_t index = 0) const { return ports_.at(index); }
  int ControlPort() const { return controlPort_; }
  // "https://127.0.0.1:<port>" followed by `path` (which starts with "/").
  std::string Url(const std::string& path, size_t portIndex = 0) const;

  // Merges a JSON object into the configuration. Throws HarnessError when the
  // simulator refuses it.
  void Configure(const std::string& json);
  // Back to the start-up configuration, with no sessions and an empty request log.
  void Reset();
  // The request log from sequence number `since` on.
  std::vector<RecordedRequest> Requests(int since = 0);
  // A raw call of the control API.
  ControlAnswer Control(const std::string& method, const std::string& path,
                        const std::string& body = {});

  // What the simulator wrote to its standard output and error so far.
  std::string Log() const;

  // Asks the simulator to end and waits until it has; kills it when it does
  // not. Called by the destructor; safe to call twice.
  void Stop();

private:
  void Launch(const std::vector<std::wstring>& args);
  bool Exited() const;
  [[noreturn]] void Fail(const std::string& what);

  TempFolder work_;
  std::string unixWork_;
  std::vector<int> ports_;
  int controlPort_ = 0;
  int pid_ = 0;
  bool running_ = false;
};

} // namespace winetest
