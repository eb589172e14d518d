// shared_memory_posix.cpp - segments are shm_open objects "/NAME" (mode 0600) mapped whole; the
// mutex is a robust, process-shared pthread mutex at offset 0 of its own object "/NAMEMutex".
// Outside clients rely on both forms.
#include "share/shared_memory_platform.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "share/waitable.h"

namespace kestcam::share {

namespace {

// The mutex object: a robust, process-shared pthread mutex at offset 0 is all a user needs. An
// object of at least that size, made by anyone, is accepted. The ones made here carry after the
// mutex the mark that clients of earlier versions look for; while its maker sets it up it holds an
// exclusive flock on it, and an opener takes a shared one to know that it is done.
struct MutexBlock {
    pthread_mutex_t mutex;
    std::atomic<uint32_t> ready;
};
constexpr uint32_t kMutexReady = 0x4B434D58; // "XMCK"
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the mark is shared between processes");

// How long an opener waits for another process that is just creating the mutex object.
constexpr auto kCreatorGrace = std::chrono::milliseconds(1000);
constexpr auto kPollStep = std::chrono::milliseconds(5);
// The slice of one timed lock attempt: a stop is noticed within it.
constexpr long kLockSliceMs = 20;

std::string ObjectName(const std::string &name) {
    return "/" + name;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

bool IsMutexObject(const void *view, size_t size) {
    return size == sizeof(MutexBlock) &&
           static_cast<const MutexBlock *>(view)->ready.load(std::memory_order_acquire) == kMutexReady;
}

class PosixMutex : public NamedMutex {
public:
    PosixMutex(MutexBlock *block, size_t length, bool created) : block_(block), length_(length), created_(created) {}
    ~PosixMutex() override { munmap(block_, length_); }

    bool Lock() override {
        const int rc = pthread_mutex_lock(&block_->mutex);
        return Acquired(rc);
    }

    LockResult LockFor(int timeoutMs, const WaitableEvent *stop) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (stop != nullptr && stop->IsSet()) return LockResult::Stopped;
            const int rc = pthread_mutex_trylock(&block_->mutex);
            if (rc != EBUSY) return Acquired(rc) ? LockResult::Acquired : LockResult::Failed;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return LockResult::TimedOut;
            const long leftMs =
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
            // A timed lock takes the realtime clock; one short slice at a time, a clock change
            // cannot stretch the wait.
            timespec until{};
            clock_gettime(CLOCK_REALTIME, &until);
            const long sliceMs = leftMs < kLockSliceMs ? (leftMs > 0 ? leftMs : 1) : kLockSliceMs;
            until.tv_nsec += sliceMs * 1000000L;
            until.tv_sec += until.tv_nsec / 1000000000L;
            until.tv_nsec %= 1000000000L;
            const int timed = pthread_mutex_timedlock(&block_->mutex, &until);
            if (timed == ETIMEDOUT) continue;
            return Acquired(timed) ? LockResult::Acquired : LockResult::Failed;
        }
    }

    bool Unlock() override { return pthread_mutex_unlock(&block_->mutex) == 0; }
    bool Created() const override { return created_; }

private:
    // An owner that died leaves the mutex acquirable, as an abandoned mutex is on Windows.
    bool Acquired(int rc) {
        if (rc == EOWNERDEAD) return pthread_mutex_consistent(&block_->mutex) == 0;
        return rc == 0;
    }

    MutexBlock *block_; // only the mutex is touched in an object this process did not make
    size_t length_;
    bool created_;
};

MutexBlock *MapBlock(int fd, size_t length) {
    void *view = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return view == MAP_FAILED ? nullptr : static_cast<MutexBlock *>(view);
}

// Under an exclusive flock from before the object has a size until the mutex is set up.
MutexBlock *CreateBlock(int fd) {
    if (flock(fd, LOCK_EX) != 0 || ftruncate(fd, sizeof(MutexBlock)) != 0) return nullptr;
    MutexBlock *block = MapBlock(fd, sizeof(MutexBlock));
    if (block == nullptr) return nullptr;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    const int rc = pthread_mutex_init(&block->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        munmap(block, sizeof(MutexBlock));
        return nullptr;
    }
    block->ready.store(kMutexReady, std::memory_order_release);
    flock(fd, LOCK_UN);
    return block;
}

// An existing object, once its maker is done with it: one that holds at least a pthread mutex.
// Anything smaller is not a mutex. The bytes mapped (and touched) are the mutex's only.
MutexBlock *OpenBlock(int fd) {
    const auto giveUp = std::chrono::steady_clock::now() + kCreatorGrace;
    for (;;) {
        struct stat st {};
        // Without the shared lock the maker still holds it; with it and no size yet, the maker has
        // not begun (or went before it began).
        if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
            const bool known = fstat(fd, &st) == 0;
            flock(fd, LOCK_UN);
            if (!known || !S_ISREG(st.st_mode)) return nullptr;
            const auto size = static_cast<size_t>(st.st_size);
            if (size >= sizeof(pthread_mutex_t)) return MapBlock(fd, sizeof(pthread_mutex_t));
            if (size != 0) return nullptr;
        } else if (errno != EWOULDBLOCK && errno != EINTR) {
            return nullptr;
        }
        if (std::chrono::steady_clock::now() >= giveUp) return nullptr;
        std::this_thread::sleep_for(kPollStep);
    }
}

