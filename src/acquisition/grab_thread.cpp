// grab_thread.cpp - the acquisition loop: wait for a request (or not, in continuous mode), grab
// HeightMultiplier frames with one sequence grab or, once sequence grabs have failed anywhere in
// the process, buffer by buffer; then clear the request and call the host back.
#include "acquisition/grab_thread.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <new>
#include <system_error>
#include <vector>

#include "acquisition/mil_digitizer.h"
#include "driver/logger.h"
#include "mil/mil_app.h"

namespace kestcam {

namespace {
thread_local const MilDigitizer *t_currentCamera = nullptr;
// Stands in for a thread handle in the log: distinct for every thread the driver starts.
std::atomic<int> g_threadSerial{0};

// The threads let go inside a completion callback that have not ended yet. Never destroyed: one
// may end while the process exits.
struct LetGoThreads {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::thread::id> running;
};
LetGoThreads &LetGo() {
    static LetGoThreads *threads = new LetGoThreads();
    return *threads;
}
void AddLetGo(std::thread::id id) {
    std::lock_guard<std::mutex> lock(LetGo().mutex);
    LetGo().running.push_back(id);
}
void RemoveLetGo(std::thread::id id) {
    LetGoThreads &threads = LetGo();
    {
        std::lock_guard<std::mutex> lock(threads.mutex);
        const auto it = std::find(threads.running.begin(), threads.running.end(), id);
        if (it != threads.running.end()) threads.running.erase(it);
    }
    threads.changed.notify_all();
}
} // namespace

void GrabThread::WaitForLetGoThreads() {
    LetGoThreads &threads = LetGo();
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(threads.mutex);
    threads.changed.wait(lock, [&] {
        return std::all_of(threads.running.begin(), threads.running.end(),
                           [&](std::thread::id id) { return id == self; });
    });
}

GrabThread::GrabThread(MilDigitizer *digitizer) : digitizer_(digitizer) {}

GrabThread::~GrabThread() {
    KC_LOG(2, "GrabThread::~GrabThread: entering on port=%d\n", digitizer_->Port());
    Destroy();
    KC_LOG(2, "GrabThread::~GrabThread: leaving on port=%d\n", digitizer_->Port());
}

const MilDigitizer *GrabThread::CurrentCamera() {
    return t_currentCamera;
}

bool GrabThread::Init() {
    const int port = digitizer_->Port();
    KC_LOG(2, "GrabThread::Init: entering on port=%d\n", port);
    if (thread_.joinable()) {
        KC_LOG(1, "GrabThread::Init: already initialized on port=%d\n", port);
        return false;
    }
    if (!control_) {
        control_.reset(new (std::nothrow) Control());
        if (!control_) {
            KC_LOG(1, "GrabThread::Init: could not create wait event on port=%d\n", port);
            return false;
        }
    }
    int serial = 0;
    try {
        // The event exists before the thread starts, so its first wait is on a valid event. Its lines
        // follow those of the open that starts it, held while the open holds the camera's lock.
        thread_ = std::thread([this, control = control_, handOff = Logger::TakeHandOff()] {
            Logger::FollowHandOff(handOff);
            static_ThreadMain(this);
            // Only the control block from here on: an orphaned thread's owner is gone.
            if (control->phase.load() == kLetGo) RemoveLetGo(std::this_thread::get_id());
            {
                std::lock_guard<std::mutex> lock(control->exitMutex);
                control->exited = true;
            }
            control->exitChanged.notify_all();
        });
        serial = g_threadSerial.fetch_add(1) + 1;
    } catch (const std::system_error &) {
        serial = 0;
    }
    KC_LOG(2, "GrabThread::Init: thread created:%d on port=%d\n", serial, port);
    if (!thread_.joinable()) {
        KC_LOG(2, "GrabThread::Init: ERROR: failed to initialize camera thread on port=%d\n", port);
        return false;
    }
    KC_LOG(2, "GrabThread::Init: leaving on port=%d\n", port);
    return true;
}

bool GrabThread::Signal() {
    if (control_) control_->wakeEvent.Set();
    return true;
}

std::shared_ptr<os::AutoResetEvent> GrabThread::WakeEvent() const {
    if (!control_) return nullptr;
    return std::shared_ptr<os::AutoResetEvent>(control_, &control_->wakeEvent);
}

int32_t GrabThread::static_ThreadMain(void *parameter) {
    if (parameter == nullptr) return -1;
    KC_LOG(2, "GrabThread::static_ThreadMain\n");
    return static_cast<GrabThread *>(parameter)->ThreadMain();
}

int32_t GrabThread::ThreadMain() {
    const std::shared_ptr<Control> control = control_;
    MilDigitizer *const digitizer = digitizer_;
    t_currentCamera = digitizer;
    KC_LOG(2, "GrabThread::ThreadMain: entering, clock=%ld on port=%d", static_cast<long>(std::clock()),
           digitizer->Port());
    MilApp *const app = digitizer->App();
    // Continuous mode spares the wait between sequences, never the first request: a thread that
    // starts while its camera is being opened must not grab into a ring not yet allocated.
    bool requested = false;
    while (!control->stop.load()) {
        if (!requested || !digitizer->IsContinuous()) control->wakeEvent.Wait();
        requested = true;
        if (control->stop.load()) break;
        KC_LOG(3, "GrabThread::ThreadMain: grabbing starts in synch mode on port=%d\n", digitizer->Port());

        // Decided once per request, so that a fallback switched on by another camera meanwhile does
        // not make this camera grab the same request twice.
        bool byBuffer = app->GrabFallback();
        bool ok = false;
        digitizer->BeginRingWrite();
        if (!byBuffer) {
            ok = Grab_MdigProcess();
            // A sequence ended by our own stop request is no failure of the library.
            if (!ok && !control->stop.load()) {
                app->SetGrabFallback();
                byBuffer = true;
            }
        }
        if (byBuffer) ok = Grab_MdigGrab();
        digitizer->EndRingWrite();

        // The library's error line names no port, and a grab ended by a stop request has none: this
        // line is the only way a host tells a failed grab of its camera from one still running.
        if (!ok) {
            digitizer->ClearGrabInProgress();
            KC_LOG(3, "GrabThread::ThreadMain: grab failed, no completion on port=%d\n", digitizer->Port());
            continue;
        }
        // Read once, before the completion is announced: the host may replace or remove its
        // callback at any moment, and a change it makes after seeing the line applies from the
        // next grab on.
        const CompleteCallback callback = digitizer->GetCompleteCB();
        digitizer->ClearGrabInProgress();
        KC_LOG(3, "GrabThread::ThreadMain: grabbing completed on port=%d\n", digitizer->Port());
        if (callback != nullptr) {
            const int port = digitizer->Port();
            // Destroy, on another thread, may let the thread go while it is in the callback.
            control->phase.store(kInCallback);
            {
                std::lock_guard<std::mutex> lock(control->exitMutex);
            }
            control->exitChanged.notify_all();
            callback(0, port);
            int inCallback = kInCallback;
            if (!control->phase.compare_exchange_strong(inCallback, kWorking)) {
                // Let go: the callback closed or freed this camera, or a close let the thread go while
                // the callback ran. Nothing of the camera may be touched any more.
                t_currentCamera = nullptr;
                return 0;
            }
        }
        digitizer->NotifyFrameReady();
    }
    KC_LOG(2, "GrabThread::ThreadMain: leavingon port=%d\n", digitizer->Port());
    t_currentCamera = nullptr;
    return 0;
}

bool GrabThread::Grab_MdigProcess() {
    MilGrabBuffers &buffers = digitizer_->Buffers();
    Mil().MdigProcess(digitizer_->DigitizerId(), buffers.BufIds(), buffers.BufCount(), mil::kSequence,
                      mil::kSynchronous, nullptr, nullptr);
    if (Mil().MappGetError(mil::kErrorCurrent, nullptr) == 0) return true;
    // Cut short by Destroy's stop request: the thread is ending, not failing.
    if (!control_->stop.load())
        KC_LOG(1, "GrabThread::Grab_MdigProcess: ERROR: grab failed, %s\n", GetMilErrorText().c_str());
    return false;
}

bool GrabThread::Grab_MdigGrab() {
    MilGrabBuffers &buffers = digitizer_->Buffers();
    const int count = buffers.BufCount();
    const MilId *ids = buffers.BufIds();
    for (int i = 0; i < count; ++i) {
        // A stopping thread abandons the rest of the grab instead of holding Destroy up for every
        // remaining frame.
        if (control_->stop.load()) return false;
        Mil().MdigGrab(digitizer_->DigitizerId(), ids[i]);
        if (Mil().MappGetError(mil::kErrorCurrent, nullptr) != 0) {
            KC_LOG(1, "MilDigitizer::Grab_MdigGrab: ERROR: grab failed for buffer=%d out of %d, %s\n", i + 1,
                   count, GetMilErrorText().c_str());
            return false;
        }
    }
    return true;
}

void GrabThread::StopSequence() {
    if (digitizer_->App()->GrabFallback() || digitizer_->DigitizerId() == 0) return;
    MilGrabBuffers &buffers = digitizer_->Buffers();
    Mil().MdigProcess(digitizer_->DigitizerId(), buffers.BufIds(), buffers.BufCount(), mil::kStop,
                      mil::kSynchronous, nullptr, nullptr);
}

void GrabThread::Destroy() {
    const int port = digitizer_->Port();
    KC_LOG(2, "GrabThread::Destroy: entering on port=%d\n", port);
    if (thread_.joinable()) {
        Control &control = *control_;
        control.stop.store(true);
        if (thread_.get_id() == std::this_thread::get_id()) {
            // Destroyed from this camera's own completion callback: the thread cannot wait for
            // itself. It ends on its own when the callback returns, without touching the camera, and
            // is no longer the camera's thread meanwhile.
            KC_LOG(1, "GrabThread::Destroy: WARNING: destroyed from its own completion callback on port=%d\n",
                   port);
            AddLetGo(thread_.get_id());
            control.phase.store(kLetGo);
            t_currentCamera = nullptr;
            thread_.detach();
        } else {
            control.wakeEvent.Set();
            std::unique_lock<std::mutex> lock(control.exitMutex);
            const auto warnAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kJoinWarningMs);
            bool ended = false;
            while (!ended && std::chrono::steady_clock::now() < warnAt) {
                // Repeated while the thread runs: a sequence that started just after a stop
                // request would not see it.
                lock.unlock();
                StopSequence();
                lock.lock();
                ended = control.exitChanged.wait_for(lock, std::chrono::milliseconds(kStopRepeatMs),
                                                     [&] { return control.exited; });
            }
            lock.unlock();
            if (!ended && WaitLonger(port))
                thread_.detach();
            else
                thread_.join();
        }
        KC_LOG(2, "GrabThread::Destroy: thread closed on port=%d\n", port);
    }
    control_.reset();
    KC_LOG(2, "GrabThread::Destroy: leaving on port=%d\n", port);
}

