// mil_digitizer.h - one camera: one digitizer of one board, bound to a host port while open. It
// owns its settings, its grab-buffer ring, its lookup table and, while open, its acquisition thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition/mil_grab_buffers.h"
#include "acquisition/row_plan.h"
#include "driver/logger.h"
#include "kestcam/kestcam.h"
#include "mil/mil_api.h"
#include "os/read_domain.h"
#include "serial/basler_camera.h"
#include "settings/camera_settings.h"
#include "share/camera_share.h"

namespace kestcam {

class GrabThread;
class MilApp;
class MilSystem;

class MilDigitizer {
public:
    static constexpr size_t kLutEntries = 131072;

    MilDigitizer(MilApp *app, MilSystem *system);
    // Stops the acquisition thread before the digitizer is freed, and frees the buffers last.
    // The settings are not stored.
    ~MilDigitizer();
    MilDigitizer(const MilDigitizer &) = delete;
    MilDigitizer &operator=(const MilDigitizer &) = delete;

    // Stops the acquisition and sharing threads and waits for them to end; a grab request is refused
    // afterwards. Finalize stops every camera's threads before it frees any camera: their callbacks
    // may call back into the driver, whose look-ups walk every camera.
    void StopThreads();

    // Names the camera "Camera k+1" on device 0 of installed system 0, else "Camera s+1-d+1-k+1".
    bool Setup(int index, int dev, int k);

    // Binds the camera to port and makes it ready to grab. On success out[0] is the image width and
    // out[1] the rows per grab (Height x HeightMultiplier).
    bool Open(int port, int out[2]);
    // Stores the settings, stops the thread, frees the digitizer and unbinds the port; the buffer
    // ring stays for the next Open. Always true.
    bool Close();

    // Hands one grab request to the acquisition thread; true when accepted.
    bool Grab();
    // Columns firstPix..lastPix (both included) of one row of the last grab into dst, 8 bits per
    // sample (three, blue-green-red, per pixel for a colour camera). Takes no lock unless the ring is
    // being re-allocated at that moment. What it logs inside the read waits for the read to end: a
    // host callback that changed this camera from inside the read would wait for the read to end.
    // Inline for the common case (see RowPlan::ReadPlain): the host calls it once per row.
    bool GetRow(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix) {
        long long rowCount = 0;
        if (ReadPlainRow(dst, row, firstPix, lastPix, rowCount)) {
            if (row == rowCount - 1) LogLastRow();
            return true;
        }
        return GetRowChecked(dst, row, firstPix, lastPix);
    }
    // GetRow's common case alone (RowPlan::ReadPlain), with rowCount the rows of the plan it read
    // from: false, with nothing done, for any other case. It logs nothing, so it needs no deferral
    // of messages; it may throw where GetRow may.
    bool ReadPlainRow(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix, long long &rowCount) {
        if (dst == nullptr) return false;
        os::ReadDomain::Reader reader(RowReaders());
        const RowPlan *plan = os::ReadDomain::Load(rowPlan_);
        rowCount = plan->RowCount();
        return plan->stable && plan->ReadPlain(dst, row, firstPix, lastPix);
    }
    // GetRow without its inline common case first, for a caller that has just tried ReadPlainRow:
    // every case, each refusal logged.
    bool GetRowChecked(unsigned char *dst, int row, unsigned firstPix, unsigned lastPix);
    void SetCompleteCB(CompleteCallback callback);
    // Takes effect at the next request; a running sequence is finished first.
    void SetContinuousGrab(bool on);
    // The camera's modal property sheet, owned by parent (a window handle, or null); true when the
    // user confirmed with OK and the settings were saved.
    bool ShowProperties(void *parent);

    // Host properties by name, compared without regard to case: continuous mode, the MIL control and
    // inquiry pass-through (StoreValue first), the serial camera's parameters while
    // BaslerPortAccessEnabled is set, settings by key, and "GenICam:<Feature>" for a feature of the
    // open camera when the imaging library gives feature access. False for a null or unknown name.
    // They run one at a time with Open and Close.
    bool SetProperty(const char *name, int value);
    // out is written only on success.
    bool GetProperty(const char *name, int *out);
    // Bounds of a ranged setting (CameraSettings::GetRange); outputs untouched when false.
    bool GetPropertyRange(const char *name, int &min, int &max);
    // Bands of the grab buffers: 1 monochrome, 3 colour, -1 before the first Open.
    int SizeBand();

