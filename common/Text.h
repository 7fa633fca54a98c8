// Small text helpers shared by every subsystem. Text is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// Removes blanks and control characters (codes 32 and below) from both ends.
std::string Trim(std::string_view s);

// A whole text that is a decimal 32-bit integer with an optional sign and no
// blanks; nothing otherwise.
std::optional<int32_t> ParseInt32(std::string_view s);

// Like ParseInt32 but raises std::runtime_error "'<s>' is not a valid integer
// value" for anything else.
int32_t ToInt32(std::string_view s);

// "True"/"False" in any letter case, or a decimal integer (0 false, any other
// value true); nothing otherwise.
std::optional<bool> ParseBool(std::string_view s);

// Like ParseBool but raises "'<s>' is not a valid boolean value".
bool ToBool(std::string_view s);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view s);

// Splits at every occurrence of `sep`; two in a row give an empty part.
std::vector<std::string> Split(std::string_view s, char sep);

// Splits file text into lines at CR LF, LF or CR; a final line break does not
// start another line.
std::vector<std::string> SplitLines(std::string_view s);

// Number of Unicode characters (code points) in UTF-8 text.
size_t CharCount(std::string_view s);
// The first `n` characters (code points) of UTF-8 text.
std::string FirstChars(std::string_view s, size_t n);

// Replaces every occurrence of `from` (non-empty) by `to`.
std::string ReplaceAll(std::string s, std::string_view from, std::string_view to);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 to UTF-16 code units and back. Invalid UTF-8 bytes become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

} // namespace text