bool GrabThread::WaitLonger(int port) {
    Control &control = *control_;
    const bool mayLetGo = !waitForCallback_;
    bool warned = false;
    for (;;) {
        if (mayLetGo && control.phase.load() == kInCallback) {
            if (warned) {
                // The grab waited for ended in a completion: its callback has as long as any other.
                std::unique_lock<std::mutex> lock(control.exitMutex);
                control.exitChanged.wait_for(lock, std::chrono::milliseconds(kJoinWarningMs),
                                             [&] { return control.exited; });
                if (control.exited) return false;
            }
            // Counted before the thread can see itself let go, which it answers by leaving the count.
            AddLetGo(thread_.get_id());
            int inCallback = kInCallback;
            const bool letGo = control.phase.compare_exchange_strong(inCallback, kLetGo);
            if (!letGo) RemoveLetGo(thread_.get_id());
            if (letGo) {
                KC_LOG(1,
                       "GrabThread::Destroy: WARNING: thread still in the completion callback after %d ms on "
                       "port=%d, the thread is let go and ends when the callback returns\n",
                       kJoinWarningMs, port);
                return true;
            }
            continue; // it has just returned from the callback
        }
        // Said before the wait, with no lock held: the host sees it while the wait lasts.
        if (!warned) {
            warned = true;
            if (control.phase.load() == kInCallback)
                KC_LOG(1,
                       "GrabThread::Destroy: WARNING: thread still in the completion callback after %d ms on "
                       "port=%d, waiting for the callback to return\n",
                       kJoinWarningMs, port);
            else
                // A buffer-by-buffer grab is not ended by the stop request; it ends by the grab
                // time-out at the latest. The digitizer and the buffers must stay until then.
                KC_LOG(1,
                       "GrabThread::Destroy: WARNING: thread still grabbing after %d ms on port=%d, waiting for "
                       "the grab to end\n",
                       kJoinWarningMs, port);
        }
        std::unique_lock<std::mutex> lock(control.exitMutex);
        control.exitChanged.wait(
            lock, [&] { return control.exited || (mayLetGo && control.phase.load() == kInCallback); });
        if (control.exited) return false;
    }
}

} // namespace kestcam
