// genicam_library.cpp - the GenICam backend's objects on top of Aravis: discovery, opening a camera
// with its DCF features, grabs from the camera's stream, buffers and feature access.
#include "genicam_library.h"

#include <arv.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

namespace kestcam::genicam {
namespace {

constexpr const char *kGigeVision = "M_SYSTEM_GIGE_VISION";
constexpr const char *kUsb3Vision = "M_SYSTEM_USB3_VISION";
constexpr size_t kDescriptorSize = 260; // the caller's descriptor buffer
constexpr MilInt kMaxBufferSide = 65536;
constexpr int64_t kMaxBufferSamples = int64_t{1} << 30;
// Stream buffers queued for the camera: room for the frames that arrive between two grabs.
constexpr int kStreamBuffers = 8;
// A grab waits for frames in slices this long, so a stop or a free ends it promptly.
constexpr int64_t kWaitSliceUs = 20000;
constexpr double kMaxGrabTimeoutMs = 2147483647.0;

// ---------------------------------------------------------------------------------------------
// Errors, one per calling thread

thread_local bool t_errorPending = false;
thread_local char t_errorText[512];

// The message of an Aravis error, and the error freed.
std::string Take(GError *error) {
    if (error == nullptr) return "";
    std::string text = error->message != nullptr ? error->message : "unknown error";
    g_error_free(error);
    return text;
}

void CopyText(void *dst, const std::string &text, size_t size) {
    char *out = static_cast<char *>(dst);
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

MilInt Answer(void *result, MilInt value) {
    if (result != nullptr) std::memcpy(result, &value, sizeof value);
    return value;
}

bool ReadFile(const std::string &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return !in.bad();
}

bool IsDefaultDcf(const char *dcf) {
    const char *key = "M_DEFAULT";
    for (; *dcf != '\0' && *key != '\0'; ++dcf, ++key)
        if (std::toupper(static_cast<unsigned char>(*dcf)) != *key) return false;
    return *dcf == '\0' && *key == '\0';
}

const char *DescriptorOfProtocol(const std::string &protocol) {
    if (protocol == "GigEVision") return kGigeVision;
    if (protocol == "USB3Vision") return kUsb3Vision;
    return nullptr;
}

bool ParseInt64(const std::string &text, int64_t &value) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    value = v;
    return true;
}

bool ParseDouble(const std::string &text, double &value) {
    if (text.empty()) return false;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// Writes one DCF value to a feature by its type; the reason when the value is not one the
// feature's type can take or the camera refuses it.
bool WriteFeatureText(ArvGcNode *node, const std::string &value, std::string &reason) {
    GError *error = nullptr;
    if (ARV_IS_GC_ENUMERATION(node)) {
        arv_gc_enumeration_set_string_value(ARV_GC_ENUMERATION(node), value.c_str(), &error);
    } else if (ARV_IS_GC_INTEGER(node)) {
        int64_t v = 0;
        if (!ParseInt64(value, v)) {
            reason = "not an integer";
            return false;
        }
        arv_gc_integer_set_value(ARV_GC_INTEGER(node), v, &error);
    } else if (ARV_IS_GC_FLOAT(node)) {
        double v = 0;
        if (!ParseDouble(value, v)) {
            reason = "not a number";
            return false;
        }
        arv_gc_float_set_value(ARV_GC_FLOAT(node), v, &error);
    } else if (ARV_IS_GC_BOOLEAN(node)) {
        int64_t v = 0;
        const bool truth = value == "true" || value == "True" || (ParseInt64(value, v) && v != 0);
        const bool falsity = value == "false" || value == "False" || (ParseInt64(value, v) && v == 0);
        if (!truth && !falsity) {
            reason = "not a boolean";
            return false;
        }
        arv_gc_boolean_set_value(ARV_GC_BOOLEAN(node), truth, &error);
    } else if (ARV_IS_GC_STRING(node)) {
        arv_gc_string_set_value(ARV_GC_STRING(node), value.c_str(), &error);
    } else {
        reason = "the feature takes no value";
        return false;
    }
    if (error == nullptr) return true;
    reason = Take(error);
    return false;
}

const char *StatusText(ArvBufferStatus status) {
    switch (status) {
    case ARV_BUFFER_STATUS_SUCCESS:
        return "complete";
    case ARV_BUFFER_STATUS_CLEARED:
        return "cleared";
    case ARV_BUFFER_STATUS_TIMEOUT:
        return "timed out while being received";
    case ARV_BUFFER_STATUS_MISSING_PACKETS:
        return "incomplete: stream packets lost";
    case ARV_BUFFER_STATUS_WRONG_PACKET_ID:
        return "incomplete: wrong packet id";
    case ARV_BUFFER_STATUS_SIZE_MISMATCH:
        return "larger than the buffer";
    case ARV_BUFFER_STATUS_FILLING:
        return "still being received";
    case ARV_BUFFER_STATUS_ABORTED:
        return "aborted";
    default:
        return "failed";
    }
}

// True when the span lies inside the buffer; sets the error otherwise.
bool CheckSpan(const GenicamBuffer &buf, MilInt x, MilInt y, MilInt width, MilInt height, const void *dst,
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

// The heartbeat's "control-lost" signal, on Aravis's own thread.
void OnControlLost(ArvGvDevice *, gpointer data) {
    static_cast<std::shared_ptr<std::atomic<bool>> *>(data)->get()->store(true);
}

} // namespace

void ClearError() {
    t_errorPending = false;
}

void SetError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_errorText, sizeof t_errorText, format, args);
    va_end(args);
    t_errorPending = true;
}

MilInt GetError(MilInt type, void *text) {
    if (text != nullptr && (type & mil::kErrorMessage) == mil::kErrorMessage)
        CopyText(text, t_errorPending ? t_errorText : "", mil::kErrorTextSize);
    return t_errorPending ? 1 : 0;
}

GenicamDigitizer::~GenicamDigitizer() {
    if (camera != nullptr && controlLostHandler != 0)
        g_signal_handler_disconnect(arv_camera_get_device(camera), controlLostHandler);
    // A camera known to be gone is not asked to stop: the command would only wait out its time-out.
    if (camera != nullptr && acquiring && !*controlLost) {
        GError *error = nullptr;
        arv_camera_stop_acquisition(camera, &error);
        if (error != nullptr) g_error_free(error);
    }
    if (stream != nullptr) g_object_unref(stream);
    if (camera != nullptr) g_object_unref(camera);
}

GenicamLibrary &GenicamLibrary::Instance() {
    static GenicamLibrary *library = new GenicamLibrary;
    return *library;
}

// ---------------------------------------------------------------------------------------------
// Application

MilId GenicamLibrary::AppAlloc() {
    // The network is asked outside the lock: discovery takes about a second.
    arv_update_device_list();
    std::vector<DeviceInfo> devices;
    const unsigned count = arv_get_n_devices();
    for (unsigned i = 0; i < count; ++i) {
        const char *id = arv_get_device_id(i);
        const char *protocol = arv_get_device_protocol(i);
        if (id != nullptr) devices.push_back({id, protocol != nullptr ? protocol : ""});
    }
    // Ordered by device id, so a camera keeps its name while others come and go.
    std::sort(devices.begin(), devices.end(),
              [](const DeviceInfo &a, const DeviceInfo &b) { return a.id < b.id; });

    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ != 0) {
        SetError("MappAlloc: application %d is already allocated", static_cast<int>(appId_));
        return 0;
    }
    devices_ = std::move(devices);
    appId_ = nextId_++;
    return appId_;
}

