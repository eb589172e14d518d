// camera_frame_fuzz.cpp - libFuzzer harness for the camera frames: any bytes checked as a response
// frame, and fed to the simulated camera, which must find its way back to a valid read afterwards.
//   clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -I. tests/fuzz/camera_frame_fuzz.cpp \
//       src/serial/camera_frame.cpp sim/camera/sim_serial_camera.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "serial/camera_frame.h"
#include "sim/camera/sim_serial_camera.h"

using namespace kestcam;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size >= 2) {
        const uint8_t n = data[0];
        const bool checksum = (data[1] & 1) != 0;
        if (size - 2 >= frame::ResponseFrameSize(n, checksum)) {
            uint8_t out[255];
            const frame::ResponseStatus status = frame::CheckResponseFrame(data + 2, n, checksum, out);
            if (status == frame::ResponseStatus::Ok && (data[2] != frame::kBFS || data[4] != n)) std::abort();
        }
    }
    // Garbage, then zeros enough to end any frame it began, then a read of the exposure-time value.
    sim::SimSerialCamera camera;
    camera.Feed(data, size);
    const std::vector<uint8_t> zeros(frame::kMaxCommandFrame, 0);
    camera.Feed(zeros.data(), zeros.size());
    const frame::CommandFrame read = frame::BuildCommandFrame(frame::kOpRead, 0x1501, nullptr, 4, true);
    const std::vector<uint8_t> reply = camera.Feed(read.bytes.data(), read.size);
    uint8_t value[4];
    if (reply.size() != 1 + frame::ResponseFrameSize(4, true) || reply[0] != frame::kACK ||
        frame::CheckResponseFrame(reply.data() + 1, 4, true, value) != frame::ResponseStatus::Ok)
        std::abort();
    return 0;
}
