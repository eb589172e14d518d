// sim_library.cpp - the simulated imaging library's objects, configuration look-ups and grabs.
#include "sim/sim_library.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "acquisition/row_conversion.h"
#include "os/read_domain.h"
#include "sim/sim_errors.h"
#include "sim/sim_ramp.h"

namespace kestcam::sim {
namespace {

constexpr MilInt kMaxBufferSide = 65536;
constexpr int64_t kMaxBufferSamples = int64_t{1} << 30;
constexpr size_t kDescriptorSize = 260; // the caller's descriptor buffer
constexpr double kMaxGrabTimeoutMs = 2147483647.0;

// Copies text into a caller's buffer of `size` bytes, always terminated.
void CopyText(void *dst, const std::string &text, size_t size) {
    char *out = static_cast<char *>(dst);
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

// The inquiry result: returned, and written as a 32-bit integer when the caller gave room.
MilInt Answer(void *result, MilInt value) {
    if (result != nullptr) std::memcpy(result, &value, sizeof value);
    return value;
}

bool LoadConfig(SimConfig &config, std::string &error) {
    const char *path = std::getenv("KESTCAM_SIM_CONFIG");
    if (path == nullptr || path[0] == '\0') {
        config = DefaultConfig();
        return true;
    }
    std::string text;
    if (!ReadTextFile(path, text)) {
        error = std::string("MappAlloc: cannot read the simulator configuration ") + path;
        return false;
    }
    std::string reason;
    if (!ParseConfig(ini::IniDocument::Parse(text), config, reason)) {
        error = "MappAlloc: " + reason + " in " + path;
        return false;
    }
    return true;
}

enum class FrameWait { Done, Stopped, Freed, TimedOut };

// Waits out one frame's time on the digitizer (its mutex held through `lock`). A stop of a
// running sequence and a free end the wait at once; a frame slower than the grab time-out
// ends at the time-out.
FrameWait WaitFrame(SimDigitizer &dig, std::unique_lock<std::mutex> &lock, bool sequence) {
    auto interrupted = [&] { return dig.freed || (sequence && dig.stopRequested); };
    const int64_t frameMs = dig.config.frameTimeMs;
    const bool timesOut = dig.grabTimeoutMs >= 0 && frameMs > dig.grabTimeoutMs;
    const int64_t waitMs = timesOut ? dig.grabTimeoutMs : frameMs;
    if (waitMs > 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        dig.wake.wait_until(lock, deadline, interrupted);
    }
    if (dig.freed) return FrameWait::Freed;
    if (sequence && dig.stopRequested) return FrameWait::Stopped;
    return timesOut ? FrameWait::TimedOut : FrameWait::Done;
}

// Writes frame `frame` of the digitizer into the buffer (its mutex held by the caller): the
// part of the buffer the digitizer's image covers, every band.
void FillBuffer(SimBuffer &buf, const DigitizerConfig &config, int64_t frame) {
    const RampTarget target{std::min(buf.width, config.width), std::min(buf.height, config.height), buf.width};
    const int shift = std::max(0, config.bits - buf.bits);
    const size_t plane = static_cast<size_t>(buf.width) * static_cast<size_t>(buf.height);
    for (int b = 0; b < buf.bands; ++b) {
        if (buf.bits == 8)
            FillRamp(buf.pixels8.data() + plane * b, target, frame, b, config.bits, shift);
        else
            FillRamp(buf.pixels16.data() + plane * b, target, frame, b, config.bits, shift);
    }
}

// Leaves frame `frame` of a digitizer for the buffer's first read to write (its mutex held, its
// readers out). A frame still pending that this one does not cover whole is written first: a grab
// from a smaller image leaves the rest of the buffer as the earlier grab made it.
void RecordFrame(SimBuffer &buf, const DigitizerConfig &config, int64_t frame) {
    if (buf.framePending && (std::min(buf.width, config.width) < std::min(buf.width, buf.pendingSource.width) ||
                             std::min(buf.height, config.height) < std::min(buf.height, buf.pendingSource.height)))
        FillBuffer(buf, buf.pendingSource, buf.pendingFrame);
    buf.framePending = true;
    buf.pendingFrame = frame;
    buf.pendingSource = config;
}

// True when the span lies inside the buffer; sets the error otherwise.
bool CheckSpan(const SimBuffer &buf, MilInt x, MilInt y, MilInt width, MilInt height, const void *dst,
               const char *function) {
    if (dst == nullptr) {
        SetError("%s: no destination", function);
        return false;
    }
    const int64_t right = int64_t{x} + width;
    const int64_t bottom = int64_t{y} + height;
    if (x < 0 || y < 0 || width < 1 || height < 1 || right > buf.width || bottom > buf.height) {
        SetError("%s: region (%d,%d) %dx%d is outside the %dx%d buffer", function, static_cast<int>(x),
                 static_cast<int>(y), static_cast<int>(width), static_cast<int>(height), buf.width, buf.height);
        return false;
    }
    return true;
}

// Planar red, green and blue into blue-green-red triples, four pixels a round: three 32-bit loads
// and three 32-bit stores instead of twelve of each. Words are assembled in little-endian order,
// the order of every target.
void PackBgr24(const uint8_t *red, const uint8_t *green, const uint8_t *blue, size_t count, uint8_t *out) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4, out += 12) {
        uint32_t r, g, b;
        std::memcpy(&r, red + i, 4);
        std::memcpy(&g, green + i, 4);
        std::memcpy(&b, blue + i, 4);
        const uint32_t w0 = (b & 0xFFu) | (g & 0xFFu) << 8 | (r & 0xFFu) << 16 | (b & 0xFF00u) << 16;
        const uint32_t w1 =
            (g >> 8 & 0xFFu) | (r >> 8 & 0xFFu) << 8 | (b >> 16 & 0xFFu) << 16 | (g >> 16 & 0xFFu) << 24;
        const uint32_t w2 = (r >> 16 & 0xFFu) | (b >> 24) << 8 | (g >> 24) << 16 | (r >> 24) << 24;
        std::memcpy(out, &w0, 4);
        std::memcpy(out + 4, &w1, 4);
        std::memcpy(out + 8, &w2, 4);
    }
    for (; i < count; ++i, out += 3) {
        out[0] = blue[i];
        out[1] = green[i];
        out[2] = red[i];
    }
}

// Row reads of every buffer; a grab, free or allocation waits only for the readers inside.
os::ReadDomain &BufferReaders() {
    // Every grab's fill writes: readers fence, so the fill never waits for a process barrier.
    static os::ReadDomain &domain = os::ReadDomain::Create(true);
    return domain;
}

} // namespace