void GenicamLibrary::AppControl(MilInt type, MilInt value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ == 0) {
        SetError("MappControl: no application");
        return;
    }
    if (type != mil::kErrorReporting) SetError("MappControl: unsupported control type %d", static_cast<int>(type));
}

std::vector<DeviceInfo> GenicamLibrary::DevicesOf(const std::string &descriptor) const {
    std::vector<DeviceInfo> out;
    for (const DeviceInfo &d : devices_) {
        const char *own = DescriptorOfProtocol(d.protocol);
        if (own != nullptr && descriptor == own) out.push_back(d);
    }
    return out;
}

MilInt GenicamLibrary::AppInquire(MilInt type, void *result) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ == 0) {
        SetError("MappInquire: no application");
        return 0;
    }
    // The GigE Vision system is always installed; USB3 Vision only when such a camera was found.
    std::vector<const char *> installed{kGigeVision};
    if (!DevicesOf(kUsb3Vision).empty()) installed.push_back(kUsb3Vision);
    const MilInt count = static_cast<MilInt>(installed.size());
    if (type == mil::kInstalledSystemCount) return Answer(result, count);
    const int64_t index = int64_t{type} - mil::kInstalledSystemDescriptor;
    if (index >= 0 && index < count) {
        if (result == nullptr) {
            SetError("MappInquire: no room for the descriptor");
            return 0;
        }
        CopyText(result, installed[static_cast<size_t>(index)], kDescriptorSize);
        return 0;
    }
    SetError("MappInquire: unsupported inquiry type %d", static_cast<int>(type));
    return 0;
}

void GenicamLibrary::AppFree(MilId app) {
    std::vector<std::shared_ptr<GenicamDigitizer>> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (app == 0 || app != appId_) {
            SetError("MappFree: %d is not the application", static_cast<int>(app));
            return;
        }
        for (auto &entry : digitizers_)
            closing.push_back(entry.second);
        FreeAllLocked();
        appId_ = 0;
    }
    // The cameras close outside the lock.
    Close(closing);
}

// ---------------------------------------------------------------------------------------------
// Systems

