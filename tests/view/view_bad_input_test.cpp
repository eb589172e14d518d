// The viewer under bad input: malformed and oversized requests, twenty clients at once, and a client
// that opens the stream and never reads. The viewer stays up and the camera keeps grabbing.
#include <atomic>
#include <thread>
#include <vector>

#include "view/raw_http.h"
#include "view/view_fixture.h"

namespace kestcam::test {
namespace {

struct Malformed {
    const char *label;
    std::string bytes;
    bool mayBeServed = false; // a request the viewer may read past the fault of
};

void PrintTo(const Malformed &m, std::ostream *os) {
    *os << m.label;
}

class ViewUnderMalformedRequests : public ViewTest, public ::testing::WithParamInterface<Malformed> {};

TEST_P(ViewUnderMalformedRequests, AnswerOrDropThemAndKeepGrabbing) {
    StartView();
    const long before = StreamFrameAfter(0);
    ASSERT_GT(before, 0);
    const RawReply reply = RawExchange(view_.Port(), GetParam().bytes);
    // Refused with a client error, or the connection dropped.
    EXPECT_TRUE(reply.status == 0 || (reply.status >= 400 && reply.status < 500) ||
                (GetParam().mayBeServed && reply.status == 200))
        << reply.text.substr(0, 200);
    EXPECT_GT(StreamFrameAfter(before + 3), before + 3);
    auto page = Client()->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
}

// A literal's bytes, NULs included.
template <size_t N> std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

std::string Host() {
    return "Host: 127.0.0.1\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ViewUnderMalformedRequests,
    ::testing::Values(
        Malformed{"Garbage", Bytes("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03 garbage\r\n\r\n")},
        Malformed{"NulBytes", Bytes("GET /\0 HTTP/1.1\r\n\0\0\r\n\r\n")}, Malformed{"NoVersion", "GET /\r\n\r\n"},
        Malformed{"UnknownMethod", "BREW / HTTP/1.1\r\n" + Host() + "\r\n"},
        Malformed{"CutShort", "GET /status.json HTT"}, Malformed{"OnlyNewlines", std::string(5000, '\n')},
        Malformed{"OverlongUri", "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\n" + Host() + "\r\n"},
        Malformed{"OverlongHeader",
                  "GET / HTTP/1.1\r\n" + Host() + "X-Long: " + std::string(200000, 'b') + "\r\n\r\n"},
        Malformed{"HeaderWithoutColon", "GET / HTTP/1.1\r\n" + Host() + std::string(3000, 'c') + "\r\n\r\n", true},
        Malformed{"HugeContentLength", "POST /grab?run=0 HTTP/1.1\r\n" + Host() +
                                           "X-Kestcam-View: 1\r\nContent-Length: 99999999999999\r\n\r\nabc"},
        Malformed{"NegativeContentLength",
                  "POST /grab?run=0 HTTP/1.1\r\n" + Host() + "X-Kestcam-View: 1\r\nContent-Length: -5\r\n\r\n"},
        Malformed{"BadChunks", "POST /grab?run=0 HTTP/1.1\r\n" + Host() +
                                   "X-Kestcam-View: 1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nboom\r\n"},
        Malformed{"BadRange", "GET /frame.jpg HTTP/1.1\r\n" + Host() + "Range: bytes=999999999-5,-\r\n\r\n"}),
    [](const ::testing::TestParamInfo<Malformed> &info) { return info.param.label; });

TEST_F(ViewTest, TwentyClientsAtOnceAreAllServed) {
    StartView();
    ASSERT_GT(StreamFrameAfter(0), 0);
    constexpr int kClients = 20;
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            auto client = Client();
            auto page = client->Get("/");
            auto frame = client->Get("/frame.jpg");
            auto status = client->Get("/status.json");
            // Half of them also watch the stream for two frames.
            const bool streamed =
                i % 2 == 1 || StreamNumbers([](const std::vector<long> &n) { return n.size() == 2; }).size() == 2;
            if (page && page->status == 200 && frame && frame->status == 200 && status && status->status == 200 &&
                streamed)
                ++served;
        });
    }
    for (std::thread &t : clients)
        t.join();
    EXPECT_EQ(served.load(), kClients);
}

// The stalled client asks for the stream with a small receive buffer and reads nothing: its socket
// fills at once. The camera keeps grabbing past the viewer's write time-out, and another client's
// stream keeps flowing meanwhile.
TEST_F(ViewTest, AStalledStreamClientCostsTheCameraNothing) {
    StartView();
    const long before = StreamFrameAfter(0);
    ASSERT_GT(before, 0);
    std::vector<std::unique_ptr<RawConnection>> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.push_back(std::make_unique<RawConnection>(view_.Port(), 4096));
        ASSERT_TRUE(stalled.back()->Send("GET /stream.mjpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    }
    // 50 frames a second: 400 frames outlast the five-second write time-out.
    long last = before;
    const std::vector<long> parts = StreamNumbers([&](const std::vector<long> &n) {
        last = n.back();
        return n.back() > before + 400;
    });
    EXPECT_GT(last, before + 400);
    EXPECT_GT(parts.size(), 50u) << "the other client's stream did not flow";
    EXPECT_GT(JsonNumber(Status(), "frames"), before + 400);
}

} // namespace
} // namespace kestcam::test