SimLibrary &SimLibrary::Instance() {
    static SimLibrary *library = new SimLibrary;
    return *library;
}

// ---------------------------------------------------------------------------------------------
// Application

MilId SimLibrary::AppAlloc() {
    SimConfig config;
    std::string error;
    // The file is read outside the lock: other threads' calls need not wait for the disk.
    const bool loaded = LoadConfig(config, error);
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ != 0) {
        SetError("MappAlloc: application %d is already allocated", static_cast<int>(appId_));
        return 0;
    }
    if (!loaded) {
        SetError("%s", error.c_str());
        return 0;
    }
    if (config.appAllocFails) {
        SetError("MappAlloc: allocation refused ([Faults] AppAllocFails)");
        return 0;
    }
    config_ = std::move(config);
    appId_ = nextId_++;
    return appId_;
}

void SimLibrary::AppControl(MilInt type, MilInt value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ == 0) {
        SetError("MappControl: no application");
        return;
    }
    // Error reporting is the only application control; the simulator never shows boxes anyway.
    if (type != mil::kErrorReporting) SetError("MappControl: unsupported control type %d", static_cast<int>(type));
}

MilInt SimLibrary::AppInquire(MilInt type, void *result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ == 0) {
        SetError("MappInquire: no application");
        return 0;
    }
    const MilInt count = static_cast<MilInt>(config_.systems.size());
    if (type == mil::kInstalledSystemCount) return Answer(result, count);
    const int64_t index = int64_t{type} - mil::kInstalledSystemDescriptor;
    if (index >= 0 && index < count) {
        if (result == nullptr) {
            SetError("MappInquire: no room for the descriptor");
            return 0;
        }
        CopyText(result, config_.systems[static_cast<size_t>(index)].descriptor, kDescriptorSize);
        return 0;
    }
    SetError("MappInquire: unsupported inquiry type %d (%d systems installed)", static_cast<int>(type),
             static_cast<int>(count));
    return 0;
}