MilId GenicamLibrary::SysAlloc(const char *descriptor, MilInt device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (appId_ == 0) {
        SetError("MsysAlloc: no application");
        return 0;
    }
    if (descriptor == nullptr) {
        SetError("MsysAlloc: no system descriptor");
        return 0;
    }
    const std::string wanted(descriptor);
    if (wanted != kGigeVision && wanted != kUsb3Vision) {
        SetError("MsysAlloc: no %.60s system", descriptor);
        return 0;
    }
    std::vector<DeviceInfo> devices = DevicesOf(wanted);
    if (device != 0 || devices.empty()) {
        SetError("MsysAlloc: no %.60s board at device %d (%d camera(s) found)", descriptor,
                 static_cast<int>(device), static_cast<int>(devices.size()));
        return 0;
    }
    for (const auto &entry : systems_) {
        if (entry.second.descriptor == wanted) {
            SetError("MsysAlloc: %s device 0 is already allocated", descriptor);
            return 0;
        }
    }
    const MilId id = nextId_++;
    systems_[id] = System{wanted, std::move(devices)};
    return id;
}

MilInt GenicamLibrary::SysInquire(MilId system, MilInt type, void *result) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = systems_.find(system);
    if (it == systems_.end()) {
        SetError("MsysInquire: %d is not a system", static_cast<int>(system));
        return 0;
    }
    const MilInt cameras = static_cast<MilInt>(it->second.devices.size());
    switch (type) {
    case mil::kBoardNumber:
        return Answer(result, 0);
    case mil::kDigitizerNum:
        return Answer(result, cameras);
    case mil::kSerialNumber: {
        if (result == nullptr) {
            SetError("MsysInquire: no room for the serial number");
            return 0;
        }
        char serial[32];
        const int length = std::snprintf(serial, sizeof serial, "GENICAM-%d", static_cast<int>(cameras));
        CopyText(result, serial, sizeof serial);
        return length;
    }
    default:
        SetError("MsysInquire: unsupported inquiry type %d", static_cast<int>(type));
        return 0;
    }
}

void GenicamLibrary::SysFree(MilId system) {
    std::vector<std::shared_ptr<GenicamDigitizer>> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = systems_.find(system);
        if (it == systems_.end()) {
            SetError("MsysFree: %d is not a system", static_cast<int>(system));
            return;
        }
        for (auto d = digitizers_.begin(); d != digitizers_.end();) {
            if (d->second->system == system) {
                closing.push_back(d->second);
                d = digitizers_.erase(d);
            } else {
                ++d;
            }
        }
        for (auto b = buffers_.begin(); b != buffers_.end();)
            b = b->second->system == system ? buffers_.erase(b) : std::next(b);
        systems_.erase(it);
    }
    Close(closing);
}

void GenicamLibrary::FreeAllLocked() {
    for (auto &entry : digitizers_)
        entry.second->freed = true;
    digitizers_.clear();
    buffers_.clear();
    systems_.clear();
}

// ---------------------------------------------------------------------------------------------
// Digitizers

