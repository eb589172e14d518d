// sim_camera_server_posix.cpp - the simulated camera's pseudo-terminal and its serving thread:
// whatever arrives on the master side is fed to the camera, whatever it answers is written back.
#include "sim/camera/sim_camera_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestcam::sim {

namespace {

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool WriteAll(int fd, const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

SimCameraServer::SimCameraServer(const SimCameraConfig &config) : camera_(config) {}

SimCameraServer::~SimCameraServer() {
    Stop();
}

bool SimCameraServer::Start(std::string &error) {
    if (thread_.joinable()) return true;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const char *name =
        master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 ? ::ptsname(master_) : nullptr;
    if (name != nullptr) {
        path_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    termios tio{};
    // Raw from the start: a fresh terminal echoes, edits lines and stops on XOFF bytes.
    bool ok = slave_ >= 0 && ::tcgetattr(slave_, &tio) == 0;
    if (ok) ::cfmakeraw(&tio);
    ok = ok && ::tcsetattr(slave_, TCSANOW, &tio) == 0 && ::pipe(stopPipe_) == 0;
    if (!ok) {
        error = std::string("cannot set up a pseudo-terminal: ") + std::strerror(errno);
        Stop();
        return false;
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void SimCameraServer::Stop() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!::write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    CloseFd(stopPipe_[0]);
    CloseFd(stopPipe_[1]);
    CloseFd(slave_);
    CloseFd(master_);
}

void SimCameraServer::Serve() {
    uint8_t buffer[512];
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
        const std::vector<uint8_t> reply = camera_.Feed(buffer, static_cast<size_t>(n));
        if (!reply.empty() && !WriteAll(master_, reply)) return;
    }
}

} // namespace kestcam::sim