    const std::string &Name() const { return name_; }
    int Number() const { return number_; }
    int Port() const { return port_.load(std::memory_order_acquire); }
    bool IsOpened() const { return opened_.load(std::memory_order_acquire); }
    bool IsContinuous() const { return continuous_.load(std::memory_order_acquire); }
    bool IsGrabInProgress() const { return grabInProgress_.load(std::memory_order_acquire); }
    MilId DigitizerId() const { return idDigitizer_.load(std::memory_order_acquire); }
    MilApp *App() const { return app_; }
    MilSystem *System() const { return system_; }
    int StoredValue() const { return storedValue_; }
    void SetStoredValue(int value) { storedValue_ = value; }

    // Reads or changes the settings under the row lock: every row read consults them, so a change
    // made from outside the camera's own open and close goes through here and reaches the row reads
    // when f returns.
    template <typename F> decltype(auto) WithSettings(F &&f) {
        RowChange change(*this);
        return f(settings_);
    }

    // Runs f one at a time with Open, Close and the property calls, as they run with one another,
    // after any serial exchange of another thread on this camera: f may change the settings (through
    // WithSettings) and write the camera's parameters (ApplyCameraParameters). Close waits for its
    // acquisition thread without the lock, so the thread's completion callback may call this.
    template <typename F> decltype(auto) WithLifecycleLock(F &&f) {
        DriverLock<std::mutex> lock(lifecycleMutex_);
        WaitForExchange(lock);
        DriverLock<std::mutex> *outer = heldLock_;
        heldLock_ = &lock;
        struct Restore {
            MilDigitizer &camera;
            DriverLock<std::mutex> *outer;
            ~Restore() { camera.heldLock_ = outer; }
        } restore{*this, outer};
        return f();
    }
    // Writes the enabled camera parameters over the serial link as an exchange (see
    // ExchangeWithCamera). Called only by the thread that holds the lifecycle lock through
    // WithLifecycleLock, from inside f: the exchange lets go of that lock while it runs.
    void ApplyCameraParameters();

    // For the acquisition thread.
    MilGrabBuffers &Buffers() { return buffers_; }
    // Direct serial control of the camera (BaslerPortAccessEnabled).
    BaslerCamera &Basler() { return basler_; }
    CompleteCallback GetCompleteCB() const { return completeCallback_.load(std::memory_order_acquire); }
    void ClearGrabInProgress() { grabInProgress_.store(false, std::memory_order_release); }
    // A grabbed frame is complete: a running sharing server is told of it.
    void NotifyFrameReady();
    // The acquisition thread brackets every grab with these, so the count is odd while the ring is
    // being written: a reader that finds the same even count before and after its copy has read one
    // whole grab (the sharing server skips a frame that a new grab overwrote under it).
    void BeginRingWrite() { ringWrites_.fetch_add(1); }
    void EndRingWrite() { ringWrites_.fetch_add(1); }
    uint32_t RingWriteCount() const { return ringWrites_.load(); }

private:
    using LutTable = std::array<uint16_t, kLutEntries>;

    // Holds the row lock for a change of what row reads use (settings, ring, table); the change
    // reaches the readers, as a new row plan, when the object goes.
    class RowChange {
    public:
        explicit RowChange(MilDigitizer &camera) : camera_(camera), lock_(camera.rowsMutex_) {}
        ~RowChange() { camera_.PublishRowPlan(true); }
        RowChange(const RowChange &) = delete;
        RowChange &operator=(const RowChange &) = delete;

    private:
        MilDigitizer &camera_;
        DriverLock<std::mutex> lock_;
    };

    // Under the row lock: a plan of the current settings and ring replaces the published one, and
    // returns once no reader can still be using the old one, so what only the old plan referred to
    // may be freed then. stable false sends readers to the row lock until the next plan.
    void PublishRowPlan(bool stable) noexcept;
    // The row readers of every camera. Writers wait only for readers that are inside, for the time
    // of one row.
    static os::ReadDomain &RowReaders() {
        static os::ReadDomain &domain = os::ReadDomain::Create();
        return domain;
    }
    void LogLastRow() const;