MilId GenicamLibrary::DigAlloc(MilId system, MilInt number, const char *dcf) {
    std::string deviceId;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = systems_.find(system);
        if (it == systems_.end()) {
            SetError("MdigAlloc: %d is not a system", static_cast<int>(system));
            return 0;
        }
        const std::vector<DeviceInfo> &devices = it->second.devices;
        if (number < 0 || number >= static_cast<MilInt>(devices.size())) {
            SetError("MdigAlloc: the board has no digitizer %d (%d on the board)", static_cast<int>(number),
                     static_cast<int>(devices.size()));
            return 0;
        }
        for (const auto &entry : digitizers_) {
            if (entry.second->system == system && entry.second->number == number) {
                SetError("MdigAlloc: digitizer %d of the board is already allocated", static_cast<int>(number));
                return 0;
            }
        }
        deviceId = devices[static_cast<size_t>(number)].id;
    }
    if (dcf == nullptr) {
        SetError("MdigAlloc: no DCF given");
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> features;
    if (!IsDefaultDcf(dcf)) {
        std::string text, reason;
        if (!ReadFile(dcf, text)) {
            SetError("MdigAlloc: cannot read DCF %s", dcf);
            return 0;
        }
        if (!ParseFeatureList(text, features, reason)) {
            SetError("MdigAlloc: %s in DCF %s", reason.c_str(), dcf);
            return 0;
        }
    }

    auto dig = std::make_shared<GenicamDigitizer>();
    dig->system = system;
    dig->number = static_cast<int>(number);
    dig->deviceId = deviceId;
    GError *error = nullptr;
    dig->camera = arv_camera_new(deviceId.c_str(), &error);
    if (dig->camera == nullptr) {
        SetError("MdigAlloc: cannot open camera %s: %s", deviceId.c_str(), Take(error).c_str());
        return 0;
    }
    ArvDevice *device = arv_camera_get_device(dig->camera);
    if (arv_camera_is_gv_device(dig->camera)) {
        if (!arv_gv_device_is_controller(ARV_GV_DEVICE(device))) {
            SetError("MdigAlloc: camera %s is controlled by another application", deviceId.c_str());
            return 0;
        }
        dig->controlLostHandler = g_signal_connect_data(
            device, "control-lost", G_CALLBACK(OnControlLost),
            new std::shared_ptr<std::atomic<bool>>(dig->controlLost),
            [](gpointer data, GClosure *) { delete static_cast<std::shared_ptr<std::atomic<bool>> *>(data); },
            GConnectFlags(0));
        // The packet socket receives nothing from a camera on the loopback; the ordinary socket
        // works everywhere.
        arv_camera_gv_set_stream_options(dig->camera, ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED);
    }
    // Values the camera cannot take are refused before they reach it.
    arv_device_set_range_check_policy(device, ARV_RANGE_CHECK_POLICY_ENABLE);
    arv_device_set_access_check_policy(device, ARV_ACCESS_CHECK_POLICY_ENABLE);

    // Every name is known before the first value is written: a DCF naming a feature the camera
    // lacks leaves the camera as it was.
    std::vector<ArvGcNode *> nodes;
    for (const auto &[name, value] : features) {
        ArvGcNode *node = arv_device_get_feature(device, name.c_str());
        if (node == nullptr || !ARV_IS_GC_FEATURE_NODE(node)) {
            SetError("MdigAlloc: unknown feature %s (value %s) in DCF %s", name.c_str(), value.c_str(), dcf);
            return 0;
        }
        nodes.push_back(node);
    }
    for (size_t i = 0; i < features.size(); ++i) {
        const std::string &name = features[i].first;
        const std::string &value = features[i].second;
        ArvGcNode *node = nodes[i];
        std::string reason;
        if (!WriteFeatureText(node, value, reason)) {
            SetError("MdigAlloc: feature %s refused the value %s in DCF %s: %s", name.c_str(), value.c_str(), dcf,
                     reason.c_str());
            return 0;
        }
    }

    int x = 0, y = 0;
    arv_camera_get_region(dig->camera, &x, &y, &dig->width, &dig->height, &error);
    const char *format = error == nullptr ? arv_camera_get_pixel_format_as_string(dig->camera, &error) : nullptr;
    if (error == nullptr) dig->payload = arv_camera_get_payload(dig->camera, &error);
    if (error != nullptr) {
        SetError("MdigAlloc: camera %s: %s", deviceId.c_str(), Take(error).c_str());
        return 0;
    }
    const std::string formatName = format != nullptr ? format : "";
    if (!LayoutOf(formatName, dig->layout)) {
        SetError("MdigAlloc: camera %s: pixel format %s is not supported (Mono8, Mono10, Mono12, Mono16, RGB8, "
                 "BGR8)",
                 deviceId.c_str(), formatName.c_str());
        return 0;
    }
    const size_t imageBytes = static_cast<size_t>(dig->width) * static_cast<size_t>(dig->height) *
                              static_cast<size_t>(dig->layout.bands * dig->layout.bytesPerSample);
    if (dig->width < 1 || dig->height < 1 || dig->payload < imageBytes) {
        SetError("MdigAlloc: camera %s: a %dx%d %s image does not fit its payload of %zu bytes", deviceId.c_str(),
                 dig->width, dig->height, formatName.c_str(), dig->payload);
        return 0;
    }

    dig->stream = arv_camera_create_stream(dig->camera, nullptr, nullptr, &error);
    if (dig->stream == nullptr) {
        SetError("MdigAlloc: camera %s: cannot open its stream: %s", deviceId.c_str(), Take(error).c_str());
        return 0;
    }
    if (ARV_IS_GV_STREAM(dig->stream)) {
        // A frame arrives in one burst: the socket holds a few of them (the system may cap it lower).
        const size_t socketBytes = std::min<size_t>(dig->payload * 4, 64u << 20);
        g_object_set(dig->stream, "socket-buffer", ARV_GV_STREAM_SOCKET_BUFFER_FIXED, "socket-buffer-size",
                     static_cast<gint>(std::max<size_t>(socketBytes, 1u << 20)), nullptr);
    }
    for (int i = 0; i < kStreamBuffers; ++i)
        arv_stream_push_buffer(dig->stream, arv_buffer_new(dig->payload, nullptr));

    std::lock_guard<std::mutex> lock(mutex_);
    if (systems_.find(system) == systems_.end()) {
        SetError("MdigAlloc: system %d was freed", static_cast<int>(system));
        return 0;
    }
    const MilId id = nextId_++;
    digitizers_[id] = std::move(dig);
    return id;
}

std::shared_ptr<GenicamDigitizer> GenicamLibrary::FindDigitizer(MilId id, const char *function) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = digitizers_.find(id);
    if (it != digitizers_.end()) return it->second;
    SetError("%s: %d is not a digitizer", function, static_cast<int>(id));
    return nullptr;
}

MilInt GenicamLibrary::DigInquire(MilId digitizer, MilInt64 type, void *result) {
    const std::shared_ptr<GenicamDigitizer> dig = FindDigitizer(digitizer, "MdigInquire");
    if (!dig) return 0;
    switch (type) {
    case mil::kSizeX:
        return Answer(result, dig->width);
    case mil::kSizeY:
        return Answer(result, dig->height);
    case mil::kColorMode:
        return Answer(result, dig->layout.bands == 3 ? 8 : 0);
    case mil::kSizeBand:
        return Answer(result, dig->layout.bands);
    case mil::kSizeBit:
        return Answer(result, dig->layout.bits);
    case mil::kGrabTimeout:
        return Answer(result, static_cast<MilInt>(dig->grabTimeoutMs.load()));
    default:
        SetError("MdigInquire: unsupported inquiry type %lld", static_cast<long long>(type));
        return 0;
    }
}

