// platform_paths.h - the platform's path functions behind the logger's path helpers.
#pragma once

#include <optional>
#include <string>

namespace kestcam::platform_paths {

char Separator();
bool IsRelative(const std::string &path);
std::optional<std::string> Append(const std::string &dir, const std::string &path);
// Relative path from the directory dir to the file; empty when the platform cannot form one.
std::optional<std::string> RelativePathTo(const std::string &dir, const std::string &file);

} // namespace kestcam::platform_paths
