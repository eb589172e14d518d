// camera_frame.cpp - command frames built and response frames checked, byte by byte.
#include "serial/camera_frame.h"

#include <cstring>

namespace kestcam::frame {

int AddressLength(int64_t address) {
    if (address < 0x10000) return 2;
    if (address < (int64_t{1} << 32)) return 4;
    if (address < (int64_t{1} << 48)) return 6;
    return 8;
}

uint8_t Xor(const uint8_t *bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum ^= bytes[i];
    return sum;
}

CommandFrame BuildCommandFrame(int opcode, int64_t address, const uint8_t *data, uint8_t dataLen, bool checksum) {
    CommandFrame frame;
    const int addressLength = AddressLength(address);
    const uint64_t bits = static_cast<uint64_t>(address);
    uint8_t *p = frame.bytes.data();
    size_t n = 0;
    p[n++] = kBFS;
    p[n++] = Ftf(opcode, checksum, addressLength);
    p[n++] = dataLen;
    for (int i = 0; i < addressLength; ++i)
        p[n++] = static_cast<uint8_t>(bits >> (8 * i));
    if (CarriesData(opcode)) {
        if (data != nullptr)
            std::memcpy(p + n, data, dataLen);
        else
            std::memset(p + n, 0, dataLen);
        n += dataLen;
    }
    if (checksum) {
        p[n] = Xor(p + 1, n - 1);
        ++n;
    }
    p[n++] = kBFE;
    frame.size = n;
    return frame;
}

ResponseStatus CheckResponseFrame(const uint8_t *frame, uint8_t dataLen, bool checksum, uint8_t *out) {
    const uint8_t sum = checksum ? Xor(frame + 1, size_t{dataLen} + 2) : 0;
    if (frame[0] != kBFS) return ResponseStatus::BadBfs;
    const int opcode = OpcodeOf(frame[1]);
    if (opcode != kOpResponse && opcode != kOpResponseAlt) return ResponseStatus::BadOpcode;
    if (frame[2] != dataLen) return ResponseStatus::BadDataLen;
    if (out != nullptr) std::memcpy(out, frame + 3, dataLen);
    size_t at = size_t{3} + dataLen;
    if (checksum && frame[at++] != sum) return ResponseStatus::BadChecksum;
    if (frame[at] != kBFE) return ResponseStatus::BadBfe;
    return ResponseStatus::Ok;
}

const char *ResponseStatusText(ResponseStatus status) {
    switch (status) {
    case ResponseStatus::Ok:
        return nullptr;
    case ResponseStatus::BadBfs:
        return "ERROR: unexpected value for BFS in response frame\n";
    case ResponseStatus::BadOpcode:
        return "ERROR: Unexpected Opcode in response frame\n";
    case ResponseStatus::BadDataLen:
        return "ERROR: Wrong number of datalen in response frame\n";
    case ResponseStatus::BadChecksum:
        return "ERROR: Wrong checksum in response frame\n";
    case ResponseStatus::BadBfe:
        return "ERROR: Unexpected value for BFE response frame\n";
    }
    return nullptr;
}

} // namespace kestcam::frame
