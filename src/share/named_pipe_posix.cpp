// named_pipe_posix.cpp - the sharing pipe as a SOCK_SEQPACKET Unix socket (message boundaries
// kept) at $XDG_RUNTIME_DIR/kestcam/NAME, else /tmp/kestcam-$UID/NAME, in a directory of mode 0700.
// Outside clients rely on this form.
//
// One instance: the server listens only while it waits for a client, with room for one connection
// in the queue, and stops taking connections before it accepts that one. So a second client is
// refused (ECONNREFUSED; a non-blocking connect finding the one place taken fails with EAGAIN),
// never connected and then reset, also when several connect at once. A lock file beside the
// socket, held while a server lives, tells a live server from a socket file that a crashed one left;
// the stale file is replaced.
#include "share/named_pipe.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "share/win32_exception.h"

namespace kestcam {

namespace {

std::string LockPath(const std::string &dir, const std::string &name) {
    return dir + "/." + name + ".lock";
}

std::string SocketDirectory() {
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') return std::string(runtime) + "/kestcam";
    return "/tmp/kestcam-" + std::to_string(static_cast<unsigned long>(geteuid()));
}

// A name is one path component of the socket directory: nothing that leaves it, and nothing that
// could be the lock file of another share (those begin with a dot).
void CheckName(const std::string &name) {
    if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) throw Win32Exception(EINVAL);
}

sockaddr_un Address(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw Win32Exception(ENAMETOOLONG);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// The directory exists, is ours, and only we may enter it.
void EnsurePrivateDirectory(const std::string &dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw Win32Exception();
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) throw Win32Exception();
    if (!S_ISDIR(st.st_mode)) throw Win32Exception(ENOTDIR);
    if (st.st_uid != geteuid()) throw Win32Exception(EACCES);
    if ((st.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0) throw Win32Exception();
}

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

} // namespace

struct CNamedPipe::State {
    bool server = false;
    std::string path;     // the socket
    std::string lockPath; // server: held while it serves this name
    int lockFd = -1;
    int listenFd = -1; // server, until a client is accepted
    bool listening = false;
    int peerFd = -1;   // the connection: accepted (server) or opened (client)
    bool readPending = false;
    void *readTarget = nullptr;
    int readCount = 0;
    std::vector<char> readBuffer;
    bool writePending = false;
    std::vector<char> writeBuffer;

    // A socket bound at the path, not yet taking connections: a client is refused until Listen.
    void Bind() {
        // Only the lock holder gets here, so a file at the path is stale or our own from the last
        // client: either way it is replaced.
        unlink(path.c_str());
        int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) throw Win32Exception();
        const sockaddr_un address = Address(path);
        if (bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
            const int error = errno;
            close(fd);
            throw Win32Exception(error);
        }
        listenFd = fd;
        listening = false;
    }
    void Listen() {
        if (listenFd < 0) Bind();
        // Backlog 0: one connection waits for accept, any other is refused.
        if (!listening && listen(listenFd, 0) != 0) throw Win32Exception();
        listening = true;
    }
};

CNamedPipe::CNamedPipe() : state_(std::make_unique<State>()) {
    state_->readBuffer.resize(kBufferSize);
}

CNamedPipe::~CNamedPipe() {
    Close();
}

std::string CNamedPipe::PathFor(const std::string &name) {
    return SocketDirectory() + "/" + name;
}

bool CNamedPipe::IsOpen() const {
    return state_->listenFd >= 0 || state_->peerFd >= 0 || state_->lockFd >= 0;
}

void CNamedPipe::Create(const std::string &name) {
    Close();
    CheckName(name);
    State &s = *state_;
    const std::string dir = SocketDirectory();
    EnsurePrivateDirectory(dir);
    s.path = dir + "/" + name;
    s.lockPath = LockPath(dir, name);
    Address(s.path); // refuses a path too long before anything is created
    const int lock = open(s.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) throw Win32Exception();
    if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EADDRINUSE : errno;
        close(lock);
        throw Win32Exception(error);
    }
    s.lockFd = lock;
    s.server = true;
    name_ = name;
    try {
        s.Bind();
    } catch (...) {
        Close();
        throw;
    }
}

void CNamedPipe::Listen() {
    State &s = *state_;
    if (!s.server) throw Win32Exception(EBADF);
    s.Listen();
}

void CNamedPipe::Open(const std::string &name) {
    Close();
    CheckName(name);
    State &s = *state_;
    const sockaddr_un address = Address(PathFor(name));
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw Win32Exception();
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        // The server's one place for a connection is taken: busy, as a refusal says.
        const int error = errno == EAGAIN ? ECONNREFUSED : errno;
        close(fd);
        throw Win32Exception(error);
    }
    s.server = false;
    s.path = address.sun_path;
    s.peerFd = fd;
    name_ = name;
    connected_ = 1;
}

