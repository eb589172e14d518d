// view_server.h - the live view's HTTP server: its one page, the image stream, single frames, the
// status and the camera controls as JSON. Nothing else is served: no files, no other paths.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "view/frame_hub.h"
#include "view/frame_source.h"

namespace httplib {
class Server;
}

namespace kestcam::cli {

class ViewServer {
public:
    ViewServer(FrameHub &hub, FrameSource &source);
    ~ViewServer();
    ViewServer(const ViewServer &) = delete;
    ViewServer &operator=(const ViewServer &) = delete;

    // Binds host:port (port 0: a free one); false with a reason.
    bool Bind(const std::string &host, int port, std::string &error);
    int Port() const { return port_; }
    // Serves until Stop; false when serving failed.
    bool Serve();
    // Ends Serve: the stream threads are released first, then the workers are joined.
    void Stop();

private:
    void Routes();
    bool HostAllowed(const std::string &host) const;

    FrameHub &hub_;
    FrameSource &source_;
    std::unique_ptr<httplib::Server> server_;
    std::string host_;
    int port_ = 0;
    bool loopback_ = true;
    std::atomic<int> streams_{0};
};

// "http://127.0.0.1:8080/", with brackets around an IPv6 address.
std::string ViewUrl(const std::string &host, int port);

} // namespace kestcam::cli
