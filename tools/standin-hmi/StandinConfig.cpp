#include "tools/standin-hmi/StandinConfig.h"

#include <algorithm>
#include <map>

namespace standin {

namespace {

bool StartsWith(const std::wstring& s, const std::wstring& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

std::wstring Trim(const std::wstring& s) {
  const wchar_t* blanks = L" \t\r\n";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::wstring::npos)
    return {};
  size_t last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

// A decimal count of milliseconds; anything else (a sign, blanks inside,
// more than fits in 31 bits) is refused rather than half-read.
std::optional<unsigned> ParseMilliseconds(const std::wstring& text) {
  if (text.empty() || text.size() > 10)
    return std::nullopt;
  unsigned long long value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9')
      return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value > 0x7FFFFFFFull)
    return std::nullopt;
  return static_cast<unsigned>(value);
}

std::optional<bool> ParseFlag(const std::wstring& text) {
  std::wstring lower = AsciiLower(text);
  if (lower == L"1" || lower == L"true" || lower == L"yes" || lower == L"on")
    return true;
  if (lower.empty() || lower == L"0" || lower == L"false" || lower == L"no" || lower == L"off")
    return false;
  return std::nullopt;
}

enum class KeyKind { Text, Milliseconds, Flag };

struct KeyInfo {
  const wchar_t* name;
  KeyKind kind;
};

constexpr KeyInfo kKeys[] = {
    {L"journal", KeyKind::Text},           {L"delay_ms", KeyKind::Milliseconds},
    {L"login_title", KeyKind::Text},       {L"no_window", KeyKind::Flag},
    {L"exit_now", KeyKind::Flag},          {L"refuse_move", KeyKind::Flag},
    {L"auto_accept", KeyKind::Flag},       {L"auto_reject", KeyKind::Flag},
    {L"prompt_ms", KeyKind::Milliseconds}, {L"lifetime_ms", KeyKind::Milliseconds},
    {L"start_child", KeyKind::Flag},       {L"refuse_close", KeyKind::Flag},
    {L"hang_ms", KeyKind::Milliseconds},
};

bool IsKnownKey(const std::wstring& key) {
  return std::any_of(std::begin(kKeys), std::end(kKeys),
                     [&](const KeyInfo& k) { return key == k.name; });
}

// Stores a value that has passed its kind's check.
void Apply(Settings& s, const std::wstring& key, const std::wstring& text) {
  if (key == L"journal")
    s.journal = text;
  else if (key == L"login_title")
    s.loginTitle = text;
  else if (key == L"delay_ms")
    s.delayMs = *ParseMilliseconds(text);
  else if (key == L"prompt_ms")
    s.promptMs = *ParseMilliseconds(text);
  else if (key == L"lifetime_ms")
    s.lifetimeMs = *ParseMilliseconds(text);
  else if (key == L"hang_ms")
    s.hangMs = *ParseMilliseconds(text);
  else if (key == L"no_window")
    s.noWindow = *ParseFlag(text);
  else if (key == L"exit_now")
    s.exitNow = *ParseFlag(text);
  else if (key == L"refuse_move")
    s.refuseMove = *ParseFlag(text);
  else if (key == L"auto_accept")
    s.autoAccept = *ParseFlag(text);
  else if (key == L"auto_reject")
    s.autoReject = *ParseFlag(text);
  else if (key == L"start_child")
    s.startChild = *ParseFlag(text);
  else if (key == L"refuse_close")
    s.refuseClose = *ParseFlag(text);
}

bool Valid(KeyKind kind, const std::wstring& text) {
  switch (kind) {
  case KeyKind::Text:
    return true;
  case KeyKind::Milliseconds:
    return ParseMilliseconds(text).has_value();
  case KeyKind::Flag:
    return ParseFlag(text).has_value();
  }
  return false;
}

} // namespace

std::wstring AsciiLower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z')
      c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

std::wstring Arguments::TrustValueName() const {
  return host.value_or(L"") + L":" + port.value_or(L"443");
}

Arguments ParseArguments(const std::vector<std::wstring>& args) {
  Arguments parsed;
  auto& entries = parsed.entries;
  size_t i = 0;

  // Options of the runtime, up to the main class.
  for (; i < args.size() && !parsed.mainClass; ++i) {
    const std::wstring& arg = args[i];
    auto takeValue = [&](std::optional<std::wstring>* into, std::vector<std::wstring>* list) {
      if (i + 1 >= args.size()) {
        entries.push_back({L"missing-value", arg, std::nullopt});
        return;
      }
      const std::wstring& value = args[++i];
      entries.push_back({L"arg", arg, value});
      if (into)
        *into = value;
      if (list)
        list->push_back(value);
    };
    if (arg == L"--add-opens") {
      takeValue(nullptr, &parsed.addOpens);
    } else if (StartsWith(arg, L"--add-opens=")) {
      std::wstring value = arg.substr(std::wstring(L"--add-opens=").size());
      entries.push_back({L"arg", L"--add-opens", value});
      parsed.addOpens.push_back(value);
    } else if (arg == L"-classpath" || arg == L"-cp" || arg == L"--class-path") {
      takeValue(&parsed.classPath, nullptr);
    } else if (StartsWith(arg, L"-X")) {
      entries.push_back({L"arg", arg, std::nullopt});
      parsed.runtimeOptions.push_back(arg);
    } else if (StartsWith(arg, L"-")) {
      entries.push_back({L"unknown-arg", std::nullopt, arg});
    } else {
      parsed.mainClass = arg;
      entries.push_back({L"main-class", std::nullopt, arg});
    }
  }

  // The program's own options, after the main class.
  for (; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    std::optional<std::wstring>* into = nullptr;
    if (arg == L"-host")
      into = &parsed.host;
    else if (arg == L"-port")
      into = &parsed.port;
    else if (arg == L"-auth")
      into = &parsed.auth;
    if (!into) {
      entries.push_back({L"unknown-arg", std::nullopt, arg});
      continue;
    }
    if (i + 1 >= args.size()) {
      entries.push_back({L"missing-value", arg, std::nullopt});
      continue;
    }
    *into = args[++i];
    entries.push_back({L"arg", arg, **into});
  }
  return parsed;
}

LoadedSettings LoadSettings(const std::wstring& iniText,
                            const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
  LoadedSettings loaded;
  std::map<std::wstring, std::wstring> fromIni;
  std::map<std::wstring, std::wstring> fromEnv;

  size_t start = 0;
  while (start <= iniText.size()) {
    size_t end = iniText.find(L'\n', start);
    if (end == std::wstring::npos)
      end = iniText.size();
    std::wstring line = Trim(iniText.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == L'#' || line[0] == L';' || line[0] == L'[')
      continue;
    size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) {
      loaded.notes.push_back({L"unknown-setting", line, {}, L"ini"});
      continue;
    }
    std::wstring key = AsciiLower(Trim(line.substr(0, eq)));
    std::wstring value = Trim(line.substr(eq + 1));
    if (IsKnownKey(key))
      fromIni[key] = value;
    else
      loaded.notes.push_back({L"unknown-setting", key, value, L"ini"});
  }

  const std::wstring prefix = kEnvPrefix;
  for (const auto& [name, value] : environment) {
    if (name.size() <= prefix.size() ||
        AsciiLower(name.substr(0, prefix.size())) != AsciiLower(prefix))
      continue;
    std::wstring key = AsciiLower(name.substr(prefix.size()));
    if (IsKnownKey(key))
      fromEnv[key] = value;
    else
      loaded.notes.push_back({L"unknown-setting", key, value, L"env"});
  }

  for (const KeyInfo& key : kKeys) {
    const std::wstring* value = nullptr;
    const wchar_t* source = nullptr;
    if (auto it = fromEnv.find(key.name); it != fromEnv.end()) {
      value = &it->second;
      source = L"env";
    } else if (auto it2 = fromIni.find(key.name); it2 != fromIni.end()) {
      value = &it2->second;
      source = L"ini";
    }
    if (!value)
      continue;
    if (!Valid(key.kind, *value)) {
      loaded.notes.push_back({L"bad-setting", key.name, *value, source});
      continue;
    }
    Apply(loaded.settings, key.name, *value);
    loaded.notes.push_back({L"setting", key.name, *value, source});
  }
  return loaded;
}

} // namespace standin