    // Steps of Open; each logs its own reason.
    bool AllocateDigitizer();
    bool InquireFormat(int &sizeBand);
    void ReleaseDigitizer();
    void ApplyLut();
    // "GenICam:<Feature>" properties, through the imaging library's feature functions; false, with
    // one level-2 line, when the library has none, the camera is not open or the camera refuses.
    bool SetFeature(const char *feature, int value);
    bool GetFeature(const char *feature, int *out);
    bool GetFeatureRange(const char *feature, int &min, int &max);
    // MdigInquire of the type in storedValue, handed to out when the answer fits an int.
    bool InquireStoredType(int *out);
    // Close: the exposure mode and the six camera values read back into the settings.
    void ReadBackCameraValues(DriverLock<std::mutex> &lock);
    // Runs exchange(link), an exchange with the serial camera, with lock (the lifecycle lock of the
    // calling step) let go: the lines it writes reach the host as they are written, before each read
    // time-out, and no host callback runs under a lock of the driver. link works on a copy of the
    // settings, whose camera values then replace the settings' own under the lock again. The other
    // lifecycle steps wait until it ends; property calls go on meanwhile, and one that needs the
    // serial port finds it taken, as it would by another camera.
    template <typename F> void ExchangeWithCamera(DriverLock<std::mutex> &lock, F &&exchange);
    // Under lock: waits until no other thread runs a serial exchange on this camera.
    void WaitForExchange(DriverLock<std::mutex> &lock);
    // True when called from this camera's own acquisition thread (its completion callback), which
    // an Open or Close would have to wait for.
    bool OnOwnAcquisitionThread() const;
    // Waits, under lock, until no Close or StopThreads runs its part without the mutex. False at once
    // when this very thread runs it (a host callback called back from inside it), which would wait
    // for itself.
    bool WaitUntilIdle(DriverLock<std::mutex> &lock);

    // Declared in the order of release: the thread goes before everything it uses.
    std::unique_ptr<GrabThread> grabThread_;
    int number_ = 0;
    std::atomic<MilId> idDigitizer_{0};
    MilApp *app_;
    MilSystem *system_;
    MilGrabBuffers buffers_;
    std::atomic<int> port_{-1};
    std::atomic<bool> opened_{false};
    std::atomic<bool> continuous_{false};
    std::string name_;
    int storedValue_ = 0;
    // 16-bit to 8-bit table, delivered by its low byte. Replaced, never rewritten: readers take no lock.
    std::unique_ptr<LutTable> lut_;
    CameraSettings settings_;
    BaslerCamera basler_{&settings_};
    // Its thread reads rows through GetRow: stopped by Close, and by destruction before anything
    // else goes.
    CCameraShare share_{this};
    std::atomic<CompleteCallback> completeCallback_{nullptr};
    std::atomic<bool> grabInProgress_{false};
    std::atomic<uint32_t> ringWrites_{0};

    // Open, Close and destruction run one at a time. Some of their steps go on without the mutex:
    // Close waiting for the acquisition thread (whose callback may request the next grab) and the
    // serial exchanges; `unlocked_` keeps the other lifecycle steps out meanwhile. Grab takes the
    // mutex only briefly.
    enum class UnlockedStep { kNone, kExchange, kStopping };
    std::mutex lifecycleMutex_;
    std::condition_variable lifecycleIdle_;
    UnlockedStep unlocked_ = UnlockedStep::kNone;
    std::thread::id unlockedThread_; // the thread that runs it
    // The lock a WithLifecycleLock of the thread holding the mutex holds, for ApplyCameraParameters.
    DriverLock<std::mutex> *heldLock_ = nullptr;
    // Every change of what row reads use (the ring, the table, the settings) one at a time, each
    // published as a new plan; row reads themselves take it only while a plan is not stable. Two
    // plans: the one readers may be using and the spare, which no reader can see.
    std::mutex rowsMutex_;
    RowPlan plans_[2];
    std::atomic<const RowPlan *> rowPlan_{nullptr};
};

template <typename F> void MilDigitizer::ExchangeWithCamera(DriverLock<std::mutex> &lock, F &&exchange) {
    CameraSettings copy;
    {
        DriverLock<std::mutex> rows(rowsMutex_);
        copy = settings_;
    }
    // After another thread's step without the lock; a nested exchange (from a log callback of a step
    // on this thread) restores the outer step's mark.
    const std::thread::id self = std::this_thread::get_id();
    lifecycleIdle_.wait(lock.Inner(), [&] { return unlocked_ == UnlockedStep::kNone || unlockedThread_ == self; });
    const UnlockedStep outer = unlocked_;
    unlocked_ = UnlockedStep::kExchange;
    unlockedThread_ = self;
    // The lines so far go out now; a thread this step started still waits for the step's end.
    struct Relock {
        MilDigitizer &camera;
        DriverLock<std::mutex> &lock;
        const CameraSettings &copy;
        UnlockedStep outer;
        Logger::HandOff handOff = Logger::SuspendHandOff();
        ~Relock() {
            lock.lock();
            Logger::ResumeHandOff(std::move(handOff));
            camera.settings_.TakeCameraValues(copy);
            camera.unlocked_ = outer;
            camera.lifecycleIdle_.notify_all();
        }
    } relock{*this, lock, copy, outer};
    lock.unlock();
    BaslerCamera link(&copy, basler_);
    exchange(link);
}

} // namespace kestcam
