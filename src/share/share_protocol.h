// share_protocol.h - the messages of the sharing pipe: 12-byte headers and the dimensions reply,
// 32-bit little-endian integers, encoded and decoded without any I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestcam {

constexpr int32_t kShareMagic = 0x53484452; // bytes 0x52 0x44 0x48 0x53
constexpr int kShareMessageSize = 12;       // every message of the protocol

// Header types.
constexpr int32_t kShareTypeDimensions = 2; // client: request; server: reply, followed by ShareDimensions
constexpr int32_t kShareTypeFrame = 3;      // server: a new image lies in the segment

// Formats of the dimensions reply: the segment's bytes per pixel.
constexpr int32_t kShareFormatMono = 1; // one 8-bit sample a pixel
constexpr int32_t kShareFormatBgr = 3;  // blue, green, red: three bytes a pixel

struct ShareHeader {
    int32_t magic = kShareMagic;
    int32_t type = 0;
    int32_t size = 0; // bytes of the payload message that follows; 0 when none
};

struct ShareDimensions {
    int32_t width = 0;  // pixels per image line
    int32_t height = 0; // lines per image (all frames of one grab)
    int32_t format = kShareFormatMono;
};

using ShareMessage = std::array<uint8_t, kShareMessageSize>;

// Three 32-bit values as one message, and back. Decoding needs exactly one message's bytes.
ShareMessage EncodeShareWords(int32_t a, int32_t b, int32_t c);
bool DecodeShareWords(const uint8_t *bytes, size_t count, int32_t &a, int32_t &b, int32_t &c);

inline ShareMessage EncodeShareHeader(const ShareHeader &h) {
    return EncodeShareWords(h.magic, h.type, h.size);
}
inline ShareMessage EncodeShareDimensions(const ShareDimensions &d) {
    return EncodeShareWords(d.width, d.height, d.format);
}
inline bool DecodeShareHeader(const uint8_t *bytes, size_t count, ShareHeader &h) {
    return DecodeShareWords(bytes, count, h.magic, h.type, h.size);
}
inline bool DecodeShareDimensions(const uint8_t *bytes, size_t count, ShareDimensions &d) {
    return DecodeShareWords(bytes, count, d.width, d.height, d.format);
}

// Bytes per pixel of a format; 0 for a format this driver does not write.
int ShareBytesPerPixel(int32_t format);

} // namespace kestcam