void SimLibrary::AppFree(MilId app) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (app == 0 || app != appId_) {
        SetError("MappFree: %d is not the application", static_cast<int>(app));
        return;
    }
    // Like the library it stands for: what the application still holds goes with it.
    FreeAllLocked();
    appId_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Systems (boards)

MilId SimLibrary::SysAlloc(const char *descriptor, MilInt device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ == 0) {
        SetError("MsysAlloc: no application");
        return 0;
    }
    if (descriptor == nullptr) {
        SetError("MsysAlloc: no system descriptor");
        return 0;
    }
    for (size_t i = 0; i < config_.systems.size(); ++i) {
        const SystemConfig &system = config_.systems[i];
        if (system.descriptor != descriptor) continue;
        bool answers = false;
        for (int d : system.devices)
            answers = answers || d == device;
        if (!answers) continue;
        for (const auto &entry : systems_) {
            if (entry.second.index == static_cast<int>(i) && entry.second.device == device) {
                SetError("MsysAlloc: %s device %d is already allocated", descriptor, static_cast<int>(device));
                return 0;
            }
        }
        const MilId id = nextId_++;
        systems_[id] = SimSystem{static_cast<int>(i), static_cast<int>(device), system.digitizers};
        return id;
    }
    SetError("MsysAlloc: no %.60s board at device %d", descriptor, static_cast<int>(device));
    return 0;
}

MilInt SimLibrary::SysInquire(MilId system, MilInt type, void *result) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = systems_.find(system);
    if (it == systems_.end()) {
        SetError("MsysInquire: %d is not a system", static_cast<int>(system));
        return 0;
    }
    const SimSystem &sys = it->second;
    switch (type) {
    case mil::kBoardNumber:
        return Answer(result, sys.device);
    case mil::kDigitizerNum:
        return Answer(result, static_cast<MilInt>(sys.digitizers.size()));
    case mil::kSerialNumber: {
        if (result == nullptr) {
            SetError("MsysInquire: no room for the serial number");
            return 0;
        }
        // At most "SIM-255-255": short enough for any serial-number buffer a caller keeps.
        char serial[32];
        const int length = std::snprintf(serial, sizeof serial, "SIM-%d-%d", sys.index, sys.device);
        CopyText(result, serial, sizeof serial);
        return length;
    }
    default:
        SetError("MsysInquire: unsupported inquiry type %d", static_cast<int>(type));
        return 0;
    }
}

void SimLibrary::SysFree(MilId system) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = systems_.find(system);
    if (it == systems_.end()) {
        SetError("MsysFree: %d is not a system", static_cast<int>(system));
        return;
    }
    FreeSystemLocked(it);
}

// ---------------------------------------------------------------------------------------------
// Digitizers

MilId SimLibrary::DigAlloc(MilId system, MilInt number, const char *dcf) {
    DigitizerConfig config;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = systems_.find(system);
        if (it == systems_.end()) {
            SetError("MdigAlloc: %d is not a system", static_cast<int>(system));
            return 0;
        }
        const std::vector<DigitizerConfig> &digitizers = it->second.digitizers;
        if (number < 0 || number >= static_cast<MilInt>(digitizers.size())) {
            SetError("MdigAlloc: the board has no digitizer %d (%d on the board)", static_cast<int>(number),
                     static_cast<int>(digitizers.size()));
            return 0;
        }
        config = digitizers[static_cast<size_t>(number)];
    }
    if (dcf == nullptr) {
        SetError("MdigAlloc: no DCF given");
        return 0;
    }
    // Any case of "M_DEFAULT" means the configured values, as the library's own macro would.
    const std::string dcfText(dcf);
    std::string upper = dcfText;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper != "M_DEFAULT") {
        std::string text, reason;
        if (!ReadTextFile(dcfText, text)) {
            SetError("MdigAlloc: cannot read DCF %s", dcf);
            return 0;
        }
        if (!ApplyDcf(ini::IniDocument::Parse(text), config, reason)) {
            SetError("MdigAlloc: %s in DCF %s", reason.c_str(), dcf);
            return 0;
        }
    }

    std::lock_guard<std::mutex> lock(mutex_);
    if (systems_.find(system) == systems_.end()) {
        SetError("MdigAlloc: system %d was freed", static_cast<int>(system));
        return 0;
    }
    for (const auto &entry : digitizers_) {
        if (entry.second->system == system && entry.second->number == number) {
            SetError("MdigAlloc: digitizer %d of the board is already allocated", static_cast<int>(number));
            return 0;
        }
    }
    auto dig = std::make_shared<SimDigitizer>();
    dig->system = system;
    dig->number = static_cast<int>(number);
    dig->config = config;
    const MilId id = nextId_++;
    digitizers_[id] = std::move(dig);
    return id;
}

