// raw_http_posix.cpp - BSD sockets for the raw requests of the view tests.
#include "view/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

namespace kestcam::test {

namespace {

int ConnectLoopback(int port, int timeoutS, int receiveBuffer) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    timeval tv{timeoutS, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string &bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// A reply whose headers and Content-Length body have all come: the viewer may keep the connection
// open for another request.
bool Complete(const std::string &text) {
    const size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    const std::string headers = text.substr(0, end);
    const size_t at = headers.find("\r\nContent-Length: ");
    if (at == std::string::npos) return false;
    const size_t length = std::strtoul(headers.c_str() + at + 18, nullptr, 10);
    return text.size() >= end + 4 + length;
}

} // namespace

RawReply RawExchange(int port, const std::string &bytes, int timeoutS) {
    RawReply reply;
    const int fd = ConnectLoopback(port, timeoutS, 0);
    if (fd < 0) return reply;
    // The viewer may answer and close before it has read everything: a failed send is no failure.
    // The sending side stays open: the viewer takes a peer that ended it for gone and does not answer.
    SendAll(fd, bytes);
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.text.append(buffer, static_cast<size_t>(n));
        if (Complete(reply.text)) break;
    }
    close(fd);
    if (reply.text.compare(0, 9, "HTTP/1.1 ") == 0 && reply.text.size() >= 12)
        reply.status = std::atoi(reply.text.substr(9, 3).c_str());
    return reply;
}

RawConnection::RawConnection(int port, int receiveBuffer) : fd_(ConnectLoopback(port, 20, receiveBuffer)) {}

RawConnection::~RawConnection() {
    if (fd_ >= 0) close(fd_);
}

bool RawConnection::Send(const std::string &bytes) {
    return fd_ >= 0 && SendAll(fd_, bytes);
}

} // namespace kestcam::test