class PosixMapping : public SegmentMapping {
public:
    PosixMapping(uint8_t *view, size_t size, bool existed, std::string unlinkName)
        : view_(view), size_(size), existed_(existed), unlinkName_(std::move(unlinkName)) {}
    ~PosixMapping() override {
        munmap(view_, size_);
        // The segment's creator removes its name, as the last handle removes a Windows mapping;
        // a client that still has it mapped keeps its view.
        if (!unlinkName_.empty()) shm_unlink(unlinkName_.c_str());
    }
    uint8_t *View() const override { return view_; }
    size_t RegionSize() const override { return size_; }
    bool Existed() const override { return existed_; }

private:
    uint8_t *view_;
    size_t size_;
    bool existed_;
    std::string unlinkName_;
};

} // namespace

void RemoveNamedMutex(const std::string &name) {
    shm_unlink(ObjectName(name).c_str());
}

std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string &name) {
    const std::string object = ObjectName(name);
    // Only the segment's creator removes the name again: every process that uses the segment must
    // find the same mutex under it.
    Fd created(shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    MutexBlock *block = nullptr;
    if (created.Get() >= 0) {
        block = CreateBlock(created.Get());
    } else if (errno == EEXIST) {
        Fd existing(shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600));
        if (existing.Get() >= 0) block = OpenBlock(existing.Get());
    }
    if (block == nullptr) return nullptr;
    const bool made = created.Get() >= 0;
    return std::make_unique<PosixMutex>(block, made ? sizeof(MutexBlock) : sizeof(pthread_mutex_t), made);
}

bool RemoveLeftObjects(const std::string &name, bool (*isServed)(const std::string &)) {
    // "/NAMEMutex" is the segment of a live share of that name: it is not ours to remove, nor a
    // mutex to use.
    if (isServed(name + "Mutex")) return false;
    const std::string segment = ObjectName(name);
    // "/NAME" may be the mutex of the share whose name is NAME without "Mutex": that one stays,
    // and creating the segment then finds the name in use.
    bool anotherShareMutex = false;
    const Fd fd(shm_open(segment.c_str(), O_RDONLY | O_CLOEXEC, 0));
    struct stat st {};
    if (fd.Get() >= 0 && fstat(fd.Get(), &st) == 0 && static_cast<size_t>(st.st_size) == sizeof(MutexBlock)) {
        void *view = mmap(nullptr, sizeof(MutexBlock), PROT_READ, MAP_SHARED, fd.Get(), 0);
        if (view != MAP_FAILED) {
            anotherShareMutex = IsMutexObject(view, sizeof(MutexBlock));
            munmap(view, sizeof(MutexBlock));
        }
    }
    if (!anotherShareMutex) shm_unlink(segment.c_str());
    shm_unlink(ObjectName(name + "Mutex").c_str());
    return true;
}

std::unique_ptr<SegmentMapping> MapSegment(const std::string &name, bool openExisting, unsigned size,
                                           MapFailure &failure, int &error) {
    failure = MapFailure::None;
    error = 0;
    const std::string object = ObjectName(name);
    bool existed = true;
    int raw = -1;
    if (openExisting) {
        raw = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600);
    } else {
        raw = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (raw >= 0)
            existed = false;
        else if (errno == EEXIST)
            raw = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600);
    }
    if (raw < 0) {
        error = errno;
        failure = MapFailure::NoAccess;
        return nullptr;
    }
    Fd fd(raw);
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        error = errno;
        failure = MapFailure::NoAccess;
        if (!existed) shm_unlink(object.c_str());
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        failure = MapFailure::InUse;
        return nullptr;
    }
    // A new segment, or one left empty by a creator that went before sizing it, gets the size.
    if (!openExisting && st.st_size == 0) {
        if (ftruncate(fd.Get(), static_cast<off_t>(size)) != 0) {
            error = errno;
            failure = MapFailure::NoAccess;
            if (!existed) shm_unlink(object.c_str());
            return nullptr;
        }
        st.st_size = static_cast<off_t>(size);
    }
    const auto length = static_cast<size_t>(st.st_size);
    void *view = length > 0 ? mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0) : MAP_FAILED;
    if (view == MAP_FAILED) {
        error = length > 0 ? errno : EINVAL;
        failure = MapFailure::NoView;
        if (!existed) shm_unlink(object.c_str());
        return nullptr;
    }
    // The name of another share's mutex object is no segment of this share.
    if (IsMutexObject(view, length)) {
        munmap(view, length);
        failure = MapFailure::InUse;
        return nullptr;
    }
    return std::make_unique<PosixMapping>(static_cast<uint8_t *>(view), length, existed,
                                          existed ? std::string() : object);
}

} // namespace kestcam::share
