// platform_paths_win32.cpp - Windows paths: "\" separators, resolved by the shell's own path functions.
#include "driver/platform_paths.h"

#include <windows.h>

#include <shlwapi.h>

namespace kestcam::platform_paths {

char Separator() {
    return '\\';
}

bool IsRelative(const std::string &path) {
    return PathIsRelativeA(path.c_str()) != FALSE;
}

std::optional<std::string> Append(const std::string &dir, const std::string &path) {
    // PathAppendA works in place in a MAX_PATH buffer; a directory that does not fit cannot be joined.
    char buffer[MAX_PATH] = {};
    if (dir.size() >= sizeof buffer) return std::nullopt;
    dir.copy(buffer, dir.size());
    if (!PathAppendA(buffer, path.c_str())) return std::nullopt;
    return std::string(buffer);
}

std::optional<std::string> RelativePathTo(const std::string &dir, const std::string &file) {
    // A system path given with a trailing backslash ("C:\Data\") names the same directory, but
    // some shell versions then answer "\cam.dcf", a path rooted at the drive that would later
    // resolve to the wrong file. The directory is passed without it (a root such as "C:\" keeps it).
    char from[MAX_PATH] = {};
    if (dir.size() >= sizeof from) return std::nullopt;
    dir.copy(from, dir.size());
    PathRemoveBackslashA(from);

    char buffer[MAX_PATH] = {};
    if (!PathRelativePathToA(buffer, from, FILE_ATTRIBUTE_DIRECTORY, file.c_str(), FILE_ATTRIBUTE_NORMAL))
        return std::nullopt;
    // Only a relative answer is one: anything else is kept absolute by the caller.
    if (!PathIsRelativeA(buffer)) return std::nullopt;
    return std::string(buffer);
}

} // namespace kestcam::platform_paths