std::shared_ptr<SimDigitizer> SimLibrary::FindDigitizer(MilId id, const char *function) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = digitizers_.find(id);
    if (it != digitizers_.end()) return it->second;
    SetError("%s: %d is not a digitizer", function, static_cast<int>(id));
    return nullptr;
}

MilInt SimLibrary::DigInquire(MilId digitizer, MilInt64 type, void *result) {
    const std::shared_ptr<SimDigitizer> dig = FindDigitizer(digitizer, "MdigInquire");
    if (!dig) return 0;
    const DigitizerConfig &config = dig->config; // fixed at allocation: no lock needed
    switch (type) {
    case mil::kSizeX:
        return Answer(result, config.width);
    case mil::kSizeY:
        return Answer(result, config.height);
    case mil::kColorMode:
        return Answer(result, config.ColorMode());
    case mil::kSizeBand:
        return Answer(result, config.bands);
    case mil::kSizeBit:
        return Answer(result, config.bits);
    case mil::kGrabTimeout: {
        std::lock_guard<std::mutex> lock(dig->mutex);
        return Answer(result, static_cast<MilInt>(dig->grabTimeoutMs));
    }
    default:
        SetError("MdigInquire: unsupported inquiry type %lld", static_cast<long long>(type));
        return 0;
    }
}

void SimLibrary::DigControl(MilId digitizer, MilInt64 type, double value) {
    const std::shared_ptr<SimDigitizer> dig = FindDigitizer(digitizer, "MdigControl");
    if (!dig) return;
    if (type != mil::kGrabTimeout && type != mil::kControl4016) {
        SetError("MdigControl: unsupported control type %lld", static_cast<long long>(type));
        return;
    }
    if (!std::isfinite(value)) {
        SetError("MdigControl: control %lld needs a finite value", static_cast<long long>(type));
        return;
    }
    std::lock_guard<std::mutex> lock(dig->mutex);
    if (type == mil::kGrabTimeout) {
        // A negative time-out or M_DEFAULT means waiting as long as a frame takes.
        const bool unlimited = value < 0 || value == static_cast<double>(mil::kDefault);
        dig->grabTimeoutMs = unlimited ? -1 : static_cast<int64_t>(std::min(value, kMaxGrabTimeoutMs));
    }
    dig->controls[type] = value;
}

