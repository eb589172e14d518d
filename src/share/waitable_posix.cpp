// waitable_posix.cpp - poll over descriptors; an event is a pipe that holds one byte while set.
#include "share/waitable.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

#include "share/win32_exception.h"

namespace kestcam::share {

int WaitForAny(const Waitable *items, int count, int timeoutMs) {
    if (count <= 0) throw Win32Exception(EINVAL);
    std::vector<pollfd> fds(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        fds[i] = pollfd{static_cast<int>(items[i].native), items[i].events, 0};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        const int ready = poll(fds.data(), static_cast<nfds_t>(count), wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw Win32Exception();
        }
        if (ready == 0) return kWaitTimedOut;
        // A hang-up or an error is "ready" too: the operation that follows reports it.
        for (int i = 0; i < count; ++i)
            if (fds[i].revents != 0) return i;
    }
}

WaitableEvent::WaitableEvent() {
    int ends[2];
    if (pipe(ends) != 0) return;
    for (int fd : ends) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    handle_ = ends[0];
    writer_ = ends[1];
}

WaitableEvent::~WaitableEvent() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
    if (writer_ >= 0) close(static_cast<int>(writer_));
}

bool WaitableEvent::IsValid() const {
    return handle_ >= 0;
}

void WaitableEvent::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsValid() || set_) return;
    const char byte = 1;
    if (write(static_cast<int>(writer_), &byte, 1) == 1) set_ = true;
}

void WaitableEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsValid() || !set_) return;
    char byte;
    while (read(static_cast<int>(handle_), &byte, 1) == 1) {
    }
    set_ = false;
}

bool WaitableEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

Waitable WaitableEvent::AsWaitable() const {
    return Waitable{handle_, POLLIN};
}

} // namespace kestcam::share
