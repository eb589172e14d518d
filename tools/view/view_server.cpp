// view_server.cpp - routes of the live view over cpp-httplib. The server answers only its own paths
// (404 for anything else), takes no request bodies, bounds every read and write on a connection, and
// never lets a client hold up the camera: a stream sends the newest frame whenever its client is
// ready, and a client that stops reading is dropped at the write time-out.
#include "view/view_server.h"

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kestcam::cli {

namespace {

// The page, embedded at build time from view_page.html.
const char kPage[] =
#include "view_page.inc"
    ;

constexpr char kBoundary[] = "kestcamframe";
// Connections a browser or two keep open (page, stream, status polls) with room for many viewers.
constexpr size_t kWorkers = 64;
// Streams beyond this are refused with 503, so that page and status requests always find a worker.
constexpr int kMaxStreams = 40;
constexpr time_t kReadTimeoutS = 5;
constexpr time_t kWriteTimeoutS = 5;
constexpr size_t kMaxBody = 4096;
// A stream sends at most this often; a live view needs no more.
constexpr auto kStreamPeriod = std::chrono::milliseconds(33);
// With no new frame, a stream repeats the last one this often: a client that went away is noticed.
constexpr auto kStreamHeartbeat = std::chrono::seconds(2);
// Browsers cannot send this header to another origin without asking first (which is refused):
// a page elsewhere cannot drive the camera through the viewer.
constexpr char kRequestHeader[] = "X-Kestcam-View";

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonError(const std::string &message) {
    return "{\"error\":" + JsonString(message) + "}";
}

void NoStore(httplib::Response &res) {
    res.set_header("Cache-Control", "no-store");
}

bool ParseInt(const std::string &text, int &out) {
    if (text.empty() || text.size() > 12) return false;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || v < -2147483647LL - 1 || v > 2147483647LL) return false;
    out = static_cast<int>(v);
    return true;
}

const char *Reason(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

bool IsLoopback(const std::string &host) {
    return host == "localhost" || host == "::1" || host.compare(0, 4, "127.") == 0;
}

} // namespace

std::string ViewUrl(const std::string &host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

ViewServer::ViewServer(FrameHub &hub, FrameSource &source)
    : hub_(hub), source_(source), server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server_->set_read_timeout(kReadTimeoutS, 0);
    server_->set_write_timeout(kWriteTimeoutS, 0);
    server_->set_keep_alive_timeout(kReadTimeoutS);
    server_->set_keep_alive_max_count(100);
    server_->set_payload_max_length(kMaxBody);
    Routes();
}

ViewServer::~ViewServer() = default;

bool ViewServer::Bind(const std::string &host, int port, std::string &error) {
    host_ = host;
    loopback_ = IsLoopback(host);
    if (port == 0) {
        port_ = server_->bind_to_any_port(host);
        if (port_ > 0) return true;
    } else if (server_->bind_to_port(host, port)) {
        port_ = port;
        return true;
    }
    error = "cannot listen on " + ViewUrl(host, port) + " (address in use, or not one of this machine's)";
    return false;
}

bool ViewServer::Serve() {
    return server_->listen_after_bind();
}

void ViewServer::Stop() {
    hub_.Close();
    server_->stop();
}

// Bound to the loopback address, only the names of that address are accepted as Host: a page of
// another site whose name is made to resolve to 127.0.0.1 cannot read the viewer.
bool ViewServer::HostAllowed(const std::string &host) const {
    if (!loopback_) return true;
    const std::string port = ":" + std::to_string(port_);
    for (const std::string &name : {std::string("127.0.0.1"), std::string("localhost"), std::string("[::1]"),
                                    host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_})
        if (host == name || host == name + port) return true;
    return false;
}

void ViewServer::Routes() {
    httplib::Server &s = *server_;
    s.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
        if (!HostAllowed(req.get_header_value("Host"))) {
            res.status = 403;
            res.set_content("unknown host name\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method == "POST" && req.get_header_value(kRequestHeader) != "1") {
            res.status = 403;
            res.set_content(JsonError("requests that change the camera come from the viewer's page"),
                            "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        res.set_header("X-Content-Type-Options", "nosniff");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty()) return;
        res.set_content(std::to_string(res.status) + " " + Reason(res.status) + "\n", "text/plain");
    });
    s.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        res.status = 500;
        res.set_content("500 the viewer failed on this request\n", "text/plain");
    });

    s.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; img-src 'self'; connect-src 'self'; style-src 'unsafe-inline'; "
                       "script-src 'unsafe-inline'; frame-ancestors 'none'");
        res.set_header("X-Frame-Options", "DENY");
        NoStore(res);
        res.set_content(kPage, sizeof kPage - 1, "text/html; charset=utf-8");
    });

    s.Get("/frame.jpg", [this](const httplib::Request &, httplib::Response &res) {
        NoStore(res);
        const std::shared_ptr<const Frame> frame = hub_.Latest();
        if (!frame || frame->Jpeg().empty()) {
            res.status = 503;
            res.set_header("Retry-After", "1");
            res.set_content("503 no frame yet\n", "text/plain");
            return;
        }
        res.set_header("X-Frame-Number", std::to_string(frame->Number()));
        res.set_content(frame->Jpeg(), "image/jpeg");
    });

    s.Get("/stream.mjpg", [this](const httplib::Request &, httplib::Response &res) {
        NoStore(res);
        if (++streams_ > kMaxStreams) {
            --streams_;
            res.status = 503;
            res.set_content("503 too many streams\n", "text/plain");
            return;
        }
        struct StreamState {
            long sent = 0;
            ViewClock::time_point lastSend{};
        };
        auto state = std::make_shared<StreamState>();
        res.set_content_provider(
            std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
            [this, state](size_t, httplib::DataSink &sink) {
                if (hub_.WaitClosed(state->lastSend + kStreamPeriod)) return false;
                std::shared_ptr<const Frame> frame =
                    hub_.WaitNewer(state->sent, ViewClock::now() + kStreamHeartbeat);
                if (hub_.Closed()) return false;
                if (!frame) frame = hub_.Latest();
                if (!frame || frame->Jpeg().empty()) return true;
                const std::string &jpeg = frame->Jpeg();
                std::ostringstream part;
                part << "--" << kBoundary << "\r\nContent-Type: image/jpeg\r\nContent-Length: " << jpeg.size()
                     << "\r\nX-Frame-Number: " << frame->Number() << "\r\n\r\n";
                const std::string head = part.str();
                state->sent = frame->Number();
                state->lastSend = ViewClock::now();
                return sink.write(head.data(), head.size()) && sink.write(jpeg.data(), jpeg.size()) &&
                       sink.write("\r\n", 2);
            },
            [this](bool) { --streams_; });
    });

    s.Get("/status.json", [this](const httplib::Request &, httplib::Response &res) {
        NoStore(res);
        const std::shared_ptr<const Frame> frame = hub_.Latest();
        std::ostringstream json;
        char fps[32];
        std::snprintf(fps, sizeof fps, "%.2f", hub_.FramesPerSecond());
        json << "{\"source\":" << JsonString(source_.Description())
             << ",\"running\":" << (source_.Running() ? "true" : "false") << ",\"frames\":" << hub_.Count()
             << ",\"fps\":" << fps << ",\"problem\":" << JsonString(source_.Problem());
        if (frame) {
            json << ",\"frame\":" << frame->Number() << ",\"width\":" << frame->Width()
                 << ",\"height\":" << frame->Height() << ",\"channels\":" << frame->Channels()
                 << ",\"histogram\":[";
            const Histogram &levels = frame->Levels();
            for (size_t i = 0; i < levels.size(); ++i)
                json << (i ? "," : "") << levels[i];
            json << "]";
        }
        json << "}";
        res.set_content(json.str(), "application/json");
    });

    s.Get("/controls.json", [this](const httplib::Request &, httplib::Response &res) {
        NoStore(res);
        std::ostringstream json;
        json << "{\"controls\":[";
        bool first = true;
        for (const CameraControl &c : source_.Controls()) {
            json << (first ? "" : ",") << "{\"name\":" << JsonString(c.name)
                 << ",\"label\":" << JsonString(c.label) << ",\"unit\":" << JsonString(c.unit)
                 << ",\"min\":" << c.min << ",\"max\":" << c.max << ",\"value\":" << c.value << "}";
            first = false;
        }
        json << "]}";
        res.set_content(json.str(), "application/json");
    });

    s.Post("/grab", [this](const httplib::Request &req, httplib::Response &res) {
        NoStore(res);
        const std::string run = req.get_param_value("run");
        if (run != "0" && run != "1") {
            res.status = 400;
            res.set_content(JsonError("run must be 0 or 1"), "application/json");
            return;
        }
        source_.SetRunning(run == "1");
        res.set_content(std::string("{\"running\":") + (source_.Running() ? "true" : "false") + "}",
                        "application/json");
    });

    s.Post("/control", [this](const httplib::Request &req, httplib::Response &res) {
        NoStore(res);
        const std::string name = req.get_param_value("name");
        int value = 0;
        if (name.empty() || !ParseInt(req.get_param_value("value"), value)) {
            res.status = 400;
            res.set_content(JsonError("a control needs a name and an integer value"), "application/json");
            return;
        }
        std::string error;
        if (!source_.SetControl(name, value, error)) {
            res.status = 422;
            res.set_content(JsonError(error), "application/json");
            return;
        }
        res.set_content("{\"name\":" + JsonString(name) + ",\"value\":" + std::to_string(value) + "}",
                        "application/json");
    });
}

} // namespace kestcam::cli