share::Waitable CNamedPipe::Connect() {
    State &s = *state_;
    if (!s.server) throw Win32Exception(EBADF);
    // The last client has not been disconnected yet: its connection still holds the pipe.
    if (s.peerFd >= 0) throw Win32Exception(EISCONN);
    s.Listen();
    connected_ = 1;
    return share::Waitable{s.listenFd, POLLIN};
}

bool CNamedPipe::FinishConnect() {
    State &s = *state_;
    if (s.peerFd >= 0) return true;
    if (s.listenFd < 0) throw Win32Exception(EBADF);
    // One instance: from here on every other client is refused, until this one has gone. Closing the
    // listener with a connection still queued would reset that client instead.
    shutdown(s.listenFd, SHUT_RD);
    int fd = -1;
    do {
        fd = accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    const int error = errno;
    // The listener takes nobody any more: the next wait for a client makes a new one.
    CloseFd(s.listenFd);
    if (fd < 0) throw Win32Exception(error);
    s.peerFd = fd;
    return true;
}

share::Waitable CNamedPipe::Read(void *buffer, int count) {
    State &s = *state_;
    if (s.peerFd < 0) throw Win32Exception(ENOTCONN);
    s.readTarget = buffer;
    s.readCount = count;
    s.readPending = true;
    return share::Waitable{s.peerFd, POLLIN};
}

bool CNamedPipe::IsReadPending() const {
    return state_->readPending;
}

bool CNamedPipe::FinishRead(int &messageBytes) {
    State &s = *state_;
    if (!s.readPending || s.peerFd < 0) throw Win32Exception(ENOTCONN);
    // MSG_TRUNC: the full length of a message longer than the buffer; its surplus is dropped.
    const ssize_t n = recv(s.peerFd, s.readBuffer.data(), s.readBuffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return false;
        s.readPending = false;
        throw Win32Exception();
    }
    if (n == 0) {
        // An empty message, or the other end has gone.
        pollfd p{s.peerFd, POLLIN, 0};
        if (poll(&p, 1, 0) >= 0 && (p.revents & (POLLHUP | POLLRDHUP)) != 0) {
            s.readPending = false;
            throw Win32Exception(EPIPE);
        }
    }
    s.readPending = false;
    messageBytes = static_cast<int>(n);
    const size_t take =
        std::min({static_cast<size_t>(n), s.readBuffer.size(), static_cast<size_t>(std::max(s.readCount, 0))});
    if (take > 0 && s.readTarget != nullptr) std::memcpy(s.readTarget, s.readBuffer.data(), take);
    return true;
}

share::Waitable CNamedPipe::Write(const void *buffer, int count) {
    State &s = *state_;
    if (s.peerFd < 0) throw Win32Exception(ENOTCONN);
    if (s.writePending) throw Win32Exception(EBUSY);
    const char *bytes = static_cast<const char *>(buffer);
    s.writeBuffer.assign(bytes, bytes + (count > 0 ? count : 0));
    s.writePending = true;
    IsWritePending();
    return WriteWaitable();
}

bool CNamedPipe::IsWritePending() {
    State &s = *state_;
    if (!s.writePending) return false;
    if (s.peerFd < 0) {
        s.writePending = false;
        throw Win32Exception(ENOTCONN);
    }
    const ssize_t n = send(s.peerFd, s.writeBuffer.data(), s.writeBuffer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
        s.writePending = false;
        return false;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
    s.writePending = false;
    throw Win32Exception();
}

share::Waitable CNamedPipe::WriteWaitable() const {
    return share::Waitable{state_->peerFd, POLLOUT};
}

void CNamedPipe::Disconnect() {
    State &s = *state_;
    if (!connected_) return;
    if (s.writePending && s.peerFd >= 0) {
        try {
            const share::Waitable writable = WriteWaitable();
            if (share::WaitForAny(&writable, 1, flushBoundMs_) == 0) IsWritePending();
        } catch (const Win32Exception &) {
            // The client has gone: nothing is left to deliver.
        }
    }
    // Messages already sent stay readable by the client until it has taken them.
    CloseFd(s.peerFd);
    s.readPending = false;
    s.writePending = false;
    connected_ = 0;
}

bool CNamedPipe::IsServed(const std::string &name) {
    if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) return false;
    const int fd = open(LockPath(SocketDirectory(), name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd); // releases a lock it got
    return held;
}

void CNamedPipe::Cancel() {
    state_->readPending = false;
    state_->writePending = false;
}

void CNamedPipe::Close() {
    State &s = *state_;
    Disconnect();
    CloseFd(s.peerFd);
    CloseFd(s.listenFd);
    if (s.server && s.lockFd >= 0) {
        unlink(s.path.c_str());
        unlink(s.lockPath.c_str());
    }
    CloseFd(s.lockFd);
    s.server = false;
    name_.clear();
}

} // namespace kestcam
