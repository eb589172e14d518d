// logger.cpp - the leveled log: two callback texts per message, an append-only log file, and
// lines held back while no system path is known.
#include "driver/logger.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "driver/platform_paths.h"
#include "os/local_time.h"

namespace kestcam {

// What a thread holds back while it holds a lock of the driver. Plain thread-local values: objects
// with destructors are fragile in a library that threads may outlive; the lines are allocated only
// when one is held, and freed when they go out.
struct Logger::ThreadHold {
    std::vector<Held> lines;
    std::shared_ptr<HandOff::Gate> gate; // a thread that carries on from this one waits for it
};

struct Logger::HandOff::Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

namespace {
KC_TLS_INITIAL_EXEC thread_local int t_holdDepth = 0;
KC_TLS_INITIAL_EXEC thread_local Logger::ThreadHold *t_hold = nullptr;
} // namespace

void Logger::DeferScope::Enter() {
    ++t_holdDepth;
}

void Logger::DeferScope::Leave() {
    if (--t_holdDepth > 0 || t_hold == nullptr) return;
    // Taken off the thread first: a callback that calls back into the driver holds lines of its own.
    std::unique_ptr<ThreadHold> hold(t_hold);
    t_hold = nullptr;
    Logger::Instance().DeliverHeld(*hold);
}

Logger::HandOff Logger::TakeHandOff() {
    HandOff handOff;
    if (t_hold == nullptr) return handOff;
    if (!t_hold->gate) t_hold->gate = std::make_shared<HandOff::Gate>();
    handOff.gate_ = t_hold->gate;
    return handOff;
}

void Logger::FollowHandOff(const HandOff &handOff) {
    if (!handOff.gate_) return;
    HandOff::Gate &gate = *handOff.gate_;
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.opened.wait_for(lock, std::chrono::milliseconds(kHandOffBoundMs), [&] { return gate.open; });
}

Logger::HandOff Logger::SuspendHandOff() {
    HandOff handOff;
    if (t_hold != nullptr) handOff.gate_ = std::move(t_hold->gate);
    return handOff;
}

void Logger::ResumeHandOff(HandOff handOff) {
    if (!handOff.gate_) return;
    if (t_holdDepth > 0) {
        if (t_hold == nullptr) t_hold = new ThreadHold();
        if (!t_hold->gate) {
            t_hold->gate = std::move(handOff.gate_);
            return;
        }
    }
    // Nothing held to follow (or a gate of its own already): the followers go now.
    ThreadHold open;
    open.gate = std::move(handOff.gate_);
    Instance().DeliverHeld(open);
}

// With this thread's locks released. The whole batch goes out under the output lock, so a follower
// let go by the gate (which waits for that lock) comes after it; a callback that calls back into the
// driver on this thread logs in between, as the lock is recursive.
void Logger::DeliverHeld(ThreadHold &hold) {
    std::lock_guard<std::recursive_mutex> output(outputMutex_);
    if (hold.gate) {
        {
            std::lock_guard<std::mutex> lock(hold.gate->mutex);
            hold.gate->open = true;
        }
        hold.gate->opened.notify_all();
    }
    for (const Held &held : hold.lines)
        Deliver(held.stamp.c_str(), held.message.c_str(), held.toFile);
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

    // Whether the line goes to the file is decided now, as its level was: an open of another camera
    // before it goes out does not change it.
    const bool toFile = LogIntoFile();
    if (t_holdDepth > 0) {
        if (t_hold == nullptr) t_hold = new ThreadHold();
        t_hold->lines.push_back({stamp, message, toFile});
        return;
    }
    Deliver(stamp, message, toFile);
}

void Logger::Deliver(const char *stamp, const char *message, bool toFile) {
    std::lock_guard<std::recursive_mutex> output(outputMutex_);
    if (DebugMsgProc proc = GetDebugMsgProc()) {
        proc(stamp);
        proc(message);
    }

    if (!toFile) return;
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