void SimLibrary::DigLut(MilId digitizer, MilId lut) {
    const std::shared_ptr<SimDigitizer> dig = FindDigitizer(digitizer, "MdigLut");
    if (!dig) return;
    // The simulated digitizers have no input table of their own to load: only the reset exists.
    if (lut != mil::kDefault) {
        SetError("MdigLut: %d is not a lookup table", static_cast<int>(lut));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(dig->mutex);
        ++dig->lutResets;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++lutResets_;
}

void SimLibrary::DigProcess(MilId digitizer, const MilId *buffers, MilInt count, MilInt operation, MilInt flag) {
    if (operation == mil::kStop) {
        const std::shared_ptr<SimDigitizer> dig = FindDigitizer(digitizer, "MdigProcess");
        if (!dig) return;
        std::lock_guard<std::mutex> lock(dig->mutex);
        // Nothing to end when no sequence runs; a later sequence is not affected.
        if (dig->sequenceRunning) {
            dig->stopRequested = true;
            dig->wake.notify_all();
        }
        return;
    }
    if (operation != mil::kSequence) {
        SetError("MdigProcess: unsupported operation %d", static_cast<int>(operation));
        return;
    }
    if (flag != mil::kSynchronous) {
        SetError("MdigProcess: only synchronous sequences are simulated (flag %d)", static_cast<int>(flag));
        return;
    }
    if (buffers == nullptr || count < 1) {
        SetError("MdigProcess: no buffers");
        return;
    }
    Grab(digitizer, buffers, count, true, "MdigProcess");
}

void SimLibrary::DigGrab(MilId digitizer, MilId buffer) {
    Grab(digitizer, &buffer, 1, false, "MdigGrab");
}

bool SimLibrary::Grab(MilId digitizer, const MilId *bufferIds, MilInt count, bool sequence, const char *function) {
    std::shared_ptr<SimDigitizer> dig;
    std::vector<SimBuffer *> bufs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = digitizers_.find(digitizer);
        if (it == digitizers_.end()) {
            SetError("%s: %d is not a digitizer", function, static_cast<int>(digitizer));
            return false;
        }
        dig = it->second;
        bufs.reserve(static_cast<size_t>(count));
        for (MilInt i = 0; i < count; ++i) {
            const auto b = buffers_.find(bufferIds[i]);
            if (b == buffers_.end()) {
                SetError("%s: %d is not a buffer", function, static_cast<int>(bufferIds[i]));
                return false;
            }
            bufs.push_back(b->second);
        }
        // The band counts are read while the buffers cannot change hands.
        for (const SimBuffer *buf : bufs) {
            if (buf->bands != dig->config.bands) {
                SetError("%s: a %d-band buffer cannot take a %d-band image", function, buf->bands,
                         dig->config.bands);
                return false;
            }
        }
    }

    std::unique_lock<std::mutex> lock(dig->mutex);
    if (dig->busy) {
        SetError("%s: a grab already runs on digitizer %d", function, static_cast<int>(digitizer));
        return false;
    }
    if (sequence && dig->config.processFails) {
        SetError("%s: sequence grab failed ([ProcessFails])", function);
        return false;
    }
    if (!sequence && ++dig->singleGrabs == dig->config.grabFailsAt) {
        SetError("%s: grab %d failed ([GrabFailsAt])", function, dig->singleGrabs);
        return false;
    }
    dig->busy = true;
    dig->sequenceRunning = sequence;
    dig->stopRequested = false;
    dig->wake.notify_all();

    bool ok = true;
    for (size_t i = 0; i < bufs.size() && ok; ++i) {
        switch (WaitFrame(*dig, lock, sequence)) {
        case FrameWait::Done:
            break;
        case FrameWait::Stopped:
            // A sequence cut short delivered fewer frames than asked for: that is a failure.
            SetError("%s: sequence stopped after %d of %d frames", function, static_cast<int>(i),
                     static_cast<int>(count));
            ok = false;
            continue;
        case FrameWait::Freed:
            SetError("%s: digitizer %d was freed during the grab", function, static_cast<int>(digitizer));
            ok = false;
            continue;
        case FrameWait::TimedOut:
            SetError("%s: grab time-out after %lld ms", function, static_cast<long long>(dig->grabTimeoutMs));
            ok = false;
            continue;
        }
        const int64_t frame = dig->frames;
        // The frame is written without the digitizer's lock, so a stop or a look at the
        // digitizer never waits for the copy; `busy` keeps other grabs out meanwhile.
        lock.unlock();
        {
            std::lock_guard<std::mutex> bufLock(bufs[i]->mutex);
            // A buffer freed meanwhile has left its object to the pool, maybe to a newer buffer.
            if (bufs[i]->id != bufferIds[i]) {
                SetError("%s: buffer %d was freed during the grab", function, static_cast<int>(bufferIds[i]));
                ok = false;
            } else {
                BeginWrite(*bufs[i]);
                RecordFrame(*bufs[i], dig->config, frame);
            }
        }
        lock.lock();
        if (ok) ++dig->frames;
    }
    dig->busy = false;
    dig->sequenceRunning = false;
    dig->stopRequested = false;
    dig->wake.notify_all();
    return ok;
}

