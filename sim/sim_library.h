// sim_library.h - the simulated imaging library's objects: application, boards, digitizers and
// buffers, their tables and the grabs. The C entry points of sim_mil.cpp forward here.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "acquisition/row_conversion.h"
#include "mil/mil_api.h"
#include "sim/sim_config.h"
#include "sim/sim_control.h"

namespace kestcam::sim {

// One allocated board.
struct SimSystem {
    int index = 0;  // installed-system index
    int device = 0; // device number
    std::vector<DigitizerConfig> digitizers;
};

// One image buffer: `bands` planes of width x height samples, one after another. Its object is
// pooled: once made it lives as long as the library, and after MbufFree it serves a later
// allocation under a new id. So a pointer to it, however old, may always be locked; under `mutex`
// the holder checks that `id` is still the one it asked for. Row reads find it that way without
// the library's lock, and most take no lock at all: inside the library's read domain, a buffer
// whose `readable` is the id they asked for cannot change until they leave.
struct SimBuffer {
    std::mutex mutex; // a grab writes the pixels while other threads read rows

    // The id while readers may copy without the lock; 0 while a writer (a grab, a free, an
    // allocation) changes the buffer. Set to 0 and then waited for readers, under `mutex`.
    std::atomic<MilId> readable{0};

    // Changed only under both the library's lock and `mutex`; read under either.
    MilId id = 0; // 0 while pooled
    MilId system = 0;
    int width = 0;
    int height = 0;
    int bands = 1;
    int bits = 8; // 8 or 16
    RowVector<uint8_t> pixels8; // on a cache line, as a grabber's buffers are
    RowVector<uint16_t> pixels16;

    // A grabbed frame that no one has read yet. A grab only records it, and the first read writes
    // it into the pixels, under `mutex`, on the reader's own core: a grabber's transfer costs the
    // processor nothing, and a frame written on the grab's core would be fetched line by line from
    // there by every reader. `readable` stays 0 until it is written, so every read takes the lock.
    bool framePending = false;
    int64_t pendingFrame = 0;
    DigitizerConfig pendingSource;
};

// One allocated digitizer. Its configuration is fixed at allocation; the rest changes under
// `mutex`, and `wake` is signalled whenever a grab starts or ends, or a stop or free arrives.
struct SimDigitizer {
    MilId system = 0;
    int number = 0;
    DigitizerConfig config;

    std::mutex mutex;
    std::condition_variable wake;
    bool freed = false;
    bool busy = false;            // a grab runs
    bool sequenceRunning = false; // that grab is a sequence, which a stop may end
    bool stopRequested = false;
    int64_t frames = 0;  // frames delivered since allocation: the ramp's f
    int singleGrabs = 0; // single-frame grabs attempted, for GrabFailsAt
    int lutResets = 0;
    int64_t grabTimeoutMs = -1; // negative: no time-out
    std::map<int64_t, double> controls;
};

class SimLibrary {
public:
    // The one library of the process. Never destroyed: a grab thread that outlives static
    // destruction must still find it.
    static SimLibrary &Instance();

    MilId AppAlloc();
    void AppControl(MilInt type, MilInt value);
    MilInt AppInquire(MilInt type, void *result);
    void AppFree(MilId app);

    MilId SysAlloc(const char *descriptor, MilInt device);
    MilInt SysInquire(MilId system, MilInt type, void *result);
    void SysFree(MilId system);

    MilId DigAlloc(MilId system, MilInt number, const char *dcf);
    MilInt DigInquire(MilId digitizer, MilInt64 type, void *result);
    void DigControl(MilId digitizer, MilInt64 type, double value);
    void DigLut(MilId digitizer, MilId lut);
    void DigProcess(MilId digitizer, const MilId *buffers, MilInt count, MilInt operation, MilInt flag);
    void DigGrab(MilId digitizer, MilId buffer);
    void DigFree(MilId digitizer);

    MilId BufAlloc(MilId system, MilInt bands, MilInt width, MilInt height, MilInt type, const char *function);
    void BufGet2d(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst);
    void BufGetColor2d(MilId buffer, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width, MilInt height,
                       void *dst);
    void BufFree(MilId buffer);

    // Test-facing views (sim_control.h).
    void Reset();
    int HeldBuffers();
    int HeldDigitizers();
    int LutResets();
    std::optional<DigitizerState> Inspect(MilId digitizer);
    bool WaitUntilGrabbing(MilId digitizer, std::chrono::milliseconds limit);

private:
    SimLibrary() = default;

    std::shared_ptr<SimDigitizer> FindDigitizer(MilId id, const char *function);
    // The buffer `id`, its mutex held through `lock`; null (and the error set) for an id that is
    // not an allocated buffer.
    SimBuffer *LockBuffer(MilId id, std::unique_lock<std::mutex> &lock, const char *function);
    // LockBuffer for a read of the pixels: a frame a grab left pending is written first, and readers
    // without the lock are let in again.
    SimBuffer *LockBufferToRead(MilId id, std::unique_lock<std::mutex> &lock, const char *function);
    // Inside the buffer read domain: the buffer `id` when it may be read without its lock, else null.
    SimBuffer *ReadableBuffer(MilId id);
    // Under the buffer's mutex: readers without the lock are gone once it returns, and stay out
    // until EndWrite, after which the pixels are what a read returns.
    static void BeginWrite(SimBuffer &buf);
    static void EndWrite(SimBuffer &buf) {
        buf.framePending = false;
        buf.readable.store(buf.id, std::memory_order_release);
    }
    void Get2d(const SimBuffer &buf, MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst);
    void GetColor2d(const SimBuffer &buf, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                    MilInt height, void *dst);
    bool Grab(MilId digitizer, const MilId *buffers, MilInt count, bool sequence, const char *function);
    // Frees objects while mutex_ is held; a grab still running on them fails without touching
    // freed memory: it holds its own reference to the digitizer, and buffer objects are pooled.
    void FreeDigitizerLocked(std::map<MilId, std::shared_ptr<SimDigitizer>>::iterator it);
    void FreeBufferLocked(std::map<MilId, SimBuffer *>::iterator it);
    void FreeSystemLocked(std::map<MilId, SimSystem>::iterator it);
    void FreeAllLocked();

    std::mutex mutex_; // guards the members below
    MilId appId_ = 0;
    SimConfig config_;
    MilId nextId_ = 1; // ids are never reused, so a stale id never reaches a newer object
    std::map<MilId, SimSystem> systems_;
    std::map<MilId, std::shared_ptr<SimDigitizer>> digitizers_;
    std::map<MilId, SimBuffer *> buffers_;               // the allocated ones, all from bufferPool_
    std::vector<std::unique_ptr<SimBuffer>> bufferPool_; // every buffer object made; never shrinks
    std::vector<SimBuffer *> idleBuffers_;               // pooled objects free for an allocation
    int lutResets_ = 0;

    // Read and written without the lock: for each id slot, the object last found for it. Only a
    // hint, checked under the object's own mutex; row reads that hit it never take mutex_.
    static constexpr size_t kRecentBuffers = 64;
    std::array<std::atomic<SimBuffer *>, kRecentBuffers> recentBuffers_{};
    std::atomic<SimBuffer *> &RecentBuffer(MilId id) {
        return recentBuffers_[static_cast<uint32_t>(id) % kRecentBuffers];
    }
};

} // namespace kestcam::sim
