// share_messages_fuzz.cpp - libFuzzer harness for what a sharing client may send: any sequence of
// messages of any length and content reaches a live sharing server (a simulated camera opened with
// ShareCamera), which must answer every well-formed dimensions request, and then the request that
// follows, with the camera's true dimensions.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_app.h"
#include "share/share_client.h"
#include "share/share_protocol.h"

namespace {

using namespace kestcam;

void Check(bool condition, const char *what) {
    if (condition) return;
    std::fprintf(stderr, "share_messages_fuzz: %s\n", what);
    std::abort();
}

struct Server {
    std::string name = "kestcam-fuzz-" + std::to_string(getpid());
    ShareClient client;

    Server() {
        const std::string dir = std::filesystem::temp_directory_path() / ("kestcam-fuzz-share-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/Kest.ini") << "[Camera 1]\nShareCamera=1\nShareName=" << name << "\nLogLevel=0\n";
        setenv("KESTCAM_SIM_CONFIG", "", 1);
        Logger::Instance().SetSystemPath(dir);
        Check(MilApp::GetInstance().Init(), "no simulated cameras");
        int geometry[2] = {0, 0};
        Check(MilApp::GetInstance().GetByName("Camera 1").Open(1, geometry), "Camera 1 did not open");
        Reconnect();
    }
    // The server listens again once it has seen the old client go; until then a new one is
    // refused at once, so the client tries again for a while.
    void Reconnect() {
        std::string error;
        for (int attempt = 0; attempt < 5000; ++attempt) {
            if (client.Connect(name, 5000, error)) return;
            usleep(1000);
        }
        Check(false, "the share takes no client any more");
    }
};

// One reply to a dimensions request: the type 2 header and Camera 1's 2048 x 1000, one byte a pixel.
void ExpectDimensions(ShareClient &client) {
    ShareMessage message{};
    ShareHeader header;
    Check(client.ReadMessage(message, 5000) == kShareMessageSize, "no reply header");
    Check(DecodeShareHeader(message.data(), message.size(), header) && header.type == kShareTypeDimensions,
          "the reply is no dimensions header");
    ShareDimensions dims;
    Check(client.ReadMessage(message, 5000) == kShareMessageSize, "no dimensions after the header");
    Check(DecodeShareDimensions(message.data(), message.size(), dims) && dims.width == 2048 && dims.height == 1000 &&
              dims.format == kShareFormatMono,
          "wrong dimensions");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Server *server = new Server();
    ShareClient &client = server->client;

    // The input is a list of messages: a length byte (its value modulo 40), then that many bytes.
    int requests = 0;
    bool empty = false;
    for (size_t at = 0; at < size;) {
        const size_t length = std::min<size_t>(data[at] % 40, size - at - 1);
        const uint8_t *message = data + at + 1;
        at += 1 + length;
        empty = empty || length == 0;
        ShareHeader header;
        // The server answers any 12-byte message of type 2, whatever its magic and size say.
        if (length == kShareMessageSize && DecodeShareHeader(message, length, header) &&
            header.type == kShareTypeDimensions)
            ++requests;
        if (!client.SendRaw(message, static_cast<int>(length))) {
            server->Reconnect();
            return 0;
        }
    }
    // An empty message reads like the end of the connection on a POSIX pipe: the server may have let
    // this client go, and must take the next one.
    if (empty) {
        server->Reconnect();
        return 0;
    }
    const ShareMessage request = EncodeShareHeader(ShareHeader{kShareMagic, kShareTypeDimensions, 0});
    Check(client.SendRaw(request.data(), kShareMessageSize), "the request after the input was refused");
    for (int i = 0; i <= requests; ++i) ExpectDimensions(client);
    return 0;
}
