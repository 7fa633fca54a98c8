// Watches another program's top-level window from outside, the way the
// benchmark needs it. Output: one JSON object per line on standard output;
// times are wall-clock seconds since 1970 (ProbeClock.h).
//
//   winprobe window  --class NAME [--timeout MS] [--poll-ms MS] [--settle-ms MS] [--close]
//     When a window of that class first exists and first is visible; after
//     --settle-ms its process's working set and peak working set; with --close
//     it then posts WM_CLOSE and waits for the window to go.
//
//   winprobe respond --class NAME [--timeout MS] [--interval-ms MS] [--answer-ms MS]
//                    [--duration-ms MS] [--close]
//     Once the window exists (waited for up to --timeout), sends it WM_NULL
//     with SendMessageTimeoutW every --interval-ms and reports whether it
//     answered within --answer-ms, until the window is gone or, with
//     --duration-ms, that long; with --close it then posts WM_CLOSE.
//
// Both print {"event":"ready"} first, so the benchmark starts the program under
// test only once the probe is watching.
#include "ProbeClock.h"

#include <psapi.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using probe::EmitLine;
using probe::EpochSeconds;
using probe::Fixed;

struct Memory {
  bool ok = false;
  DWORD pid = 0;
  unsigned long long workingSet = 0;
  unsigned long long peakWorkingSet = 0;
  DWORD error = 0;
};

// The working set of the process that owns `window`, as that process's
// GetProcessMemoryInfo reports it.
Memory ProcessMemory(HWND window) {
  Memory m;
  GetWindowThreadProcessId(window, &m.pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, m.pid);
  if (process == nullptr) {
    m.error = GetLastError();
    return m;
  }
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    m.ok = true;
    m.workingSet = counters.WorkingSetSize;
    m.peakWorkingSet = counters.PeakWorkingSetSize;
  } else {
    m.error = GetLastError();
  }
  CloseHandle(process);
  return m;
}

std::string MemoryFields(const Memory& m) {
  std::string out = ",\"pid\":" + std::to_string(m.pid);
  if (m.ok)
    out += ",\"working_set\":" + std::to_string(m.workingSet) +
           ",\"peak_working_set\":" + std::to_string(m.peakWorkingSet);
  else
    out += ",\"memory_error\":" + std::to_string(m.error);
  return out;
}

// Polls for a top-level window of `windowClass` until `deadline` (seconds).
HWND WaitForWindow(const std::wstring& windowClass, double deadline, DWORD pollMs) {
  for (;;) {
    HWND window = FindWindowW(windowClass.c_str(), nullptr);
    if (window != nullptr)
      return window;
    if (EpochSeconds() >= deadline)
      return nullptr;
    Sleep(pollMs);
  }
}

int WatchWindow(const probe::Options& options, const std::wstring& windowClass) {
  const double start = EpochSeconds();
  const double deadline = start + static_cast<double>(options.Number(L"timeout", 60000)) / 1000.0;
  const DWORD pollMs = static_cast<DWORD>(options.Number(L"poll-ms", 5));
  EmitLine("{\"event\":\"ready\",\"time\":" + Fixed(start) + "}");

  HWND window = WaitForWindow(windowClass, deadline, pollMs);
  if (window == nullptr) {
    EmitLine("{\"event\":\"timeout\",\"time\":" + Fixed(EpochSeconds()) + "}");
    return 1;
  }
  const double exists = EpochSeconds();
  double visible = 0;
  while (visible == 0) {
    if (!IsWindow(window)) {
      EmitLine("{\"event\":\"gone\",\"time\":" + Fixed(EpochSeconds()) + "}");
      return 1;
    }
    if (IsWindowVisible(window))
      visible = EpochSeconds();
    else if (EpochSeconds() >= deadline) {
      EmitLine("{\"event\":\"timeout\",\"time\":" + Fixed(EpochSeconds()) + "}");
      return 1;
    } else
      Sleep(pollMs);
  }
  Sleep(static_cast<DWORD>(options.Number(L"settle-ms", 0)));
  const Memory memory = ProcessMemory(window);
  EmitLine("{\"event\":\"window\",\"exists\":" + Fixed(exists) + ",\"visible\":" + Fixed(visible) +
           MemoryFields(memory) + "}");

  if (!options.Has(L"close"))
    return 0;
  PostMessageW(window, WM_CLOSE, 0, 0);
  const double closeDeadline = EpochSeconds() + 30;
  while (IsWindow(window) && EpochSeconds() < closeDeadline)
    Sleep(pollMs);
  const bool closed = !IsWindow(window);
  EmitLine("{\"event\":\"closed\",\"ok\":" + std::string(closed ? "true" : "false") +
           ",\"time\":" + Fixed(EpochSeconds()) + "}");
  return closed ? 0 : 1;
}

int ProbeResponses(const probe::Options& options, const std::wstring& windowClass) {
  const double start = EpochSeconds();
  const double deadline = start + static_cast<double>(options.Number(L"timeout", 60000)) / 1000.0;
  const double interval = static_cast<double>(options.Number(L"interval-ms", 1000)) / 1000.0;
  const UINT answerMs = static_cast<UINT>(options.Number(L"answer-ms", 100));
  const int64_t durationMs = options.Number(L"duration-ms", 0);
  EmitLine("{\"event\":\"ready\",\"time\":" + Fixed(start) + "}");

  HWND window = WaitForWindow(windowClass, deadline, 5);
  if (window == nullptr) {
    EmitLine("{\"event\":\"timeout\",\"time\":" + Fixed(EpochSeconds()) + "}");
    return 1;
  }
  const double found = EpochSeconds();
  const double end = durationMs > 0 ? found + static_cast<double>(durationMs) / 1000.0 : 0;
  EmitLine("{\"event\":\"window\",\"time\":" + Fixed(found) + "}");
  double next = found;
  while (IsWindow(window) && (end == 0 || EpochSeconds() < end)) {
    const double sent = EpochSeconds();
    DWORD_PTR result = 0;
    SetLastError(0);
    const bool answered =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, answerMs, &result) != 0;
    const DWORD error = answered ? 0 : GetLastError();
    const double done = EpochSeconds();
    const Memory memory = ProcessMemory(window);
    EmitLine("{\"event\":\"probe\",\"time\":" + Fixed(sent) + ",\"answered\":" +
             (answered ? "true" : "false") + ",\"wait_ms\":" + Fixed((done - sent) * 1000.0) +
             ",\"error\":" + std::to_string(error) + MemoryFields(memory) + "}");
    next += interval;
    const double now = EpochSeconds();
    if (next > now)
      Sleep(static_cast<DWORD>((next - now) * 1000.0));
    else
      next = now; // a probe that took longer than the interval starts the beat again
  }
  const bool gone = !IsWindow(window);
  if (!gone && options.Has(L"close"))
    PostMessageW(window, WM_CLOSE, 0, 0);
  EmitLine("{\"event\":\"end\",\"time\":" + Fixed(EpochSeconds()) +
           ",\"window_gone\":" + (gone ? "true" : "false") + "}");
  return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: winprobe window|respond --class NAME [options]\n", stderr);
    return 2;
  }
  const std::wstring mode = argv[1];
  const probe::Options options(argc, argv, 2);
  const std::wstring windowClass = options.Text(L"class");
  if (windowClass.empty()) {
    std::fputs("winprobe: --class is required\n", stderr);
    return 2;
  }
  if (mode == L"window")
    return WatchWindow(options, windowClass);
  if (mode == L"respond")
    return ProbeResponses(options, windowClass);
  std::fputs("winprobe: unknown mode\n", stderr);
  return 2;
}