void SimLibrary::DigFree(MilId digitizer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = digitizers_.find(digitizer);
    if (it == digitizers_.end()) {
        SetError("MdigFree: %d is not a digitizer", static_cast<int>(digitizer));
        return;
    }
    FreeDigitizerLocked(it);
}

// ---------------------------------------------------------------------------------------------
// Buffers

MilId SimLibrary::BufAlloc(MilId system, MilInt bands, MilInt width, MilInt height, MilInt type,
                           const char *function) {
    if (bands != 1 && bands != 3) {
        SetError("%s: %d bands (1 or 3 are possible)", function, static_cast<int>(bands));
        return 0;
    }
    if (width < 1 || height < 1 || width > kMaxBufferSide || height > kMaxBufferSide ||
        int64_t{width} * height * bands > kMaxBufferSamples) {
        SetError("%s: unsupported size %dx%d", function, static_cast<int>(width), static_cast<int>(height));
        return 0;
    }
    if (type != 8 && type != 16) {
        SetError("%s: unsupported type %d (8 or 16 bits, unsigned)", function, static_cast<int>(type));
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (systems_.find(system) == systems_.end()) {
        SetError("%s: %d is not a system", function, static_cast<int>(system));
        return 0;
    }
    if (config_.bufferLimit > 0 && static_cast<int64_t>(buffers_.size()) >= config_.bufferLimit) {
        SetError("%s: buffer limit of %d reached ([Faults] BufferLimit)", function, config_.bufferLimit);
        return 0;
    }
    if (idleBuffers_.empty()) {
        try {
            // Room for every object to be idle at once, so that freeing never allocates.
            idleBuffers_.reserve(bufferPool_.size() + 1);
            bufferPool_.push_back(std::make_unique<SimBuffer>());
        } catch (const std::bad_alloc &) {
            SetError("%s: out of memory for %dx%d", function, static_cast<int>(width), static_cast<int>(height));
            return 0;
        }
        idleBuffers_.push_back(bufferPool_.back().get());
    }
    SimBuffer *buf = idleBuffers_.back();
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bands);
    const MilId id = nextId_;
    std::lock_guard<std::mutex> bufLock(buf->mutex);
    try {
        if (type == 8)
            buf->pixels8.assign(samples, 0);
        else
            buf->pixels16.assign(samples, 0);
        buffers_.emplace(id, buf);
    } catch (const std::bad_alloc &) {
        RowVector<uint8_t>().swap(buf->pixels8);
        RowVector<uint16_t>().swap(buf->pixels16);
        SetError("%s: out of memory for %dx%d", function, static_cast<int>(width), static_cast<int>(height));
        return 0;
    }
    idleBuffers_.pop_back();
    ++nextId_;
    buf->id = id;
    buf->system = system;
    buf->width = static_cast<int>(width);
    buf->height = static_cast<int>(height);
    buf->bands = static_cast<int>(bands);
    buf->bits = static_cast<int>(type);
    EndWrite(*buf);
    RecentBuffer(id).store(buf, std::memory_order_release);
    return id;
}

SimBuffer *SimLibrary::LockBuffer(MilId id, std::unique_lock<std::mutex> &lock, const char *function) {
    std::atomic<SimBuffer *> &recent = RecentBuffer(id);
    if (SimBuffer *hint = recent.load(std::memory_order_acquire); hint != nullptr && id != 0) {
        lock = std::unique_lock<std::mutex>(hint->mutex);
        if (hint->id == id) return hint;
        lock.unlock();
    }
    std::lock_guard<std::mutex> tableLock(mutex_);
    const auto it = buffers_.find(id);
    if (it == buffers_.end()) {
        SetError("%s: %d is not a buffer", function, static_cast<int>(id));
        return nullptr;
    }
    recent.store(it->second, std::memory_order_release);
    lock = std::unique_lock<std::mutex>(it->second->mutex);
    return it->second;
}

void SimLibrary::BeginWrite(SimBuffer &buf) {
    buf.readable.store(0, std::memory_order_seq_cst);
    BufferReaders().Synchronize();
}

