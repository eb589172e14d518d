// share_protocol.cpp - little-endian encoding of the sharing pipe's 12-byte messages.
#include "share/share_protocol.h"

namespace kestcam {

namespace {

void Put(uint8_t *out, int32_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
    out[2] = static_cast<uint8_t>(v >> 16);
    out[3] = static_cast<uint8_t>(v >> 24);
}

int32_t Get(const uint8_t *in) {
    const uint32_t v = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                       static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
    return static_cast<int32_t>(v);
}

} // namespace

ShareMessage EncodeShareWords(int32_t a, int32_t b, int32_t c) {
    ShareMessage m{};
    Put(m.data(), a);
    Put(m.data() + 4, b);
    Put(m.data() + 8, c);
    return m;
}

bool DecodeShareWords(const uint8_t *bytes, size_t count, int32_t &a, int32_t &b, int32_t &c) {
    if (bytes == nullptr || count != static_cast<size_t>(kShareMessageSize)) return false;
    a = Get(bytes);
    b = Get(bytes + 4);
    c = Get(bytes + 8);
    return true;
}

int ShareBytesPerPixel(int32_t format) {
    if (format == kShareFormatMono) return 1;
    if (format == kShareFormatBgr) return 3;
    return 0;
}

} // namespace kestcam
