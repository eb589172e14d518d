// genicam_library.h - the GenICam backend's objects: the camera list, the board, one digitizer per
// opened camera and the image buffers. The C entry points of genicam_exports.cpp forward here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "genicam_frame.h"
#include "mil/mil_api.h"

typedef struct _ArvCamera ArvCamera;
typedef struct _ArvStream ArvStream;

namespace kestcam::genicam {

// A camera Aravis discovered.
struct DeviceInfo {
    std::string id;       // Aravis's device id, the order of the digitizers
    std::string protocol; // "GigEVision", "USB3Vision", ...
};

struct GenicamBuffer {
    std::mutex mutex; // a grab writes the planes while other threads read rows
    MilId system = 0;
    int width = 0;
    int height = 0;
    int bands = 1;
    int bits = 8; // 8 or 16
    std::vector<uint8_t> planes;
};

// One opened camera. The Aravis objects go when the last holder lets go: a grab holds it while it
// waits for frames, so a free from another thread never pulls the stream from under it.
struct GenicamDigitizer {
    ~GenicamDigitizer();

    MilId system = 0;
    int number = 0;
    std::string deviceId;
    ArvCamera *camera = nullptr;
    ArvStream *stream = nullptr;
    PixelLayout layout;
    int width = 0;
    int height = 0;
    size_t payload = 0;

    std::mutex featureMutex; // one camera command at a time: features, acquisition start and stop
    bool acquiring = false;  // under featureMutex
    std::mutex grabMutex;    // one grab at a time
    std::atomic<bool> freed{false};
    std::atomic<bool> sequenceRunning{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<int64_t> grabTimeoutMs{-1}; // negative: no time-out
    // The last grab heard nothing from the camera within its time-out: the camera may be gone, and
    // every command to it would cost seconds.
    std::atomic<bool> silent{false};
    // Set by Aravis's heartbeat when the camera stopped answering, also while no grab runs. Shared
    // with the signal handler, which may outlive this object for the length of one emission.
    std::shared_ptr<std::atomic<bool>> controlLost = std::make_shared<std::atomic<bool>>(false);
    unsigned long controlLostHandler = 0;

    bool Unresponsive() const { return silent || *controlLost; }
};

// Closes cameras that stopped answering on a thread of its own: Aravis's farewell commands to a
// lost camera (stop, stream and control release) go unanswered for seconds each, and the host's
// close should not wait for them. Owned by the library, which lives as long as the process.
class BackgroundCloser {
public:
    void Add(std::shared_ptr<GenicamDigitizer> digitizer);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::shared_ptr<GenicamDigitizer>> pending_;
    bool started_ = false;
};

class GenicamLibrary {
public:
    // The one library of the process; never destroyed (a grab may outlive static destruction).
    static GenicamLibrary &Instance();

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

    // GenICam features of an opened camera as integers: integer, enumeration (the entry's value),
    // boolean, and float (rounded) features.
    bool FeatureGet(MilId digitizer, const char *feature, MilInt64 *value);
    bool FeatureSet(MilId digitizer, const char *feature, MilInt64 value);
    bool FeatureRange(MilId digitizer, const char *feature, MilInt64 *min, MilInt64 *max);

private:
    GenicamLibrary() = default;

    struct System {
        std::string descriptor;
        std::vector<DeviceInfo> devices;
    };

    std::shared_ptr<GenicamDigitizer> FindDigitizer(MilId id, const char *function);
    std::shared_ptr<GenicamBuffer> FindBuffer(MilId id, const char *function);
    std::vector<DeviceInfo> DevicesOf(const std::string &descriptor) const;
    bool Grab(MilId digitizer, const MilId *buffers, MilInt count, bool sequence, const char *function);
    void FreeAllLocked();
    // Lets go of freed cameras: one that stopped answering closes in the background.
    void Close(std::vector<std::shared_ptr<GenicamDigitizer>> &digitizers);

    std::mutex mutex_; // guards the members below
    MilId appId_ = 0;
    MilId nextId_ = 1;                // never reused, so a stale id never reaches a newer object
    std::vector<DeviceInfo> devices_; // found at MappAlloc, ordered by device id
    std::map<MilId, System> systems_;
    std::map<MilId, std::shared_ptr<GenicamDigitizer>> digitizers_;
    std::map<MilId, std::shared_ptr<GenicamBuffer>> buffers_;
    BackgroundCloser closer_;
};

// The calling thread's pending error (every call but MappGetError clears it first).
void ClearError();
void SetError(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
MilInt GetError(MilInt type, void *text);

} // namespace kestcam::genicam
