// minimal_mil.cpp - benchmarks only: the imaging-library backend of the benchmark driver. With
// KESTCAM_MIL=minimal every call goes to the simulator except MbufGet2d, which is a plain copy out of
// one frame prepared when the buffers are allocated: no lock, no error state, no look-up. A row read
// through the export then costs the driver's own work plus a memcpy. Any other selection behaves as
// the shipped POSIX backend does.
#include <algorithm>
#include <cstring>
#include <vector>

#include "acquisition/row_conversion.h"
#include "driver/logger.h"
#include "mil/mil_backend.h"
#include "sim/sim_mil.h"

namespace kestcam {
namespace {

// Shapes of the allocated buffers by id, and the frame every buffer reads from. Written while the
// camera opens; the row reads that follow see them through the driver's publication of its ring.
struct BufferShape {
    int width = 0;
    int bits = 8;
};
constexpr int kShapes = 64;
BufferShape g_shapes[kShapes];
RowVector<uint8_t> g_frame8; // on a cache line, as the simulator's frames are
RowVector<uint16_t> g_frame16;

void Prepare(MilId id, MilInt width, MilInt height, MilInt type) {
    if (id == 0) return;
    g_shapes[static_cast<uint32_t>(id) % kShapes] = BufferShape{static_cast<int>(width), static_cast<int>(type)};
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (type == 8 && g_frame8.size() < samples) {
        g_frame8.resize(samples);
        for (size_t i = 0; i < samples; ++i)
            g_frame8[i] =
                static_cast<uint8_t>(i % static_cast<size_t>(width) + 3 * (i / static_cast<size_t>(width)));
    }
    if (type == 16 && g_frame16.size() < samples) {
        g_frame16.resize(samples);
        for (size_t i = 0; i < samples; ++i)
            g_frame16[i] = static_cast<uint16_t>(
                (i % static_cast<size_t>(width) + 3 * (i / static_cast<size_t>(width))) & 0xFFF);
    }
}

MilId KC_MILAPI MinimalMbufAlloc2d(MilId system, MilInt width, MilInt height, MilInt type, MilInt64 attribute,
                                   MilId *buffer) {
    const MilId id = SimMbufAlloc2d(system, width, height, type, attribute, buffer);
    Prepare(id, width, height, type);
    return id;
}

void KC_MILAPI MinimalMbufGet2d(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt, void *dst) {
    const BufferShape &shape = g_shapes[static_cast<uint32_t>(buffer) % kShapes];
    const size_t offset = static_cast<size_t>(y) * static_cast<size_t>(shape.width) + static_cast<size_t>(x);
    const size_t bytes = static_cast<size_t>(width) * (shape.bits == 8 ? 1 : 2);
    const uint8_t *src =
        shape.bits == 8 ? g_frame8.data() + offset : reinterpret_cast<const uint8_t *>(g_frame16.data() + offset);
    // A span of a few bytes is copied in place: a call of the C library would cost more than the bytes.
    if (bytes <= 8) {
        for (size_t i = 0; i < bytes; ++i)
            static_cast<uint8_t *>(dst)[i] = src[i];
        return;
    }
    std::memcpy(dst, src, bytes);
}

const MilFunctions &MinimalMilFunctions() {
    static const MilFunctions table = [] {
        MilFunctions t = SimMilFunctions();
        t.MbufAlloc2d = MinimalMbufAlloc2d;
        t.MbufGet2d = MinimalMbufGet2d;
        return t;
    }();
    return table;
}

} // namespace

// Linked ahead of the driver's core, so the POSIX backend's own definition is not taken from it.
const MilFunctions &PlatformMilFunctions(const char *selection) {
    if (selection == nullptr || std::strcmp(selection, "sim") == 0) return BuiltInSimulatorFunctions();
    if (std::strcmp(selection, "minimal") == 0) return MinimalMilFunctions();
    KC_LOG(1,
           "MilBackend: ERROR: KESTCAM_MIL=%s: loading an imaging library by path is only possible on Windows\n",
           selection);
    return UnavailableMilFunctions();
}

} // namespace kestcam
