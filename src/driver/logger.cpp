// logger.cpp - the leveled log: two callback texts per message, an append-only log file, and
// lines held back while no system path is known.
#include "driver/logger.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "driver/platform_paths.h"
#include "os/local_time.h"

namespace kestcam {

using detail::t_deferScope;

// Delivered with this thread's locks released; a callback that calls back into the driver opens
// scopes of its own, whose messages follow before the next held one.
void Logger::DeferScope::DeliverHeld() {
    for (const Held &held : held_)
        Logger::Instance().Deliver(held.stamp.c_str(), held.message.c_str());
}

Logger &Logger::Instance() {
    // Never destroyed: acquisition threads may still log while the process exits.
    static Logger *instance = new Logger();
    return *instance;
}

void Logger::Print(int level, const char *format, ...) {
    if (!Enabled(level)) return;
    va_list args;
    va_start(args, format);
    VPrint(level, format, args);
    va_end(args);
}

void Logger::VPrint(int level, const char *format, va_list args) {
    if (!Enabled(level) || format == nullptr) return;
    // Each call formats into its own buffers; only the output is ordered.
    char message[kMessageSize];
    char stamp[kStampSize];
    int written = std::vsnprintf(message, sizeof message, format, args);
    if (written < 0) {
        message[0] = '\0';
    }
    // A message longer than the buffer is cut at 1023 characters.
    size_t n = std::strlen(message);
    if (n > 0 && n < kMessageSize - 2 && message[n - 1] != '\n') {
        message[n] = '\n';
        message[n + 1] = '\0';
    }

    std::tm now = os::LocalTimeNow();
    std::snprintf(stamp, sizeof stamp, "%.2d/%.2d/%.2d %.2d:%.2d:%.2d: ", now.tm_mday, now.tm_mon + 1,
                  (now.tm_year + 1900) % 10, now.tm_hour, now.tm_min, now.tm_sec);

    if (t_deferScope != nullptr) {
        t_deferScope->held_.push_back({stamp, message});
        return;
    }
    Deliver(stamp, message);
}

void Logger::Deliver(const char *stamp, const char *message) {
    std::lock_guard<std::recursive_mutex> output(outputMutex_);
    if (DebugMsgProc proc = GetDebugMsgProc()) {
        proc(stamp);
        proc(message);
    }

    if (!LogIntoFile()) return;
    const std::string path = SystemPath();
    if (path.empty()) {
        pendingLines_.emplace_back(message);
        return;
    }
    std::string fileName = path + platform_paths::Separator() + "Kest.log";
    std::FILE *file = std::fopen(fileName.c_str(), "a");
    if (file == nullptr) return;
    for (const std::string &line : pendingLines_)
        std::fprintf(file, "%s", line.c_str());
    pendingLines_.clear();
    std::fprintf(file, "%s", message);
    std::fclose(file);
}

void Logger::SetDebugMsgProc(DebugMsgProc proc) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    debugMsgProc_ = proc;
}

DebugMsgProc Logger::GetDebugMsgProc() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return debugMsgProc_;
}

void Logger::SetSystemPath(const std::string &path) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    systemPath_ = path;
}

std::string Logger::SystemPath() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return systemPath_;
}

std::string Logger::GetSettingsFilePath() const {
    return SystemPath() + platform_paths::Separator() + "Kest.ini";
}

std::string Logger::GetLogFilePath() const {
    return SystemPath() + platform_paths::Separator() + "Kest.log";
}

std::string Logger::MakeAbsolutePath(const std::string &path) const {
    if (!platform_paths::IsRelative(path)) return path;
    std::optional<std::string> joined = platform_paths::Append(SystemPath(), path);
    return joined ? *joined : path;
}

std::string Logger::MakeRelativePath(const std::string &path) const {
    std::optional<std::string> rel = platform_paths::RelativePathTo(SystemPath(), path);
    if (!rel) return path;
    const char sep = platform_paths::Separator();
    const std::string twoUp = std::string("..") + sep + ".." + sep;
    if (rel->compare(0, twoUp.size(), twoUp) == 0) return path;
    return *rel;
}

size_t Logger::PendingLineCount() const {
    std::lock_guard<std::recursive_mutex> lock(outputMutex_);
    return pendingLines_.size();
}

} // namespace kestcam