void GenicamLibrary::DigControl(MilId digitizer, MilInt64 type, double value) {
    const std::shared_ptr<GenicamDigitizer> dig = FindDigitizer(digitizer, "MdigControl");
    if (!dig) return;
    if (type != mil::kGrabTimeout && type != mil::kControl4016) {
        SetError("MdigControl: unsupported control type %lld", static_cast<long long>(type));
        return;
    }
    if (!std::isfinite(value)) {
        SetError("MdigControl: control %lld needs a finite value", static_cast<long long>(type));
        return;
    }
    if (type == mil::kGrabTimeout) {
        const bool unlimited = value < 0 || value == static_cast<double>(mil::kDefault);
        dig->grabTimeoutMs = unlimited ? -1 : static_cast<int64_t>(std::min(value, kMaxGrabTimeoutMs));
    }
}

void GenicamLibrary::DigLut(MilId digitizer, MilId lut) {
    if (!FindDigitizer(digitizer, "MdigLut")) return;
    // A camera has no input table to load here: only the reset is known, and it changes nothing.
    if (lut != mil::kDefault) SetError("MdigLut: %d is not a lookup table", static_cast<int>(lut));
}

void GenicamLibrary::DigProcess(MilId digitizer, const MilId *buffers, MilInt count, MilInt operation,
                                MilInt flag) {
    if (operation == mil::kStop) {
        const std::shared_ptr<GenicamDigitizer> dig = FindDigitizer(digitizer, "MdigProcess");
        if (dig && dig->sequenceRunning) dig->stopRequested = true;
        return;
    }
    if (operation != mil::kSequence) {
        SetError("MdigProcess: unsupported operation %d", static_cast<int>(operation));
        return;
    }
    if (flag != mil::kSynchronous) {
        SetError("MdigProcess: only synchronous sequences are supported (flag %d)", static_cast<int>(flag));
        return;
    }
    if (buffers == nullptr || count < 1) {
        SetError("MdigProcess: no buffers");
        return;
    }
    Grab(digitizer, buffers, count, true, "MdigProcess");
}

void GenicamLibrary::DigGrab(MilId digitizer, MilId buffer) {
    Grab(digitizer, &buffer, 1, false, "MdigGrab");
}