SimBuffer *SimLibrary::LockBufferToRead(MilId id, std::unique_lock<std::mutex> &lock, const char *function) {
    SimBuffer *buf = LockBuffer(id, lock, function);
    if (buf != nullptr && buf->framePending) {
        FillBuffer(*buf, buf->pendingSource, buf->pendingFrame);
        EndWrite(*buf);
    }
    return buf;
}

SimBuffer *SimLibrary::ReadableBuffer(MilId id) {
    SimBuffer *hint = RecentBuffer(id).load(std::memory_order_acquire);
    if (hint == nullptr || id == 0) return nullptr;
    // Seen as `id` from inside the domain: no writer has begun on it, or the writer that set it
    // back is done, and the next one waits for this reader to leave.
    return hint->readable.load(std::memory_order_seq_cst) == id ? hint : nullptr;
}

void SimLibrary::BufGet2d(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst) {
    {
        os::ReadDomain::Reader reader(BufferReaders());
        if (const SimBuffer *buf = ReadableBuffer(buffer)) {
            Get2d(*buf, buffer, x, y, width, height, dst);
            return;
        }
    }
    // Being written, or not met lately: under its lock, after the writer.
    std::unique_lock<std::mutex> lock;
    const SimBuffer *buf = LockBufferToRead(buffer, lock, "MbufGet2d");
    if (buf == nullptr) return;
    Get2d(*buf, buffer, x, y, width, height, dst);
}

void SimLibrary::Get2d(const SimBuffer &buf, MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height,
                       void *dst) {
    if (buf.bands != 1) {
        SetError("MbufGet2d: buffer %d has %d bands", static_cast<int>(buffer), buf.bands);
        return;
    }
    if (!CheckSpan(buf, x, y, width, height, dst, "MbufGet2d")) return;
    const size_t sampleSize = buf.bits == 8 ? 1 : 2;
    const size_t rowBytes = static_cast<size_t>(width) * sampleSize;
    uint8_t *out = static_cast<uint8_t *>(dst);
    for (MilInt row = 0; row < height; ++row) {
        const size_t offset =
            static_cast<size_t>(y + row) * static_cast<size_t>(buf.width) + static_cast<size_t>(x);
        // 16-bit samples leave in the machine's order, which is little-endian on every target.
        const void *src = buf.bits == 8 ? static_cast<const void *>(buf.pixels8.data() + offset)
                                        : static_cast<const void *>(buf.pixels16.data() + offset);
        uint8_t *to = out + static_cast<size_t>(row) * rowBytes;
        // A span of a few bytes is copied in place: a call would cost more than the bytes.
        if (rowBytes <= 8) {
            for (size_t i = 0; i < rowBytes; ++i)
                to[i] = static_cast<const uint8_t *>(src)[i];
        } else {
            CopyRow(to, static_cast<const uint8_t *>(src), rowBytes);
        }
    }
}

void SimLibrary::BufGetColor2d(MilId buffer, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                               MilInt height, void *dst) {
    {
        os::ReadDomain::Reader reader(BufferReaders());
        if (const SimBuffer *buf = ReadableBuffer(buffer)) {
            GetColor2d(*buf, format, band, x, y, width, height, dst);
            return;
        }
    }
    std::unique_lock<std::mutex> lock;
    const SimBuffer *buf = LockBufferToRead(buffer, lock, "MbufGetColor2d");
    if (buf == nullptr) return;
    GetColor2d(*buf, format, band, x, y, width, height, dst);
}

void SimLibrary::GetColor2d(const SimBuffer &buf, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                            MilInt height, void *dst) {
    if (format != mil::kPackedBgr24 || band != mil::kAllBands) {
        SetError("MbufGetColor2d: only packed BGR24 of all bands is simulated");
        return;
    }
    if (buf.bands != 3 || buf.bits != 8) {
        SetError("MbufGetColor2d: BGR24 needs a 3-band 8-bit buffer");
        return;
    }
    if (!CheckSpan(buf, x, y, width, height, dst, "MbufGetColor2d")) return;
    const size_t plane = static_cast<size_t>(buf.width) * static_cast<size_t>(buf.height);
    const uint8_t *red = buf.pixels8.data();
    uint8_t *out = static_cast<uint8_t *>(dst);
    for (MilInt row = 0; row < height; ++row) {
        const size_t offset =
            static_cast<size_t>(y + row) * static_cast<size_t>(buf.width) + static_cast<size_t>(x);
        PackBgr24(red + offset, red + plane + offset, red + 2 * plane + offset, static_cast<size_t>(width),
                  out + static_cast<size_t>(row) * static_cast<size_t>(width) * 3);
    }
}

