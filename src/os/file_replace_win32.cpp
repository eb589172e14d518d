// file_replace_win32.cpp - atomic replace with CreateFileA(CREATE_NEW) + FlushFileBuffers +
// MoveFileExA(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
#include "os/file_replace.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <windows.h>

namespace kestcam::os {
namespace {

std::error_code LastError() {
    return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

// Closes the handle and deletes the temporary file unless the move has taken it over.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
        if (!path_.empty()) ::DeleteFileA(path_.c_str());
    }

    std::error_code Create(const std::string &target) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = target + ".tmp." + std::to_string(::GetCurrentProcessId()) + "." +
                                    std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
            HANDLE h = ::CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                handle_ = h;
                path_ = candidate;
                return {};
            }
            DWORD error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return std::error_code(static_cast<int>(error), std::system_category());
        }
        return std::error_code(ERROR_FILE_EXISTS, std::system_category());
    }

    HANDLE handle() const { return handle_; }
    const std::string &path() const { return path_; }

    std::error_code Close() {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(h)) return LastError();
        return {};
    }
    void Release() { path_.clear(); }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
};

std::error_code WriteAll(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = data.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!::WriteFile(h, data.data(), chunk, &written, nullptr)) return LastError();
        if (written == 0) return std::error_code(ERROR_WRITE_FAULT, std::system_category());
        data.remove_prefix(written);
    }
    return {};
}

// True when name is "<leaf>.tmp.<pid>.<n>" of this target; pid receives the owner.
bool TempOwner(const std::string &leaf, const char *name, DWORD &pid) {
    const std::string prefix = leaf + ".tmp.";
    if (_strnicmp(name, prefix.c_str(), prefix.size()) != 0) return false;
    const char *p = name + prefix.size();
    char *end = nullptr;
    const unsigned long value = std::strtoul(p, &end, 10);
    if (end == p || *end != '.' || value == 0) return false;
    const char *counter = end + 1;
    if (*counter == '\0') return false;
    for (const char *c = counter; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return false;
    pid = static_cast<DWORD>(value);
    return true;
}

bool ProcessIsGone(DWORD pid) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}

// A process killed in the middle of a save leaves its temporary file behind; once that process is
// gone, nobody will move it, so the next successful save of the same file deletes it. Files of
// live processes are theirs (a save may be running there).
void SweepTemporaries(const std::string &path) {
    const size_t slash = path.find_last_of("\\/");
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + ".tmp.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        DWORD owner = 0;
        if (!TempOwner(leaf, found.cFileName, owner) || owner == ::GetCurrentProcessId()) continue;
        if (ProcessIsGone(owner)) ::DeleteFileA((dir + found.cFileName).c_str());
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

} // namespace

std::error_code ReplaceFileContents(const std::string &path, std::string_view data) {
    if (path.empty()) return std::error_code(ERROR_INVALID_PARAMETER, std::system_category());

    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return std::error_code(ERROR_ACCESS_DENIED, std::system_category());
        // MoveFileEx would refuse it too, but only after the temporary file was written.
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return std::error_code(ERROR_ACCESS_DENIED, std::system_category());
    }

    TempFile temp;
    if (std::error_code ec = temp.Create(path)) return ec;
    if (std::error_code ec = WriteAll(temp.handle(), data)) return ec;
    if (!::FlushFileBuffers(temp.handle())) return LastError();
    if (std::error_code ec = temp.Close()) return ec;
    if (!::MoveFileExA(temp.path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return LastError();
    temp.Release();
    SweepTemporaries(path);
    return {};
}

void RemoveStaleTemporaries(const std::string &path) {
    SweepTemporaries(path);
}

const char *NativeLineEnd() {
    return "\r\n";
}

} // namespace kestcam::os