bool GenicamLibrary::Grab(MilId digitizer, const MilId *bufferIds, MilInt count, bool sequence,
                          const char *function) {
    std::shared_ptr<GenicamDigitizer> dig;
    std::vector<std::shared_ptr<GenicamBuffer>> bufs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = digitizers_.find(digitizer);
        if (it == digitizers_.end()) {
            SetError("%s: %d is not a digitizer", function, static_cast<int>(digitizer));
            return false;
        }
        dig = it->second;
        for (MilInt i = 0; i < count; ++i) {
            const auto b = buffers_.find(bufferIds[i]);
            if (b == buffers_.end()) {
                SetError("%s: %d is not a buffer", function, static_cast<int>(bufferIds[i]));
                return false;
            }
            const GenicamBuffer &buf = *b->second;
            if (buf.bands != dig->layout.bands || buf.width != dig->width || buf.height != dig->height) {
                SetError("%s: a %dx%d %d-band buffer cannot take the camera's %dx%d %d-band image", function,
                         buf.width, buf.height, buf.bands, dig->width, dig->height, dig->layout.bands);
                return false;
            }
            bufs.push_back(b->second);
        }
    }
    std::unique_lock<std::mutex> grabLock(dig->grabMutex, std::try_to_lock);
    if (!grabLock.owns_lock()) {
        SetError("%s: a grab already runs on digitizer %d", function, static_cast<int>(digitizer));
        return false;
    }
    dig->stopRequested = false;
    dig->sequenceRunning = sequence;
    struct SequenceEnd {
        GenicamDigitizer &d;
        ~SequenceEnd() { d.sequenceRunning = false; }
    } sequenceEnd{*dig};

    {
        // Acquisition starts with the first grab and runs until the camera is freed: a host that
        // grabs again and again loses no frame between its grabs.
        std::lock_guard<std::mutex> lock(dig->featureMutex);
        if (!dig->acquiring) {
            GError *error = nullptr;
            arv_camera_set_acquisition_mode(dig->camera, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
            if (error == nullptr) arv_camera_start_acquisition(dig->camera, &error);
            if (error != nullptr) {
                SetError("%s: camera %s cannot start acquisition: %s", function, dig->deviceId.c_str(),
                         Take(error).c_str());
                return false;
            }
            dig->acquiring = true;
        }
    }
    // Frames completed before this grab was asked for are not its frames.
    while (ArvBuffer *old = arv_stream_try_pop_buffer(dig->stream))
        arv_stream_push_buffer(dig->stream, old);

    const size_t frameBytes = static_cast<size_t>(dig->width) * static_cast<size_t>(dig->height) *
                              static_cast<size_t>(dig->layout.bands * dig->layout.bytesPerSample);
    guint64 lastFrameId = 0;
    for (MilInt i = 0; i < count; ++i) {
        const int frame = static_cast<int>(i) + 1;
        const int64_t timeoutMs = dig->grabTimeoutMs.load();
        const auto start = std::chrono::steady_clock::now();
        ArvBuffer *received = nullptr;
        while (received == nullptr) {
            if (dig->freed) {
                SetError("%s: digitizer %d was freed during the grab", function, static_cast<int>(digitizer));
                return false;
            }
            if (sequence && dig->stopRequested) {
                SetError("%s: sequence stopped after %d of %d frames", function, frame - 1,
                         static_cast<int>(count));
                return false;
            }
            int64_t sliceUs = kWaitSliceUs;
            if (timeoutMs >= 0) {
                const int64_t elapsedUs =
                    std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
                        .count();
                if (elapsedUs >= timeoutMs * 1000) {
                    dig->silent = true;
                    SetError("%s: frame %d of %d: no frame from camera %s within the time-out of %lld ms",
                             function, frame, static_cast<int>(count), dig->deviceId.c_str(),
                             static_cast<long long>(timeoutMs));
                    return false;
                }
                sliceUs = std::min(sliceUs, std::max<int64_t>(1, timeoutMs * 1000 - elapsedUs));
            }
            received = arv_stream_timeout_pop_buffer(dig->stream, static_cast<guint64>(sliceUs));
        }
        dig->silent = false;
        // The stream buffer goes back to the camera's queue whatever happens to the frame.
        struct Requeue {
            ArvStream *stream;
            ArvBuffer *buffer;
            ~Requeue() { arv_stream_push_buffer(stream, buffer); }
        } requeue{dig->stream, received};

        const ArvBufferStatus status = arv_buffer_get_status(received);
        const guint64 frameId = arv_buffer_get_frame_id(received);
        if (status != ARV_BUFFER_STATUS_SUCCESS) {
            SetError("%s: frame %d of %d (camera frame %llu) is %s", function, frame, static_cast<int>(count),
                     static_cast<unsigned long long>(frameId), StatusText(status));
            return false;
        }
        // Within one sequence the camera's frames follow one another; a gap is a frame lost whole.
        if (i > 0 && frameId > lastFrameId + 1) {
            SetError("%s: frame %d of %d: camera frame(s) %llu to %llu missing", function, frame,
                     static_cast<int>(count), static_cast<unsigned long long>(lastFrameId + 1),
                     static_cast<unsigned long long>(frameId - 1));
            return false;
        }
        lastFrameId = frameId;
        size_t size = 0;
        const void *data = arv_buffer_get_image_data(received, &size);
        if (arv_buffer_get_image_width(received) != dig->width ||
            arv_buffer_get_image_height(received) != dig->height || data == nullptr || size < frameBytes) {
            SetError("%s: frame %d of %d is %dx%d, not the %dx%d the camera was opened with", function, frame,
                     static_cast<int>(count), arv_buffer_get_image_width(received),
                     arv_buffer_get_image_height(received), dig->width, dig->height);
            return false;
        }
        GenicamBuffer &buf = *bufs[static_cast<size_t>(i)];
        std::lock_guard<std::mutex> bufLock(buf.mutex);
        CopyFrame(static_cast<const uint8_t *>(data), dig->layout, dig->width, dig->height, buf.bits,
                  buf.planes.data());
    }
    return true;
}

void GenicamLibrary::DigFree(MilId digitizer) {
    std::shared_ptr<GenicamDigitizer> dig;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = digitizers_.find(digitizer);
        if (it == digitizers_.end()) {
            SetError("MdigFree: %d is not a digitizer", static_cast<int>(digitizer));
            return;
        }
        dig = std::move(it->second);
        digitizers_.erase(it);
    }
    dig->freed = true;
    {
        // A grab still running ends within one wait slice.
        std::lock_guard<std::mutex> grabLock(dig->grabMutex);
    }
    std::vector<std::shared_ptr<GenicamDigitizer>> closing{std::move(dig)};
    Close(closing);
}

void GenicamLibrary::Close(std::vector<std::shared_ptr<GenicamDigitizer>> &digitizers) {
    for (std::shared_ptr<GenicamDigitizer> &dig : digitizers) {
        dig->freed = true;
        if (dig->Unresponsive()) closer_.Add(std::move(dig));
    }
    // The others close here, as the last holder lets go.
    digitizers.clear();
}

void BackgroundCloser::Add(std::shared_ptr<GenicamDigitizer> digitizer) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(digitizer));
    if (!started_) {
        started_ = true;
        std::thread([this] { Run(); }).detach();
    }
    wake_.notify_one();
}

void BackgroundCloser::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !pending_.empty(); });
        std::shared_ptr<GenicamDigitizer> dig = std::move(pending_.back());
        pending_.pop_back();
        lock.unlock();
        dig.reset(); // the Aravis objects go here, unanswered commands and all
        lock.lock();
    }
}

// ---------------------------------------------------------------------------------------------
// Buffers

