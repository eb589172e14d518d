// logger.h - the process-wide leveled log: host callback, optional log file, system path helpers.
#pragma once

#include <atomic>
#include <cstdarg>
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
    // the host's callback (and the log file) only when the thread's outermost scope ends. Every
    // export runs inside one, and so does every driver thread's work that takes a camera's locks:
    // the host's callback is never called while the calling thread holds a lock of the driver, so a
    // callback that calls back into the driver cannot deadlock against another thread that logs
    // while holding one.
    // Inline: every export opens one, the row export once per row.
    class DeferScope {
    public:
        DeferScope();
        ~DeferScope();
        DeferScope(const DeferScope &) = delete;
        DeferScope &operator=(const DeferScope &) = delete;

    private:
        friend class Logger;
        struct Held {
            std::string stamp;
            std::string message;
        };
        void DeliverHeld();
        bool outermost_;
        std::vector<Held> held_;
    };

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
    // Hands one stamp and its message to the callback and the log file, as a pair.
    void Deliver(const char *stamp, const char *message);

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

namespace detail {
// The outermost scope of this thread, or null. A plain pointer: thread-local objects with
// destructors are fragile in a library that threads may outlive.
KC_TLS_INITIAL_EXEC inline thread_local Logger::DeferScope *t_deferScope = nullptr;
} // namespace detail

inline Logger::DeferScope::DeferScope() : outermost_(detail::t_deferScope == nullptr) {
    if (outermost_) detail::t_deferScope = this;
}

inline Logger::DeferScope::~DeferScope() {
    if (!outermost_) return;
    detail::t_deferScope = nullptr;
    if (!held_.empty()) DeliverHeld();
}

} // namespace kestcam

#define KC_LOG(level, ...)                                                                                        \
    do {                                                                                                          \
        if (::kestcam::Logger::LevelEnabled(level)) ::kestcam::Logger::Instance().Print(level, __VA_ARGS__);      \
    } while (0)
