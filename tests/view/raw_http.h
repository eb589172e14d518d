// raw_http.h - bytes sent to the viewer exactly as given, over a plain socket, for requests no HTTP
// client would write: its reply read until the viewer closes the connection.
#pragma once

#include <string>

namespace kestcam::test {

struct RawReply {
    int status = 0;   // of the status line; 0 when the connection closed without a reply
    std::string text; // everything that came back
};

// Connects to 127.0.0.1:port, sends the bytes and reads until the viewer closes the connection (each
// read bounded by timeoutS): after its answer to a request that asks for that, after a refusal, or
// at its read time-out.
RawReply RawExchange(int port, const std::string &bytes, int timeoutS = 20);

// A connection kept open by the test (stalled clients); closed with the object.
class RawConnection {
public:
    explicit RawConnection(int port, int receiveBuffer = 0);
    ~RawConnection();
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;
    bool Send(const std::string &bytes);
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace kestcam::test
