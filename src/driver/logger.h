// logger.h - the process-wide leveled log: host callback, optional log file, system path helpers.
#pragma once

#include <atomic>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kestcam/kestcam.h"
#include "os/tls_model.h"

#if defined(__GNUC__)
#define KC_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KC_PRINTF(fmt, args)
#endif

namespace kestcam {

class Logger {
public:
    static constexpr int kMessageSize = 1024;
    static constexpr int kStampSize = 128;

    // While a scope lives on a thread, that thread's messages are formatted at once but handed to
    // the host's callback (and the log file) only when the thread's outermost scope ends. Every lock
    // of the driver is taken inside one (DriverLock), and so is every stretch that has the same
    // effect on a callback (a row read, which a writer of the camera waits for): the host's callback
    // is never called while the calling thread holds a lock of the driver, so a callback that calls
    // back into the driver cannot deadlock against another thread that logs while holding one. Once
    // the thread holds none, its lines go out at once, so they reach the host in the order they were
    // written and before any wait that follows.
    class DeferScope {
    public:
        DeferScope() { Enter(); }
        ~DeferScope() { Leave(); }
        DeferScope(const DeferScope &) = delete;
        DeferScope &operator=(const DeferScope &) = delete;

        // The same without an object, for a lock released and taken again.
        static void Enter();
        static void Leave();
    };

    // Taken by a thread that another thread carries on from (a thread it starts) while it may
    // still hold lines: FollowHandOff, on the other thread, waits until those lines have gone out,
    // so that its own lines follow them. Empty when nothing was held.
    class HandOff {
    public:
        HandOff() = default;

    private:
        friend class Logger;
        struct Gate;
        std::shared_ptr<Gate> gate_;
    };
    static HandOff TakeHandOff();
    static void FollowHandOff(const HandOff &handOff);
    // For a step that lets go of its locks in the middle (a serial exchange): its lines go out
    // then, while a thread it started keeps waiting for the step's end. SuspendHandOff takes this
    // thread's gate off the lines it holds; ResumeHandOff hands it to the lines held next, or lets
    // the followers go when none are held.
    static HandOff SuspendHandOff();
    static void ResumeHandOff(HandOff handOff);
    // How long a follower waits at most: only a safety bound, the thread it follows releases its
    // locks without waiting for the follower.
    static constexpr int kHandOffBoundMs = 10000;

    // A line held back: its texts, and whether it goes to the file too.
    struct Held {
        std::string stamp;
        std::string message;
        bool toFile;
    };
    // The lines a thread holds back (defined where they are kept).
    struct ThreadHold;

    // The single logger, built on first use; it lives until the process ends.
    static Logger &Instance();

    // Formats and outputs one message when level <= the current level. Safe from any thread:
    // a stamp and its message reach the callback as a pair.
    void Print(int level, const char *format, ...) KC_PRINTF(3, 4);
    void VPrint(int level, const char *format, va_list args);
    bool Enabled(int level) const { return LevelEnabled(level); }
    // The same without the instance: the check every log call makes first.
    static bool LevelEnabled(int level) { return level <= logLevel_.load(std::memory_order_relaxed); }

    void SetDebugMsgProc(DebugMsgProc proc);
    DebugMsgProc GetDebugMsgProc() const;
    void SetSystemPath(const std::string &path);
    std::string SystemPath() const;
    void SetLogLevel(int level) { logLevel_.store(level, std::memory_order_relaxed); }
    int LogLevel() const { return logLevel_.load(std::memory_order_relaxed); }
    void SetLogIntoFile(bool on) { logIntoFile_.store(on, std::memory_order_relaxed); }
    bool LogIntoFile() const { return logIntoFile_.load(std::memory_order_relaxed); }

    // "<system path><sep>Kest.ini"; the separator is always added.
    std::string GetSettingsFilePath() const;
    // "<system path><sep>Kest.log".
    std::string GetLogFilePath() const;
    std::string MakeAbsolutePath(const std::string &path) const;
    std::string MakeRelativePath(const std::string &path) const;

    // Lines held for the log file while no system path is known (tests look at them).
    size_t PendingLineCount() const;

private:
    Logger() = default;
    // Hands one stamp and its message to the callback and, when toFile (decided when the message
    // was written), to the log file, as a pair.
    void Deliver(const char *stamp, const char *message, bool toFile);
    void DeliverHeld(ThreadHold &hold);

    // The callback and the path: held only to read or change them, never around a call out.
    mutable std::mutex stateMutex_;
    // Orders the output, so each stamp is directly followed by its message. Recursive, because a
    // callback may call back into the driver, whose own messages then follow on the same thread.
    mutable std::recursive_mutex outputMutex_;
    DebugMsgProc debugMsgProc_ = nullptr;
    std::string systemPath_;
    static inline std::atomic<int> logLevel_{3};
    std::atomic<bool> logIntoFile_{false};
    std::vector<std::string> pendingLines_; // under outputMutex_
};

// A lock of the driver, taken inside a DeferScope: the thread's lines wait while it is held.
// As std::unique_lock, for the waits of a condition variable (Inner); the lines stay held while
// the thread waits there.
template <typename Mutex> class DriverLock {
public:
    explicit DriverLock(Mutex &mutex) : lock_(mutex, std::defer_lock) { lock(); }
    ~DriverLock() {
        if (lock_.owns_lock()) unlock();
    }
    DriverLock(const DriverLock &) = delete;
    DriverLock &operator=(const DriverLock &) = delete;

    void lock() {
        Logger::DeferScope::Enter();
        lock_.lock();
    }
    void unlock() {
        lock_.unlock();
        Logger::DeferScope::Leave();
    }
    std::unique_lock<Mutex> &Inner() { return lock_; }

private:
    std::unique_lock<Mutex> lock_;
};

} // namespace kestcam

#define KC_LOG(level, ...)                                                                                        \
    do {                                                                                                          \
        if (::kestcam::Logger::LevelEnabled(level)) ::kestcam::Logger::Instance().Print(level, __VA_ARGS__);      \
    } while (0)
