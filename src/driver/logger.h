// logger.h - the process-wide leveled log: host callback, optional log file, system path helpers.
#pragma once

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "kestcam/kestcam.h"

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

    // The single logger, built on first use; it lives until the process ends.
    static Logger &Instance();

    // Formats and outputs one message when level <= the current level. Safe from any thread:
    // a stamp and its message reach the callback as a pair.
    void Print(int level, const char *format, ...) KC_PRINTF(3, 4);
    void VPrint(int level, const char *format, va_list args);
    bool Enabled(int level) const { return level <= logLevel_.load(std::memory_order_relaxed); }

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

    mutable std::recursive_mutex mutex_; // guards the callback, the pending lines, the path and the file
    DebugMsgProc debugMsgProc_ = nullptr;
    std::string systemPath_;
    std::atomic<int> logLevel_{3};
    std::atomic<bool> logIntoFile_{false};
    std::vector<std::string> pendingLines_;
};

} // namespace kestcam

#define KC_LOG(level, ...)                                                                                  \
    do {                                                                                                    \
        ::kestcam::Logger &kc_logger_ = ::kestcam::Logger::Instance();                                      \
        if (kc_logger_.Enabled(level)) kc_logger_.Print(level, __VA_ARGS__);                                \
    } while (0)
