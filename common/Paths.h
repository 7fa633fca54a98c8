// Windows paths as the launcher builds them: the one join rule, rooted paths,
// folder-name screening and the split into folder and file name.
#pragma once

#include <stdexcept>
#include <string>

namespace paths {

// A path part that may not be used: characters not allowed in paths, or a
// version, release or build name that is not one plain folder name.
class InvalidPathError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

bool IsSeparator(char c);

// Joins two path parts: an empty part yields the other, a rooted right part
// yields itself, otherwise one backslash goes between them unless the left
// part already ends in "\", "/" or ":". A part holding characters not allowed
// in paths raises InvalidPathError; with `allowWildcards` "*" and "?" pass.
std::string JoinPath(const std::string& left, const std::string& right,
                     bool allowWildcards = false);

// True for "\x", "/x" and "C:..." paths.
bool IsRootedPath(const std::string& path);

// "C:\" for a drive path, "\\server\share\" for a UNC path, "\" for a path
// rooted on the current drive; empty for a relative path.
std::string RootOf(const std::string& path);

// Characters that no Windows path may hold (controls, quote, angle brackets,
// bar), and "*" and "?" unless `allowWildcards`.
bool HasInvalidPathChar(const std::string& part, bool allowWildcards);

// CON, PRN, AUX, NUL, COM1..9 and LPT1..9, with or without an extension.
bool IsReservedDeviceName(const std::string& name);

// Raises InvalidPathError unless `name` can be used as exactly one folder name
// inside our tree: not empty, no separator, not rooted, not "." or "..", no
// characters that the file system would refuse or silently alter (a trailing
// dot or blank is stripped by Windows, so "v4.10." would be "v4.10"), and not
// a reserved device name. Device answers and package properties are the
// source of these names, so they are screened before they reach the file
// system.
void CheckFolderName(const std::string& name, const char* what);

// The folder part of a path up to and including its last "\", "/" or ":";
// empty when there is none.
std::string FolderOf(const std::string& path);
// The folder that holds `path`, without a trailing separator ("C:\a\b.txt"
// gives "C:\a"); empty when there is none.
std::string ParentFolderOf(const std::string& path);
// What follows the last "\", "/" or ":"; the whole path when there is none.
std::string FileNameOf(const std::string& path);

} // namespace paths
