// mil_app.cpp - enumeration of installed systems, boards and cameras, and the look-ups by name and port.
#include "mil/mil_app.h"

#include <cstring>
#include <map>
#include <new>

#include "acquisition/grab_thread.h"
#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_backend.h"

namespace kestcam {

namespace {
constexpr int kDeviceNumbers = 4;
} // namespace

const char *const MilApp::kSupportedSystemTypes[kSupportedSystemTypeCount] = {
    "M_SYSTEM_CORONA_II",   "M_SYSTEM_METEOR_II",   "M_SYSTEM_METEOR_II_DIG", "M_SYSTEM_METEOR_II_CL",
    "M_SYSTEM_1394",        "M_SYSTEM_1394",        "M_SYSTEM_ODYSSEY",       "M_SYSTEM_HELIOS",
    "M_SYSTEM_IRIS",        "M_SYSTEM_MORPHIS",     "M_SYSTEM_SOLIOS",        "M_SYSTEM_VIO",
    "M_SYSTEM_NEXIS",       "M_SYSTEM_GIGE_VISION", "M_SYSTEM_MORPHISQXT",    "M_SYSTEM_SOLIOS_GIGE",
    "M_SYSTEM_MORPHIS_EVO", "M_SYSTEM_IRIS_GT",     "M_SYSTEM_RADIENT",
};

std::string GetMilErrorText() {
    char text[mil::kErrorTextSize + 1] = {};
    if (Mil().MappGetError(mil::kErrorMessage, text) == 0) return " ";
    text[mil::kErrorTextSize] = '\0';
    return std::string("MIL Error message:'") + text + "'";
}

// ---------------------------------------------------------------------------------------------
// MilSystem

MilSystem::MilSystem(MilApp *app) : app_(app) {}

MilSystem::~MilSystem() {
    // Cameras first: each stops its thread and frees its digitizer before the board goes.
    digitizers_.clear();
    if (systemId_ != 0) Mil().MsysFree(systemId_);
    systemId_ = 0;
}

bool MilSystem::Init(const char *descriptor, int index, int dev, bool &attempted) {
    attempted = false;
    Mil().MsysAlloc(descriptor, dev, 0, &systemId_);
    if (systemId_ == 0) return false;
    attempted = true;

    MilInt board = 0;
    const MilInt v = Mil().MsysInquire(systemId_, mil::kBoardNumber, &board);
    KC_LOG(2, "MilSystem::Init: board num:%d M_Default:%d M_Dev_0:%d M_Dev1:%d M_Dev2:%d\n", static_cast<int>(v),
           (v & mil::kDefault) == mil::kDefault ? 1 : 0, 1, (v & 1) ? 1 : 0, (v & 2) ? 1 : 0);

    // Generous room: the library writes the serial text into the caller's buffer.
    char serial[512] = {};
    Mil().MsysInquire(systemId_, mil::kSerialNumber, serial);
    serial[sizeof serial - 1] = '\0';
    KC_LOG(1, "Board serial #:%s\n", serial);

    MilInt count = 0;
    Mil().MsysInquire(systemId_, mil::kDigitizerNum, &count);
    KC_LOG(2, "MilSystem::Init: digitizer count:%d\n", static_cast<int>(count));

    for (MilInt k = 0; k < count; ++k) {
        std::unique_ptr<MilDigitizer> digitizer(new (std::nothrow) MilDigitizer(app_, this));
        if (!digitizer) {
            KC_LOG(1, "MilSystem::Init:  ERROR: could not allocate MilDigitizer object\n");
            return false;
        }
        digitizer->Setup(index, dev, static_cast<int>(k));
        digitizers_.push_back(std::move(digitizer));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// MilApp

MilApp::MilApp() {
    SelectMilBackend();
}

MilApp::~MilApp() {
    KC_LOG(2, "MilApp::~MilSolios\n");
    DestroySolios();
}

MilApp &MilApp::CreateInstance() {
    MilApp *app = new (std::nothrow) MilApp();
    if (app == nullptr) {
        KC_LOG(1, "MilApp::GetInstance: ERROR: no valid instance\n");
        throw LookupError();
    }
    instance_.store(app, std::memory_order_release);
    return *app;
}

void MilApp::DestroyInstance() {
    // Every camera's threads end while the whole registry still stands: a completion or log
    // callback that calls back into the driver looks cameras up among all of them.
    if (MilApp *app = instance_.load(std::memory_order_acquire))
        for (MilDigitizer *camera : app->GetAllDigitizers())
            camera->StopThreads();
    // A thread a close let go inside its callback may be calling into a camera.
    GrabThread::WaitForLetGoThreads();
    MilApp *app = instance_.exchange(nullptr, std::memory_order_acq_rel);
    delete app;
}

void MilApp::DestroySolios() {
    KC_LOG(2, "MilApp::DestroySolios\n");
    cameraNames_.reset();
    cameras_.clear();
    systems_.clear();
    if (appId_ != 0) Mil().MappFree(appId_);
    appId_ = 0;
}

bool MilApp::IsSupportedSystem(const char *descriptor) {
    if (descriptor == nullptr) return false;
    for (const char *type : kSupportedSystemTypes)
        if (std::strstr(descriptor, type) != nullptr) return true;
    return false;
}

bool MilApp::Init() {
    initialized_ = true;
    KC_LOG(2, "MilApp::Init: enter\n");
    Mil().MappAlloc(mil::kDefault, &appId_);
    if (appId_ == 0) {
        KC_LOG(1, "MilApp::Init: ERROR: MappAlloc failed, %s\n", GetMilErrorText().c_str());
        return false;
    }
    Mil().MappControl(mil::kErrorReporting, mil::kPrintDisable);

    MilInt n = 0;
    Mil().MappInquire(mil::kInstalledSystemCount, &n);
    KC_LOG(3, "MilApp::Init: %d system(s) found\n", static_cast<int>(n));

    std::map<std::string, int> supported; // byte-wise ascending order of the descriptor texts
    for (MilInt i = 0; i < n; ++i) {
        char descriptor[260] = {};
        Mil().MappInquire(mil::kInstalledSystemDescriptor + i, descriptor);
        descriptor[sizeof descriptor - 1] = '\0';
        if (IsSupportedSystem(descriptor)) {
            KC_LOG(3, "MilApp::Init: %s system found.\n", descriptor);
            supported[descriptor] = static_cast<int>(i);
        } else {
            KC_LOG(3, "MilApp::Init: %s system not supported, skiped\n", descriptor);
        }
    }

    for (const auto &[descriptor, index] : supported) {
        for (int dev = 0; dev < kDeviceNumbers; ++dev) {
            KC_LOG(3, "MilApp::Init: Init type %s board(s) dev=%d\n", descriptor.c_str(), dev);
            std::unique_ptr<MilSystem> system(new (std::nothrow) MilSystem(this));
            if (!system) {
                KC_LOG(1, "MilApp::Init: ERROR: could not allocate MilSystem object #%d", dev + 1);
                break;
            }
            bool attempted = false;
            if (system->Init(descriptor.c_str(), index, dev, attempted)) {
                systems_.push_back(std::move(system));
            } else {
                system.reset();
                if (attempted)
                    KC_LOG(1, "MilApp::Init: Device %d init failed\n", dev);
                else
                    KC_LOG(3, "MilApp::Init: Device %d allocation failed (not found)\n", dev);
            }
        }
    }

    if (systems_.empty()) {
        KC_LOG(1, "MilApp::Init: ERROR: no boards could be initialized");
        return false;
    }
    for (const auto &system : systems_)
        for (const auto &digitizer : system->Digitizers())
            cameras_.push_back(digitizer.get());
    return true;
}

std::vector<MilDigitizer *> MilApp::GetAllDigitizers() const {
    return cameras_;
}

int MilApp::GetCameraCount() const {
    int count = 0;
    for (const auto &system : systems_)
        count += static_cast<int>(system->Digitizers().size());
    return count;
}

char **MilApp::GetCameraNames() {
    const int count = GetCameraCount();
    std::unique_ptr<char *[]> names(new char *[count + 1]);
    int i = 0;
    for (const auto &system : systems_)
        for (const auto &digitizer : system->Digitizers())
            names[i++] = const_cast<char *>(digitizer->Name().c_str());
    names[count] = nullptr;
    cameraNames_ = std::move(names);
    return cameraNames_.get();
}

bool MilApp::IsCameraAvailable(const char *name) const {
    KC_LOG(3, "MilSolios::IsCameraAvailable:  name=%s\n", name != nullptr ? name : "(null)");
    if (name == nullptr) return false;
    for (const auto &system : systems_)
        for (const auto &digitizer : system->Digitizers())
            if (digitizer->Name() == name) return true;
    return false;
}

MilDigitizer &MilApp::GetByName(const char *name) const {
    KC_LOG(3, "MilApp::GetByName: enter %s\n", name != nullptr ? name : "(null)");
    if (name != nullptr)
        for (const auto &system : systems_)
            for (const auto &digitizer : system->Digitizers())
                if (digitizer->Name() == name) return *digitizer;
    KC_LOG(1, "MilApp::GetByName: ERROR: could not find camera %s\n", name != nullptr ? name : "(null)");
    throw LookupError();
}

MilDigitizer &MilApp::GetByPort(int port) const {
    KC_LOG(4, "MilApp::GetByPort:  %d\n", port);
    // The host calls this once per row.
    for (MilDigitizer *camera : cameras_)
        if (camera->Port() == port) return *camera;
    NoCameraOnPort(port);
}

void MilApp::NoCameraOnPort(int port) const {
    KC_LOG(1, "MilApp::GetByPort: ERROR: could not find camera on port %d\n", port);
    throw LookupError();
}

bool MilApp::IsPortInUse(int port) const {
    for (const auto &system : systems_)
        for (const auto &digitizer : system->Digitizers())
            if (digitizer->Port() == port) return true;
    return false;
}

} // namespace kestcam
