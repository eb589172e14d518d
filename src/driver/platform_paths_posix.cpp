// platform_paths_posix.cpp - POSIX paths: "/" separators under the shell's rules.
#include "driver/platform_paths.h"

#include "driver/path_rules.h"

namespace kestcam::platform_paths {

char Separator() { return '/'; }
bool IsRelative(const std::string &path) { return paths::IsRelative(path, '/'); }
std::optional<std::string> Append(const std::string &dir, const std::string &path) {
    return paths::Append(dir, path, '/');
}
std::optional<std::string> RelativePathTo(const std::string &dir, const std::string &file) {
    return paths::RelativePathTo(dir, file, '/');
}

} // namespace kestcam::platform_paths
