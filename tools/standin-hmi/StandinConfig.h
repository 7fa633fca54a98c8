// What the stand-in HMI is told: its command line, read the way a Java
// runtime reads it (runtime options, the main class, then the program's own
// options), and its misbehaviour settings from standin.ini and the
// environment. Nothing here touches the system, so the rules stay in one
// place that the window code only consults.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace standin {

// One piece of the command line as the journal records it, in the order met.
struct ArgEntry {
  // "arg" (an option understood), "main-class", "unknown-arg" (recorded and
  // ignored) or "missing-value" (an option at the end that needs a value).
  std::wstring kind;
  std::optional<std::wstring> name;  // the option
  std::optional<std::wstring> value; // its value, the main class or the unknown text
};

struct Arguments {
  std::vector<std::wstring> addOpens;
  std::vector<std::wstring> runtimeOptions; // -Xms256m, -Xmx1024m, ...
  std::optional<std::wstring> classPath;
  std::optional<std::wstring> mainClass;
  std::optional<std::wstring> host;
  std::optional<std::wstring> port;
  std::optional<std::wstring> auth;
  std::vector<ArgEntry> entries;

  // The name of the trust record for this host: host, ":", port, with 443
  // when no port was given.
  std::wstring TrustValueName() const;
};

// `args` without the program name (argv[0]).
Arguments ParseArguments(const std::vector<std::wstring>& args);

struct Settings {
  std::wstring journal; // empty: "standin-journal.txt" in the working directory
  unsigned delayMs = 0;
  std::optional<std::wstring> loginTitle;
  bool noWindow = false;
  bool exitNow = false;
  bool refuseMove = false;
  bool autoAccept = false;
  bool autoReject = false;
  unsigned promptMs = 300;
  std::optional<unsigned> lifetimeMs;
  bool startChild = false;
  bool refuseClose = false;
  unsigned hangMs = 0; // 0: the login window never hangs
};

// How one key of the settings was met, for the journal.
struct SettingNote {
  std::wstring kind; // "setting", "bad-setting" or "unknown-setting"
  std::wstring name;
  std::wstring value;
  std::wstring source; // "ini" or "env"
};

struct LoadedSettings {
  Settings settings;
  std::vector<SettingNote> notes;
};

// The environment prefix of the settings: VELTRA_STANDIN_<KEY uppercased>.
inline constexpr const wchar_t* kEnvPrefix = L"VELTRA_STANDIN_";

// `iniText`: the content of standin.ini (key=value lines). `environment`: the
// variables whose names begin with kEnvPrefix, as (name, value). A key set in
// the environment wins over the same key in the file.
LoadedSettings LoadSettings(const std::wstring& iniText,
                            const std::vector<std::pair<std::wstring, std::wstring>>& environment);

// Lower-case ASCII letters; other characters stay as they are.
std::wstring AsciiLower(std::wstring text);

} // namespace standin
