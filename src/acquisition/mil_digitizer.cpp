// mil_digitizer.cpp - a camera's life: open (settings, digitizer, format check, thread, buffers,
// controls, lookup table), grab requests, row read-out, close and destruction.
#include "acquisition/mil_digitizer.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

#include "acquisition/grab_thread.h"
#include "acquisition/lut_table.h"
#include "driver/logger.h"
#include "mil/mil_app.h"
#include "os/message_box.h"
#include "os/read_domain.h"

namespace kestcam {

namespace {

constexpr const char *kDefaultDcf = "M_DEFAULT";

bool EqualsIgnoreCase(const std::string &a, const char *b) {
    const std::string other(b);
    return a.size() == other.size() && std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Format(const char *format, ...) KC_PRINTF(1, 2);
std::string Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

bool IsMonochrome(int colorMode) {
    return colorMode == 0 || colorMode == 1024;
}

} // namespace

MilDigitizer::MilDigitizer(MilApp *app, MilSystem *system)
    : app_(app), system_(system), buffers_(system), lut_(std::make_unique<LutTable>()) {
    plans_[0] = RowPlan::Make(settings_, buffers_, true);
    rowPlan_.store(&plans_[0], std::memory_order_release);
}

void MilDigitizer::PublishRowPlan(bool stable) noexcept {
    const RowPlan *current = rowPlan_.load(std::memory_order_relaxed);
    RowPlan *spare = current == &plans_[0] ? &plans_[1] : &plans_[0];
    // No reader can see the spare: the publication that retired it waited for them.
    *spare = RowPlan::Make(settings_, buffers_, stable);
    if (spare->SameAs(*current)) return;
    rowPlan_.store(spare, std::memory_order_seq_cst);
    RowReaders().Synchronize();
}

MilDigitizer::~MilDigitizer() {
    StopThreads();
    opened_ = false;
    ReleaseDigitizer();
    // The members follow in reverse order of declaration: settings, table and name, and last the
    // ring, whose destruction frees every buffer.
}

void MilDigitizer::StopThreads() {
    std::unique_ptr<GrabThread> thread;
    {
        DriverLock<std::mutex> lock(lifecycleMutex_);
        lifecycleIdle_.wait(lock.Inner(), [this] { return unlocked_ == UnlockedStep::kNone; });
        thread = std::move(grabThread_);
        // As in Close: other lifecycle steps wait until the threads are gone.
        unlocked_ = UnlockedStep::kStopping;
        unlockedThread_ = std::this_thread::get_id();
    }
    // The sharing thread reads rows, which needs the ring, the settings and the row lock.
    share_.StopProcessingThread();
    // The thread ends before the digitizer goes: a grab may still be running on it, and a callback
    // still running could be inside a call on this camera, which is about to be freed.
    if (thread) thread->KeepWaitingForCallback();
    thread.reset();
    {
        DriverLock<std::mutex> lock(lifecycleMutex_);
        unlocked_ = UnlockedStep::kNone;
    }
    lifecycleIdle_.notify_all();
}

bool MilDigitizer::Setup(int index, int dev, int k) {
    char text[64];
    if (index == 0 && dev == 0)
        std::snprintf(text, sizeof text, "Camera %d", k + 1);
    else
        std::snprintf(text, sizeof text, "Camera %d-%d-%d", index + 1, dev + 1, k + 1);
    name_ = text;
    number_ = k;
    return true;
}

bool MilDigitizer::OnOwnAcquisitionThread() const {
    return GrabThread::CurrentCamera() == this;
}

bool MilDigitizer::WaitUntilIdle(DriverLock<std::mutex> &lock) {
    if (unlocked_ != UnlockedStep::kNone && unlockedThread_ == std::this_thread::get_id()) return false;
    lifecycleIdle_.wait(lock.Inner(), [this] { return unlocked_ == UnlockedStep::kNone; });
    return true;
}

void MilDigitizer::WaitForExchange(DriverLock<std::mutex> &lock) {
    lifecycleIdle_.wait(lock.Inner(), [this] {
        return unlocked_ != UnlockedStep::kExchange || unlockedThread_ == std::this_thread::get_id();
    });
}

void MilDigitizer::ReleaseDigitizer() {
    const MilId id = idDigitizer_.exchange(0);
    if (id != 0) Mil().MdigFree(id);
}

bool MilDigitizer::AllocateDigitizer() {
    std::string dcf = kDefaultDcf;
    if (settings_.UseDefaultDCF.value == 0 && settings_.DCF_FILE.value != kDefaultDcf)
        dcf = Logger::Instance().MakeAbsolutePath(settings_.DCF_FILE.value);

    const MilId systemId = system_ != nullptr ? system_->SystemId() : 0;
    MilId id = 0;
    Mil().MdigAlloc(systemId, number_, dcf.c_str(), mil::kDefault, &id);
    if (id == 0) {
        KC_LOG(1, "MilDigitizer::Init: WARNING: MdigAlloc failed with DCF file: %s, %s\n", dcf.c_str(),
               GetMilErrorText().c_str());
        if (EqualsIgnoreCase(dcf, kDefaultDcf)) {
            KC_LOG(1, "Check matrox MIL settings\n");
            return false;
        }
        Mil().MdigAlloc(systemId, number_, kDefaultDcf, mil::kDefault, &id);
        if (id == 0) {
            KC_LOG(1, "MilDigitizer::Init: ERROR failed with M_DEFAULT, %s.\nCheck matrox MIL settings\n",
                   GetMilErrorText().c_str());
            os::ShowMessageBox(os::MessageBoxIcon::Error,
                               Format("Digitizer #%d: Cannot open neither supplied DCF '%s' nor the default "
                                      "DCF\n.Please check the settings.",
                                      number_, dcf.c_str()));
            return false;
        }
        os::ShowMessageBox(os::MessageBoxIcon::Warning,
                           Format("Digitizer #%d: the supplied DCF file '%s' failed to open.\nThe camera is "
                                  "opened with default DCF instead.",
                                  number_, dcf.c_str()));
    }
    idDigitizer_ = id;
    return true;
}

bool MilDigitizer::InquireFormat(int &sizeBand) {
    const MilId id = DigitizerId();
    {
        RowChange change(*this);
        settings_.Width.max = Mil().MdigInquire(id, mil::kSizeX, nullptr);
        settings_.Height.max = Mil().MdigInquire(id, mil::kSizeY, nullptr);
    }
    const int colorMode = Mil().MdigInquire(id, mil::kColorMode, nullptr);
    sizeBand = Mil().MdigInquire(id, mil::kSizeBand, nullptr);
    const int sizeBit = Mil().MdigInquire(id, mil::kSizeBit, nullptr);
    KC_LOG(2, "MilDigitizer::Init: From digitizer: ColorMode=%d SizeBand=%d SizeBit=%d", colorMode, sizeBand,
           sizeBit);

    const bool accepted =
        (sizeBand == 1 && IsMonochrome(colorMode)) || (sizeBand == 3 && !IsMonochrome(colorMode));
    if (!accepted) {
        KC_LOG(1, "MilDigitizer::Open: ERROR: unrecognized sizeband(%d)/colormode(%d)/bitsize(%d) combination",
               sizeBand, colorMode, sizeBit);
        return false;
    }
    return true;
}

bool MilDigitizer::Open(int port, int out[2]) {
    if (OnOwnAcquisitionThread()) {
        KC_LOG(1, "MilDigitizer::Open: ERROR: called from the camera's own completion callback, port=%d\n", port);
        return false;
    }
    DriverLock<std::mutex> lock(lifecycleMutex_);
    if (!WaitUntilIdle(lock)) {
        KC_LOG(1,
               "MilDigitizer::Open: ERROR: called while the camera is being closed or talks to its serial camera "
               "on this thread, port=%d\n",
               port);
        return false;
    }
    if (opened_) return false;
    KC_LOG(2, "MilDigitizer::Open: port=%d, id=%d\n", port, static_cast<int>(DigitizerId()));

    {
        RowChange change(*this);
        settings_.Load(name_.c_str());
    }
    Logger &logger = Logger::Instance();
    logger.SetLogLevel(settings_.LogLevel.value);
    logger.SetLogIntoFile(settings_.LogIntoFile.value != 0);

    // A digitizer left by an earlier Open that failed once the port was bound is allocated anew,
    // with the DCF the settings name now; allocating a second one beside it would leak the first.
    ReleaseDigitizer();
    if (!AllocateDigitizer()) return false;

    // Until the port is bound no closeCVLPort can reach this camera, so a failure before that point
    // gives back what this Open allocated.
    int sizeBand = 0;
    if (!InquireFormat(sizeBand)) {
        ReleaseDigitizer();
        return false;
    }
    int width = 0;
    int height = 0;
    int frames = 0;
    {
        DriverLock<std::mutex> rows(rowsMutex_);
        width = settings_.Width.max;
        height = settings_.Height.max;
        frames = settings_.HeightMultiplier.value;
    }
    if (DigitizerId() == 0 || width <= 0 || height <= 0) {
        KC_LOG(1, "MilDigitizer::Open: ERROR: incorrect state: idDigitizer==%d width=%d height=%d, port=%d\n",
               static_cast<int>(DigitizerId()), width, height, port);
        ReleaseDigitizer();
        return false;
    }

    if (grabThread_) {
        KC_LOG(1, "MilDigitizer::Init: WARNING: grab thread already initialized for camera=%s\n", name_.c_str());
    } else {
        grabThread_.reset(new (std::nothrow) GrabThread(this));
        if (!grabThread_ || !grabThread_->Init()) {
            KC_LOG(1, "MilDigitizer::Init: ERROR: grab thread could not be initialized for camera=%s\n",
                   name_.c_str());
            // A thread object without a thread would accept requests nobody grabs.
            grabThread_.reset();
            ReleaseDigitizer();
            return false;
        }
    }

    // Direct serial control: the camera's limits are read now. A camera that does not answer is
    // opened without it.
    if (settings_.BaslerPortAccessEnabled.value > 0) {
        bool initialized = false;
        ExchangeWithCamera(lock, [&](BaslerCamera &link) { initialized = link.Init(); });
        if (!initialized)
            KC_LOG(1,
                   "MilDigitizer::Open: WARNING: direct connection to basler camera could not be opened, port=%d\n",
                   port);
    }

    {
        RowChange change(*this);
        settings_.Width.value = width;
        settings_.Height.value = height;
        if (out != nullptr) {
            out[0] = width;
            const long long rowsPerGrab = static_cast<long long>(height) * frames;
            out[1] = static_cast<int>(std::clamp<long long>(rowsPerGrab, INT_MIN, INT_MAX));
        }
        // From here on the port is bound, also when a later step fails: closeCVLPort releases it.
        port_ = port;
        // Readers wait for the new ring under the row lock rather than read buffers being freed.
        PublishRowPlan(false);
        buffers_.Init(&settings_, width, height, sizeBand, settings_.UseLUT.value != 0 ? lut_->data() : nullptr);
    }
    if (!buffers_.IsInitialized()) {
        KC_LOG(1, "MilDigitizer::Init: ERROR: Could not initialize grab buffers, port=%d\n", port);
        return false;
    }
    opened_ = true;

    // Checked after each control: the library reports only the error of its latest call.
    const MilId id = DigitizerId();
    Mil().MdigControl(id, mil::kControl4016, 1.0);
    bool controlsOk = Mil().MappGetError(mil::kErrorCurrent, nullptr) == 0;
    if (controlsOk) {
        Mil().MdigControl(id, mil::kGrabTimeout, static_cast<double>(settings_.GrabTimeout.value));
        controlsOk = Mil().MappGetError(mil::kErrorCurrent, nullptr) == 0;
    }
    if (!controlsOk) {
        KC_LOG(1, "GrabThread::Open: ERROR: MdigControl failed, %s\n", GetMilErrorText().c_str());
        return false;
    }

    if (settings_.BaslerPortAccessEnabled.value != 0) {
        ExchangeWithCamera(lock, [&](BaslerCamera &link) {
            if (settings_.UseExposureMode.value != 0) link.ApplyExposureMode();
            link.ApplyParameters();
        });
    }

    ApplyLut();

    int shareCamera = 0;
    std::string shareName;
    WithSettings([&](CameraSettings &s) {
        shareCamera = s.ShareCamera.value;
        shareName = s.ShareName.value;
    });
    if (shareCamera != 0) share_.Start(shareName.c_str());

    return true;
}

void MilDigitizer::ApplyLut() {
    Mil().MdigLut(DigitizerId(), mil::kDefault);
    if (settings_.UseLUT.value == 0) return;

    // Read outside the row lock: row reads of the previous image go on meanwhile. Into a new table,
    // since readers take no lock; the old one goes once none of them can see it any more.
    static_assert(kLutEntries == kLutTableSize, "the camera's table is the table the loader fills");
    auto table = std::make_unique<LutTable>();
    // A table that cannot be loaded is left all zeros.
    const bool loaded = LoadLutTable(settings_.LUT_FILE.value, settings_.lutcolumn.value, table->data());

    std::unique_ptr<LutTable> previous;
    RowChange change(*this);
    previous = std::move(lut_);
    lut_ = std::move(table);
    buffers_.MoveLut(previous->data(), lut_->data());
    if (loaded) return;
    settings_.UseLUT.value = 0;
    buffers_.DetachLut();
    KC_LOG(1, "MilDigitizer::ApplyLut: WARNING: Unrecognized/incorrect csv file. Disabling LUT\n");
}

bool MilDigitizer::Close() {
    DriverLock<std::mutex> lock(lifecycleMutex_);
    // From the camera's own completion callback the close goes the usual way: the thread is let go
    // (it ends when the callback returns, touching nothing of the camera). Unless another thread is
    // closing the camera already and waits for this callback to return.
    if (OnOwnAcquisitionThread() && unlocked_ == UnlockedStep::kStopping) {
        KC_LOG(1,
               "MilDigitizer::Close: WARNING: called from the camera's own completion callback while the camera "
               "is being closed, port=%d\n",
               Port());
        return true;
    }
    if (!WaitUntilIdle(lock)) {
        KC_LOG(1,
               "MilDigitizer::Close: ERROR: called while the camera is being closed or talks to its serial camera "
               "on this thread, port=%d\n",
               Port());
        return true;
    }

    // A camera that is neither open nor bound has nothing new to store: its section was written
    // when it was last closed, and writing defaults of a never-opened camera would wipe what the
    // user configured.
    if (opened_ || Port() != -1) {
        if (settings_.BaslerPortAccessEnabled.value != 0) ReadBackCameraValues(lock);
        DriverLock<std::mutex> rows(rowsMutex_);
        settings_.Save(name_.c_str());
    } else {
        KC_LOG(2, "MilDigitizer::Close: camera %s is not bound to a port, its settings stay as stored\n",
               name_.c_str());
    }

    opened_ = false;
    std::unique_ptr<GrabThread> thread = std::move(grabThread_);
    // The threads stop without the mutex: the completion callback may still be running and request
    // a grab, which is then refused instead of waiting for this Close, and a log callback of either
    // thread may call back into this camera. `unlocked_` keeps the other lifecycle steps out.
    unlocked_ = UnlockedStep::kStopping;
    unlockedThread_ = std::this_thread::get_id();
    lock.unlock();
    share_.Stop();
    thread.reset();
    lock.lock();
    unlocked_ = UnlockedStep::kNone;
    // A request the thread did not reach before it stopped must not block every later grab.
    grabInProgress_ = false;
    ReleaseDigitizer();
    port_ = -1;
    lock.unlock();
    lifecycleIdle_.notify_all();
    KC_LOG(2, "MilDigitizer::Close\n");
    return true;
}

// The camera's own values replace the stored ones before they are saved.
void MilDigitizer::ReadBackCameraValues(DriverLock<std::mutex> &lock) {
    ExchangeWithCamera(lock, [](BaslerCamera &link) {
        CameraSettings &s = link.Settings();
        int mode = 0;
        if (link.ReadExposureMode(mode)) s.ExposureMode.SetByCode(mode);
        link.ReadExposureTime(s.ExposureTime);
        link.ReadGain(s.Gain);
        link.ReadGainLRBalance(s.GainBalance);
        link.ReadLinePeriod(s.LinePeriod);
        link.ReadDigitalOffset(s.DigitalOffset);
        link.ReadDigitalOffsetLRBalance(s.DigitalOffsetBalance);
    });
}

void MilDigitizer::ApplyCameraParameters() {
    if (heldLock_ != nullptr) {
        ExchangeWithCamera(*heldLock_, [](BaslerCamera &link) { link.ApplyParameters(); });
        return;
    }
    WithLifecycleLock([this] { ApplyCameraParameters(); });
}

bool MilDigitizer::Grab() {
    // The request reaches the thread after the lock is released, and after the line that announces
    // it: the thread's own lines about the grab then follow it.
    std::shared_ptr<os::AutoResetEvent> wake;
    int port = -1;
    {
        DriverLock<std::mutex> lock(lifecycleMutex_);
        port = Port();
        if (!opened_) {
            KC_LOG(1, "MilDigitizer::Grab: ERROR: camera not opened, on port=%d\n", port);
            return false;
        }
        if (!grabThread_) {
            KC_LOG(1, "MilDigitizer::Grab: ERROR: grab thread not initialized on port=%d\n", port);
            return false;
        }
        if (!buffers_.IsInitialized()) {
            KC_LOG(1, "MilDigitizer::Grab: ERROR: buffer not initialized on port=%d\n", port);
            return false;
        }
        bool idle = false;
        if (!grabInProgress_.compare_exchange_strong(idle, true)) {
            KC_LOG(1, "MilDigitizer::Grab: WARNING: grab ignored, since another grab is in progress on port=%d\n",
                   port);
            return false;
        }
        // Kept alive by the request: a Close meanwhile ends the thread, and the signal then wakes nobody.
        wake = grabThread_->WakeEvent();
    }
    KC_LOG(3, "MilDigitizer::Grab: port=%d\n", port);
    if (wake) wake->Set();
    return true;
}

void MilDigitizer::LogLastRow() const {
    KC_LOG(3, "MilDigitizer::GetRow: the last row being fetched, port==%d\n", Port());
}

bool MilDigitizer::GetRowChecked(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix) {
    if (dst == nullptr) {
        KC_LOG(1, "MilDigitizer::GetRow: ERROR: target buffer not supplied\n");
        return false;
    }
    bool result = false;
    bool checked = false;
    long long rowCount = 0;
    bool read = false;
    {
        // A writer of this camera waits for the readers: a callback called from inside the read could
        // not change the camera.
        Logger::DeferScope holdLines;
        // The common case: the published plan, no lock. Staging for 16-bit rows is this thread's own.
        os::ReadDomain::Reader reader(RowReaders());
        const RowPlan *plan = os::ReadDomain::Load(rowPlan_);
        if (plan->stable) {
            const size_t stagingBytes = plan->StagingBytes();
            void *staging = stagingBytes != 0 ? reader.Scratch(stagingBytes) : nullptr;
            if (stagingBytes == 0 || staging != nullptr) {
                result = plan->Read(dst, row, firstPix, lastPix, static_cast<uint16_t *>(staging), checked);
                rowCount = plan->RowCount();
                read = true;
            }
        }
    }
    if (!read) {
        // The ring is being re-allocated, or this thread could have no staging: the row is read once
        // the change is done, under the row lock, with the camera's own staging row.
        DriverLock<std::mutex> rows(rowsMutex_);
        const RowPlan *plan = rowPlan_.load(std::memory_order_relaxed);
        result = plan->Read(dst, row, firstPix, lastPix, buffers_.RowBuffer(), checked);
        rowCount = plan->RowCount();
    }
    // Once the row and the columns were accepted, whatever the copy gave.
    if (checked && row == rowCount - 1) LogLastRow();
    return result;
}

void MilDigitizer::SetCompleteCB(CompleteCallback callback) {
    const CompleteCallback previous = completeCallback_.exchange(callback);
    std::string message = "MilCamera::SetCompleteCB: ";
    if (previous != nullptr) {
        message += "CB was already assigned. ";
        if (callback != nullptr && callback == previous) message += "The new CB is the same function. ";
    }
    if (callback == nullptr) message += "Resetting CB to null. ";
    message += "\n";
    KC_LOG(2, "%s", message.c_str());
}

void MilDigitizer::SetContinuousGrab(bool on) {
    KC_LOG(2, "MilDigitizer::SetContinuousGrab: entering, mode=%s\n", on ? "on" : "off");
    if (continuous_.exchange(on) == on) {
        KC_LOG(3, "MilDigitizer::SetContinuousGrab has no effect -- the same mode is already active\n");
        return;
    }
    KC_LOG(2, "MilDigitizer::SetContinuousGrab: leaving\n");
}

void MilDigitizer::NotifyFrameReady() {
    // Only a pulse: the server reads the rows itself through GetRow. It announces frames when the
    // camera was opened with ShareCamera > 0.
    share_.NotifyFrame();
}

} // namespace kestcam