void SimLibrary::BufFree(MilId buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = buffers_.find(buffer);
    if (it == buffers_.end()) {
        SetError("MbufFree: %d is not a buffer", static_cast<int>(buffer));
        return;
    }
    FreeBufferLocked(it);
}

// ---------------------------------------------------------------------------------------------
// Freeing

void SimLibrary::FreeDigitizerLocked(std::map<MilId, std::shared_ptr<SimDigitizer>>::iterator it) {
    SimDigitizer &dig = *it->second;
    {
        std::lock_guard<std::mutex> lock(dig.mutex);
        dig.freed = true;
        dig.wake.notify_all();
    }
    digitizers_.erase(it);
}

void SimLibrary::FreeBufferLocked(std::map<MilId, SimBuffer *>::iterator it) {
    SimBuffer *buf = it->second;
    {
        std::lock_guard<std::mutex> lock(buf->mutex);
        BeginWrite(*buf); // and it stays out of readers' reach
        buf->id = 0;
        RowVector<uint8_t>().swap(buf->pixels8);
        RowVector<uint16_t>().swap(buf->pixels16);
    }
    buffers_.erase(it);
    // Room was reserved when the object was made, so handing it back cannot fail.
    idleBuffers_.push_back(buf);
}

void SimLibrary::FreeSystemLocked(std::map<MilId, SimSystem>::iterator it) {
    const MilId system = it->first;
    // A board takes its digitizers and buffers with it.
    for (auto d = digitizers_.begin(); d != digitizers_.end();) {
        auto next = std::next(d);
        if (d->second->system == system) FreeDigitizerLocked(d);
        d = next;
    }
    for (auto b = buffers_.begin(); b != buffers_.end();) {
        auto next = std::next(b);
        if (b->second->system == system) FreeBufferLocked(b);
        b = next;
    }
    systems_.erase(it);
}

void SimLibrary::FreeAllLocked() {
    while (!systems_.empty())
        FreeSystemLocked(systems_.begin());
    // Nothing should be left once the boards are gone; this keeps the tables empty regardless.
    while (!digitizers_.empty())
        FreeDigitizerLocked(digitizers_.begin());
    while (!buffers_.empty())
        FreeBufferLocked(buffers_.begin());
}

// ---------------------------------------------------------------------------------------------
// Test-facing views

void SimLibrary::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    FreeAllLocked();
    appId_ = 0;
    config_ = SimConfig{};
    lutResets_ = 0;
}

int SimLibrary::HeldBuffers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(buffers_.size());
}

int SimLibrary::HeldDigitizers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(digitizers_.size());
}

int SimLibrary::LutResets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lutResets_;
}

std::optional<DigitizerState> SimLibrary::Inspect(MilId digitizer) {
    std::shared_ptr<SimDigitizer> dig;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = digitizers_.find(digitizer);
        if (it == digitizers_.end()) return std::nullopt;
        dig = it->second;
    }
    std::lock_guard<std::mutex> lock(dig->mutex);
    DigitizerState state;
    state.framesGrabbed = dig->frames;
    state.lutResets = dig->lutResets;
    state.grabTimeoutMs = dig->grabTimeoutMs;
    state.controls = dig->controls;
    state.grabbing = dig->busy;
    return state;
}

bool SimLibrary::WaitUntilGrabbing(MilId digitizer, std::chrono::milliseconds limit) {
    std::shared_ptr<SimDigitizer> dig;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = digitizers_.find(digitizer);
        if (it == digitizers_.end()) return false;
        dig = it->second;
    }
    std::unique_lock<std::mutex> lock(dig->mutex);
    return dig->wake.wait_for(lock, limit, [&] { return dig->busy || dig->freed; }) && !dig->freed;
}

} // namespace kestcam::sim