MilId GenicamLibrary::BufAlloc(MilId system, MilInt bands, MilInt width, MilInt height, MilInt type,
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
    auto buf = std::make_shared<GenicamBuffer>();
    buf->system = system;
    buf->width = static_cast<int>(width);
    buf->height = static_cast<int>(height);
    buf->bands = static_cast<int>(bands);
    buf->bits = static_cast<int>(type);
    try {
        buf->planes.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bands) *
                               static_cast<size_t>(type / 8),
                           0);
    } catch (const std::bad_alloc &) {
        SetError("%s: out of memory for %dx%d", function, static_cast<int>(width), static_cast<int>(height));
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (systems_.find(system) == systems_.end()) {
        SetError("%s: %d is not a system", function, static_cast<int>(system));
        return 0;
    }
    const MilId id = nextId_++;
    buffers_[id] = std::move(buf);
    return id;
}

std::shared_ptr<GenicamBuffer> GenicamLibrary::FindBuffer(MilId id, const char *function) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = buffers_.find(id);
    if (it != buffers_.end()) return it->second;
    SetError("%s: %d is not a buffer", function, static_cast<int>(id));
    return nullptr;
}

void GenicamLibrary::BufGet2d(MilId buffer, MilInt x, MilInt y, MilInt width, MilInt height, void *dst) {
    const std::shared_ptr<GenicamBuffer> buf = FindBuffer(buffer, "MbufGet2d");
    if (!buf) return;
    std::lock_guard<std::mutex> lock(buf->mutex);
    if (buf->bands != 1) {
        SetError("MbufGet2d: buffer %d has %d bands", static_cast<int>(buffer), buf->bands);
        return;
    }
    if (!CheckSpan(*buf, x, y, width, height, dst, "MbufGet2d")) return;
    const size_t sample = static_cast<size_t>(buf->bits / 8);
    const size_t rowBytes = static_cast<size_t>(width) * sample;
    for (MilInt row = 0; row < height; ++row) {
        const size_t offset = (static_cast<size_t>(y + row) * static_cast<size_t>(buf->width) + x) * sample;
        std::memcpy(static_cast<uint8_t *>(dst) + static_cast<size_t>(row) * rowBytes, buf->planes.data() + offset,
                    rowBytes);
    }
}

void GenicamLibrary::BufGetColor2d(MilId buffer, MilInt format, MilInt band, MilInt x, MilInt y, MilInt width,
                                   MilInt height, void *dst) {
    const std::shared_ptr<GenicamBuffer> buf = FindBuffer(buffer, "MbufGetColor2d");
    if (!buf) return;
    std::lock_guard<std::mutex> lock(buf->mutex);
    if (format != mil::kPackedBgr24 || band != mil::kAllBands) {
        SetError("MbufGetColor2d: only packed BGR24 of all bands is supported");
        return;
    }
    if (buf->bands != 3 || buf->bits != 8) {
        SetError("MbufGetColor2d: BGR24 needs a 3-band 8-bit buffer");
        return;
    }
    if (!CheckSpan(*buf, x, y, width, height, dst, "MbufGetColor2d")) return;
    const size_t plane = static_cast<size_t>(buf->width) * static_cast<size_t>(buf->height);
    const uint8_t *red = buf->planes.data();
    uint8_t *out = static_cast<uint8_t *>(dst);
    for (MilInt row = 0; row < height; ++row) {
        const size_t offset = static_cast<size_t>(y + row) * static_cast<size_t>(buf->width) + x;
        for (MilInt i = 0; i < width; ++i, out += 3) {
            out[0] = red[2 * plane + offset + i];
            out[1] = red[plane + offset + i];
            out[2] = red[offset + i];
        }
    }
}

void GenicamLibrary::BufFree(MilId buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = buffers_.find(buffer);
    if (it == buffers_.end()) {
        SetError("MbufFree: %d is not a buffer", static_cast<int>(buffer));
        return;
    }
    // A grab writing into it holds its own reference: the memory goes when that grab is done.
    buffers_.erase(it);
}

// ---------------------------------------------------------------------------------------------
// Features

namespace {

// The feature node of an opened camera; sets the error for an unknown one.
ArvGcNode *FeatureNode(GenicamDigitizer &dig, const char *feature, const char *function) {
    if (feature == nullptr || feature[0] == '\0') {
        SetError("%s: no feature named", function);
        return nullptr;
    }
    ArvGcNode *node = arv_device_get_feature(arv_camera_get_device(dig.camera), feature);
    if (node == nullptr || !ARV_IS_GC_FEATURE_NODE(node)) {
        SetError("%s: camera %s has no feature %s", function, dig.deviceId.c_str(), feature);
        return nullptr;
    }
    return node;
}

bool Failed(GError *error, GenicamDigitizer &dig, const char *feature, const char *function) {
    if (error == nullptr) return false;
    SetError("%s: camera %s, feature %s: %s", function, dig.deviceId.c_str(), feature, Take(error).c_str());
    return true;
}

} // namespace

