#include "ProbeClock.h"

#include <cstdio>
#include <cwchar>

namespace probe {

double EpochSeconds() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // 100 ns ticks since 1601-01-01; 11644473600 s separate that from 1970.
  constexpr uint64_t kEpochOffset = 116444736000000000ULL;
  return static_cast<double>(ticks - kEpochOffset) / 1e7;
}

std::string Fixed(double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", seconds);
  return buf;
}

Options::Options(int argc, wchar_t** argv, int first) {
  for (int i = first; i < argc; ++i) {
    std::wstring name = argv[i];
    if (name.rfind(L"--", 0) != 0)
      continue;
    name = name.substr(2);
    if (i + 1 < argc && std::wstring(argv[i + 1]).rfind(L"--", 0) != 0)
      values_[name] = argv[++i];
    else
      values_[name] = L"";
  }
}

std::wstring Options::Text(const std::wstring& name, const std::wstring& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

int64_t Options::Number(const std::wstring& name, int64_t fallback) const {
  auto it = values_.find(name);
  if (it == values_.end() || it->second.empty())
    return fallback;
  wchar_t* end = nullptr;
  const long long value = std::wcstoll(it->second.c_str(), &end, 10);
  return (end != nullptr && *end == L'\0') ? value : fallback;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

void EmitLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

} // namespace probe
