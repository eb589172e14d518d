// serial_port_posix.cpp - the serial port on a POSIX terminal device: termios raw 8N1 without
// hardware flow control, exclusive use through an advisory lock, reads bounded by a deadline.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "serial/serial_port_backend.h"

namespace kestcam::serial {

namespace {

// The total read time-out of the open port; there is one port per process.
std::atomic<int> g_readTimeoutMs{0};

bool SpeedFor(int baudRate, speed_t &speed) {
    switch (baudRate) {
    case 1200:
        speed = B1200;
        return true;
    case 2400:
        speed = B2400;
        return true;
    case 4800:
        speed = B4800;
        return true;
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 38400:
        speed = B38400;
        return true;
    case 57600:
        speed = B57600;
        return true;
    case 115200:
        speed = B115200;
        return true;
    default:
        return false;
    }
}

// The listed fields only. Stop bits (CSTOPB), software flow control (IXON, IXOFF, IXANY) and the
// control characters stay as the port has them.
void ForceLineSettings(termios &tio, speed_t speed) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CREAD | CLOCAL; // CLOCAL: the modem lines (DSR, carrier) are ignored
    // Binary: bytes pass unchanged in both directions; no parity check, no error marking.
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | ISTRIP | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
    // Reads never block in the driver: poll waits, read takes what has arrived.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

} // namespace

std::string DevicePathForName(const std::string &name) {
    if (name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'M') {
        bool digits = name.size() <= 6;
        for (size_t i = 3; i < name.size() && digits; ++i)
            digits = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        const int n = digits ? std::atoi(name.c_str() + 3) : 0;
        if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return name;
}

bool OpenDevice(const char *name, int baudRate, int readTimeoutMs, NativeHandle &handle) {
    handle = kNoHandle;
    speed_t speed = B0;
    if (!SpeedFor(baudRate, speed) || readTimeoutMs < 0) return false;
    const std::string path = DevicePathForName(name);
    // Non-blocking only for the open itself: a port without carrier would otherwise wait here.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // An advisory lock, held as long as this descriptor: another process of the driver (or any
    // program that locks the same way) is refused while the port is in use. TIOCEXCL would not do:
    // root ignores it, and it stays set on a terminal another process keeps open.
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    termios tio{};
    ok = ok && ::tcgetattr(fd, &tio) == 0;
    if (ok) ForceLineSettings(tio, speed);
    ok = ok && ::tcsetattr(fd, TCSANOW, &tio) == 0;
    ok = ok && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
    ok = ok && ::tcflush(fd, TCIOFLUSH) == 0;
    if (!ok) {
        ::close(fd);
        return false;
    }
    // DTR and RTS off where the device has modem lines; a pseudo-terminal has none.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
    g_readTimeoutMs = readTimeoutMs;
    handle = fd;
    return true;
}

bool CloseDevice(NativeHandle handle) {
    if (handle < 0) return false;
    // Every exchange has ended by now; output a stopped line (XOFF) still holds would make the close
    // wait for it to drain, for half a minute on a serial driver.
    (void)::tcflush(static_cast<int>(handle), TCOFLUSH);
    return ::close(static_cast<int>(handle)) == 0;
}

bool WriteDevice(NativeHandle handle, const unsigned char *data, size_t count, size_t &moved) {
    using Clock = std::chrono::steady_clock;
    moved = 0;
    if (handle < 0) return false;
    const int fd = static_cast<int>(handle);
    // A terminal may take a write in parts. A line stopped by XOFF takes nothing more once its
    // buffer is full: the write ends as a short one at the read time-out instead of waiting forever.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(g_readTimeoutMs.load());
    while (moved < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return moved > 0;
        if (ready == 0) continue; // the loop ends at the deadline
        if ((p.revents & (POLLHUP | POLLERR)) != 0 && (p.revents & POLLOUT) == 0) return moved > 0;
        const ssize_t n = ::write(fd, data + moved, count - moved);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return moved > 0; // what went is reported as a short write
        if (n == 0) break;
        moved += static_cast<size_t>(n);
    }
    return true;
}

bool ReadDevice(NativeHandle handle, unsigned char *data, size_t count, size_t &moved) {
    using Clock = std::chrono::steady_clock;
    moved = 0;
    if (handle < 0) return false;
    const int fd = static_cast<int>(handle);
    // One deadline for all the bytes, as a total read time-out without an interval time-out.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(g_readTimeoutMs.load());
    while (moved < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) continue; // the loop ends at the deadline
        const ssize_t n = ::read(fd, data + moved, count - moved);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return false;
        if (n == 0) {
            // Readable with nothing to read: the other end has gone, no byte will come.
            if ((p.revents & (POLLHUP | POLLERR)) != 0) return false;
            break;
        }
        moved += static_cast<size_t>(n);
    }
    return true;
}

} // namespace kestcam::serial
