// file_replace_posix.cpp - atomic replace with open(O_EXCL) + fsync + rename(2).
#include "os/file_replace.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestcam::os {
namespace {

std::error_code LastError() {
    return std::error_code(errno, std::generic_category());
}

// Closes the descriptor and removes the temporary file unless the rename has taken it over.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    std::error_code Create(const std::string &target) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string candidate = target + ".tmp." + std::to_string(::getpid()) + "." +
                                    std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
            // 0666 lets the umask decide, as for any newly created file.
            int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_ = fd;
                path_ = candidate;
                return {};
            }
            if (errno != EEXIST) return LastError();
        }
        return std::make_error_code(std::errc::file_exists);
    }

    int fd() const { return fd_; }
    const std::string &path() const { return path_; }

    std::error_code Close() {
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return LastError();
        return {};
    }
    void Release() { path_.clear(); }

private:
    int fd_ = -1;
    std::string path_;
};

std::error_code WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

std::string DirectoryOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself durable; a failure here is not worth failing a write already done.
void SyncDirectory(const std::string &dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The pid of a temporary file "<leaf>.tmp.<pid>.<n>" of this target, or 0 when name is none.
pid_t TempOwner(const std::string &leaf, const char *name) {
    const std::string prefix = leaf + ".tmp.";
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) return 0;
    const char *p = name + prefix.size();
    char *end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    if (end == p || *end != '.' || pid <= 0 || pid > INT_MAX) return 0;
    const char *counter = end + 1;
    if (*counter == '\0') return 0;
    for (const char *c = counter; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return 0;
    return static_cast<pid_t>(pid);
}

// A process killed in the middle of a save leaves its temporary file behind; once that process is
// gone, nobody will rename it, so the next successful save of the same file removes it. Files of
// live processes are theirs (a save may be running there).
void SweepTemporaries(const std::string &path) {
    const std::string dir = DirectoryOf(path);
    const size_t slash = path.find_last_of('/');
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR *listing = ::opendir(dir.c_str());
    if (listing == nullptr) return;
    while (const dirent *entry = ::readdir(listing)) {
        const pid_t owner = TempOwner(leaf, entry->d_name);
        if (owner == 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
        ::unlink((dir + "/" + entry->d_name).c_str());
    }
    ::closedir(listing);
}

} // namespace

std::error_code ReplaceFileContents(const std::string &requested, std::string_view data) {
    if (requested.empty()) return std::make_error_code(std::errc::invalid_argument);

    // Renaming over a symbolic link would replace the link, not the file the user pointed it at.
    std::string path = requested;
    struct stat linkInfo {};
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) path = resolved;
    }

    struct stat old {};
    bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists) {
        if (S_ISDIR(old.st_mode)) return std::make_error_code(std::errc::is_a_directory);
        if (::access(path.c_str(), W_OK) != 0) return LastError();
    }

    TempFile temp;
    if (std::error_code ec = temp.Create(path)) return ec;
    if (exists) {
        // Keep the owner and permissions the user gave the file; a failure only loses those.
        (void)::fchown(temp.fd(), old.st_uid, old.st_gid);
        (void)::fchmod(temp.fd(), old.st_mode & 07777);
    }
    if (std::error_code ec = WriteAll(temp.fd(), data)) return ec;
    if (::fsync(temp.fd()) != 0) return LastError();
    if (std::error_code ec = temp.Close()) return ec;
    if (::rename(temp.path().c_str(), path.c_str()) != 0) return LastError();
    temp.Release();
    SyncDirectory(DirectoryOf(path));
    SweepTemporaries(path);
    return {};
}

void RemoveStaleTemporaries(const std::string &path) {
    SweepTemporaries(path);
}

const char *NativeLineEnd() {
    return "\n";
}

} // namespace kestcam::os
