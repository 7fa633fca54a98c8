// What the probes share: the wall clock as the Linux side reads it, and a
// small reader for "--name value" options.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace probe {

// Seconds since 1970 from the system's precise clock. Wine's system time is
// the Linux clock, so these stamps line up with Python's time.time() and with
// the device simulator's request log.
double EpochSeconds();

// Seconds with six decimals, as the JSON lines carry them.
std::string Fixed(double seconds);

// Options of the form --name value or --flag. Unknown names are kept, so the
// caller decides what is an error.
class Options {
public:
  Options(int argc, wchar_t** argv, int first);
  bool Has(const std::wstring& name) const { return values_.count(name) != 0; }
  std::wstring Text(const std::wstring& name, const std::wstring& fallback = L"") const;
  // The option as a whole number; the fallback when it is missing or not a number.
  int64_t Number(const std::wstring& name, int64_t fallback) const;

private:
  std::map<std::wstring, std::wstring> values_;
};

// UTF-16 to UTF-8, for output lines.
std::string Narrow(const std::wstring& text);

// Writes one line to standard output at once: the benchmark reads the file
// while the probe still runs.
void EmitLine(const std::string& line);

} // namespace probe
