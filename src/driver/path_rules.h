// path_rules.h - the shell's relative/absolute path rules, written once for either separator.
#pragma once

#include <optional>
#include <string>

namespace kestcam::paths {

// Maximum path length the shell helpers work with (MAX_PATH).
constexpr size_t kMaxPath = 260;

// True when path is relative under the rules of the separator: with '\\' a path is absolute when it
// starts with a separator ("\\dir", "\\\\server\\share") or a drive ("C:"); with '/' when it starts with '/'.
bool IsRelative(const std::string &path, char sep);

// Joins dir and path with exactly one separator between them (as PathAppend does); a leading ".\\"
// of path is dropped. Empty when the result would not fit in kMaxPath characters.
std::optional<std::string> Append(const std::string &dir, const std::string &path, char sep);

// The path of file relative to the directory dir ("..\\" steps for each directory of dir below their common
// root), or empty when there is no common root (another drive, or a relative operand).
std::optional<std::string> RelativePathTo(const std::string &dir, const std::string &file, char sep);

} // namespace kestcam::paths
