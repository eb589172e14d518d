// shared_memory_platform.h - what a shared segment needs from the platform: a named cross-process
// mutex and a named mapping of the whole segment. Windows: a named mutex and a paging-file
// mapping. POSIX: shm_open("/NAME") mapped whole, and a robust, process-shared pthread mutex at
// offset 0 of its own object "/NAMEMutex".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestcam::share {

class WaitableEvent;

enum class LockResult { Acquired, TimedOut, Stopped, Failed };

class NamedMutex {
public:
    virtual ~NamedMutex() = default;
    // Waits without time-out. An owner that died holding the mutex leaves it acquirable.
    virtual bool Lock() = 0;
    // Waits at most timeoutMs, and not past the moment stop (if given) is set.
    virtual LockResult LockFor(int timeoutMs, const WaitableEvent *stop) = 0;
    // Fails, harmlessly, when the caller does not hold it.
    virtual bool Unlock() = 0;
    // This call made the mutex (it did not exist before).
    virtual bool Created() const = 0;
};

// Creates the mutex, not owned, or opens it when it exists. Null when it cannot be had.
std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string &name);
// Removes the mutex's name where names outlive their users (POSIX); processes that have it keep
// it. Only the creator of the segment does this, when it releases the segment.
void RemoveNamedMutex(const std::string &name);

// For the server that has just taken the share name `name` (no live server holds it): removes what a
// server of that name that ended without releasing them left, where names outlive their users
// (POSIX: "/NAME" and "/NAMEMutex"), so that both are made anew. Processes that have them keep
// them. isServed tells whether a live server holds a share name. False, removing nothing, when
// "NAMEMutex" is the name of a live share: its segment cannot be this share's mutex.
bool RemoveLeftObjects(const std::string &name, bool (*isServed)(const std::string &));

// Where creating or opening a segment stopped, with the platform error of the failing call.
enum class MapFailure { None, InUse, NoAccess, NoView };

class SegmentMapping {
public:
    virtual ~SegmentMapping() = default;
    virtual uint8_t *View() const = 0;
    // Bytes the view spans: what the platform reports for the mapped region.
    virtual size_t RegionSize() const = 0;
    // The segment existed before this mapping (opened rather than created).
    virtual bool Existed() const = 0;
};

// Creates (openExisting false: `size` bytes) or opens the named segment and maps it whole. On
// failure null, with the step that failed and its error code.
std::unique_ptr<SegmentMapping> MapSegment(const std::string &name, bool openExisting, unsigned size,
                                           MapFailure &failure, int &error);

} // namespace kestcam::share