bool GenicamLibrary::FeatureGet(MilId digitizer, const char *feature, MilInt64 *value) {
    const std::shared_ptr<GenicamDigitizer> dig = FindDigitizer(digitizer, "FeatureGet");
    if (!dig) return false;
    std::lock_guard<std::mutex> lock(dig->featureMutex);
    ArvGcNode *node = FeatureNode(*dig, feature, "FeatureGet");
    if (node == nullptr) return false;
    GError *error = nullptr;
    MilInt64 v = 0;
    if (ARV_IS_GC_ENUMERATION(node))
        v = arv_gc_enumeration_get_int_value(ARV_GC_ENUMERATION(node), &error);
    else if (ARV_IS_GC_INTEGER(node))
        v = arv_gc_integer_get_value(ARV_GC_INTEGER(node), &error);
    else if (ARV_IS_GC_FLOAT(node))
        v = std::llround(arv_gc_float_get_value(ARV_GC_FLOAT(node), &error));
    else if (ARV_IS_GC_BOOLEAN(node))
        v = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), &error) ? 1 : 0;
    else {
        SetError("FeatureGet: feature %s of camera %s has no integer value", feature, dig->deviceId.c_str());
        return false;
    }
    if (Failed(error, *dig, feature, "FeatureGet")) return false;
    if (value == nullptr) {
        SetError("FeatureGet: no place for the value");
        return false;
    }
    *value = v;
    return true;
}

bool GenicamLibrary::FeatureSet(MilId digitizer, const char *feature, MilInt64 value) {
    const std::shared_ptr<GenicamDigitizer> dig = FindDigitizer(digitizer, "FeatureSet");
    if (!dig) return false;
    std::lock_guard<std::mutex> lock(dig->featureMutex);
    ArvGcNode *node = FeatureNode(*dig, feature, "FeatureSet");
    if (node == nullptr) return false;
    GError *error = nullptr;
    if (ARV_IS_GC_ENUMERATION(node)) {
        arv_gc_enumeration_set_int_value(ARV_GC_ENUMERATION(node), value, &error);
    } else if (ARV_IS_GC_INTEGER(node)) {
        arv_gc_integer_set_value(ARV_GC_INTEGER(node), value, &error);
    } else if (ARV_IS_GC_FLOAT(node)) {
        arv_gc_float_set_value(ARV_GC_FLOAT(node), static_cast<double>(value), &error);
    } else if (ARV_IS_GC_BOOLEAN(node)) {
        if (value != 0 && value != 1) {
            SetError("FeatureSet: feature %s is a boolean, %lld is neither 0 nor 1", feature,
                     static_cast<long long>(value));
            return false;
        }
        arv_gc_boolean_set_value(ARV_GC_BOOLEAN(node), value != 0, &error);
    } else {
        SetError("FeatureSet: feature %s of camera %s takes no integer value", feature, dig->deviceId.c_str());
        return false;
    }
    return !Failed(error, *dig, feature, "FeatureSet");
}

bool GenicamLibrary::FeatureRange(MilId digitizer, const char *feature, MilInt64 *min, MilInt64 *max) {
    const std::shared_ptr<GenicamDigitizer> dig = FindDigitizer(digitizer, "FeatureRange");
    if (!dig) return false;
    std::lock_guard<std::mutex> lock(dig->featureMutex);
    ArvGcNode *node = FeatureNode(*dig, feature, "FeatureRange");
    if (node == nullptr) return false;
    GError *error = nullptr;
    MilInt64 low = 0, high = 0;
    if (ARV_IS_GC_ENUMERATION(node)) {
        guint n = 0;
        gint64 *values = arv_gc_enumeration_dup_available_int_values(ARV_GC_ENUMERATION(node), &n, &error);
        if (values != nullptr && n > 0) {
            low = *std::min_element(values, values + n);
            high = *std::max_element(values, values + n);
        }
        g_free(values);
        if (error == nullptr && n == 0) {
            SetError("FeatureRange: feature %s has no available entry", feature);
            return false;
        }
    } else if (ARV_IS_GC_INTEGER(node)) {
        low = arv_gc_integer_get_min(ARV_GC_INTEGER(node), &error);
        if (error == nullptr) high = arv_gc_integer_get_max(ARV_GC_INTEGER(node), &error);
    } else if (ARV_IS_GC_FLOAT(node)) {
        // The integers the feature can take.
        const double fmin = arv_gc_float_get_min(ARV_GC_FLOAT(node), &error);
        const double fmax = error == nullptr ? arv_gc_float_get_max(ARV_GC_FLOAT(node), &error) : 0.0;
        const double limit = static_cast<double>(std::numeric_limits<int64_t>::max() / 2);
        low = static_cast<MilInt64>(std::ceil(std::max(fmin, -limit)));
        high = static_cast<MilInt64>(std::floor(std::min(fmax, limit)));
    } else if (ARV_IS_GC_BOOLEAN(node)) {
        high = 1;
    } else {
        SetError("FeatureRange: feature %s of camera %s has no integer range", feature, dig->deviceId.c_str());
        return false;
    }
    if (Failed(error, *dig, feature, "FeatureRange")) return false;
    if (min == nullptr || max == nullptr) {
        SetError("FeatureRange: no place for the range");
        return false;
    }
    *min = low;
    *max = high;
    return true;
}

} // namespace kestcam::genicam
