// camera_frame.h - the camera's binary frames as pure functions over bytes: building command
// frames, building and checking response frames. No I/O here, so tests and fuzzers feed memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestcam::frame {

constexpr uint8_t kBFS = 0x01; // first byte of every frame
constexpr uint8_t kBFE = 0x03; // last byte of every frame
constexpr uint8_t kACK = 0x06; // the camera's answer to an accepted command frame

constexpr int kOpWrite = 0;
constexpr int kOpRead = 1;
constexpr int kOpResponse = 2;
constexpr int kOpWriteOffset = 4; // at the given address plus kOffsetDistance
constexpr int kOpReadOffset = 5;
constexpr int kOpResponseAlt = 6;
constexpr int64_t kOffsetDistance = 27;

// 3 header bytes, 8 address bytes, 255 data bytes, a checksum and BFE.
constexpr size_t kMaxCommandFrame = 268;

// Address bytes for an address compared as a signed value: 2 below 0x10000 (negative ones
// included), 4 below 2^32, 6 below 2^48, else 8.
int AddressLength(int64_t address);
// Whether a command frame of this opcode carries its data bytes (the writes, 0 and 4).
constexpr bool CarriesData(int opcode) {
    return opcode == kOpWrite || opcode == kOpWriteOffset;
}

// The FTF byte: opcode in bits 7..3, checksum flag in bit 2, address length code in bits 1..0.
constexpr uint8_t Ftf(int opcode, bool checksum, int addressLength) {
    return static_cast<uint8_t>(((opcode & 0x1F) << 3) | (checksum ? 0x04 : 0) | ((addressLength / 2 - 1) & 0x03));
}
constexpr int OpcodeOf(uint8_t ftf) {
    return ftf >> 3;
}

// XOR of count bytes.
uint8_t Xor(const uint8_t *bytes, size_t count);

struct CommandFrame {
    std::array<uint8_t, kMaxCommandFrame> bytes{};
    size_t size = 0;
};

// BFS, FTF, dataLen, the address least significant byte first, the data (writes only), the
// checksum of FTF through the data (when asked for), BFE. data may be null for reads.
CommandFrame BuildCommandFrame(int opcode, int64_t address, const uint8_t *data, uint8_t dataLen, bool checksum);

constexpr size_t ResponseFrameSize(uint8_t dataLen, bool checksum) {
    return size_t{dataLen} + (checksum ? 1u : 0u) + 4u;
}

// The checks of a response frame, in the order they are made; the first failing one decides.
enum class ResponseStatus { Ok, BadBfs, BadOpcode, BadDataLen, BadChecksum, BadBfe };

// Checks a response frame of ResponseFrameSize(dataLen, checksum) bytes that should carry
// dataLen bytes. The data are copied to out once BFS, opcode and length passed, before the
// checksum and BFE are looked at: a frame failing those has already filled out.
ResponseStatus CheckResponseFrame(const uint8_t *frame, uint8_t dataLen, bool checksum, uint8_t *out);
// The text written to the standard error stream for a failed check (null for Ok).
const char *ResponseStatusText(ResponseStatus status);

} // namespace kestcam::frame
