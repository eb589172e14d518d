// command_frame_fuzz.cpp - libFuzzer harness for the command frames the driver sends: any opcode,
// address, data and checksum choice builds a frame of the documented layout, which the simulated
// camera reads as that very command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serial/camera_frame.h"
#include "sim/camera/sim_serial_camera.h"

using namespace kestcam;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 11) return 0;
    const int opcode = data[0] & 0x1F;
    const bool checksum = (data[0] & 0x80) != 0;
    int64_t address = 0;
    std::memcpy(&address, data + 1, sizeof address);
    const uint8_t dataLen = data[9];
    std::vector<uint8_t> payload(data + 10, data + size);
    payload.resize(255);

    const frame::CommandFrame built = frame::BuildCommandFrame(opcode, address, payload.data(), dataLen, checksum);
    const int a = frame::AddressLength(address);
    const size_t carried = frame::CarriesData(opcode) ? dataLen : 0;
    Check(built.size == 4 + static_cast<size_t>(a) + (checksum ? 1 : 0) + carried);
    Check(built.bytes[0] == frame::kBFS && built.bytes[built.size - 1] == frame::kBFE);
    Check(built.bytes[1] == frame::Ftf(opcode, checksum, a) && built.bytes[2] == dataLen);
    for (int i = 0; i < a; ++i) Check(built.bytes[3 + i] == static_cast<uint8_t>(static_cast<uint64_t>(address) >> (8 * i)));
    Check(std::memcmp(built.bytes.data() + 3 + a, payload.data(), carried) == 0);
    if (checksum) Check(built.bytes[built.size - 2] == frame::Xor(built.bytes.data() + 1, built.size - 3));

    // The camera reads it as one command: it answers, or refuses it, and is ready for the next.
    sim::SimSerialCamera camera;
    (void)camera.Feed(built.bytes.data(), built.size);
    const frame::CommandFrame read = frame::BuildCommandFrame(frame::kOpRead, 0x1501, nullptr, 4, true);
    const std::vector<uint8_t> zeros(frame::kMaxCommandFrame, 0);
    std::vector<uint8_t> reply = camera.Feed(read.bytes.data(), read.size);
    if (reply.empty()) {
        // The command claimed more bytes than it carried (a read's data length is no frame length):
        // whatever it waits for ends with the zeros, then the read is answered.
        (void)camera.Feed(zeros.data(), zeros.size());
        reply = camera.Feed(read.bytes.data(), read.size);
    }
    uint8_t value[4];
    Check(reply.size() == 1 + frame::ResponseFrameSize(4, true) && reply[0] == frame::kACK &&
          frame::CheckResponseFrame(reply.data() + 1, 4, true, value) == frame::ResponseStatus::Ok);
    return 0;
}
