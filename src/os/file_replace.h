// file_replace.h - replace a file's whole content atomically: readers see the old file or the
// new one, never a mix, and a failed or interrupted write leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace kestcam::os {

// Writes data to a temporary file in the target's directory, flushes it to the disk, then
// renames it over path. On failure the temporary file is removed, path is untouched and the
// error of the call that failed is returned. A target that exists but may not be written by
// the caller is refused, as a read-only file is on Windows.
std::error_code ReplaceFileContents(const std::string &path, std::string_view data);

// Removes the temporary files that replaces of path left behind in processes that have ended (a
// save killed half-way); a successful replace does it too. Files of live processes stay.
void RemoveStaleTemporaries(const std::string &path);

// The line end text files of this platform use ("\r\n" or "\n").
const char *NativeLineEnd();

} // namespace kestcam::os
