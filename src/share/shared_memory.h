// shared_memory.h - a named shared-memory segment and its named mutex (NAME and NAME + "Mutex"),
// through which the sharing server hands each image to a client process. Raw image bytes only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "share/shared_memory_platform.h"

namespace kestcam {

class CSharedMemory {
public:
    CSharedMemory() = default;
    ~CSharedMemory() { Release(); }
    CSharedMemory(const CSharedMemory &) = delete;
    CSharedMemory &operator=(const CSharedMemory &) = delete;

    // Creates (openExisting false) or opens the segment `name` of at least size bytes, with its
    // mutex, and maps it whole. False with the reason logged; nothing is then held.
    bool Create(const char *name, bool openExisting, int size);
    // Drops mutex, view and mapping.
    void Release();
    // Waits without time-out for the mutex. Throws the C string "err" when nothing is held.
    bool Lock();
    bool Unlock();
    // Copies count bytes to or from the segment's start, holding the mutex. False, copying
    // nothing, when nothing is mapped or count exceeds the mapped region.
    bool Write(const void *source, size_t count);
    bool Read(void *destination, size_t count);
    // As Write, waiting at most timeoutMs for the mutex and not past the moment stop is set.
    share::LockResult WriteBounded(const void *source, size_t count, int timeoutMs,
                                   const share::WaitableEvent *stop);

    bool IsInitialized() const { return initialized_; }
    // The size given to Create (also when opening).
    unsigned Size() const { return size_; }
    size_t RegionSize() const { return mapping_ ? mapping_->RegionSize() : 0; }
    const std::string &Name() const { return name_; }
    const uint8_t *View() const { return mapping_ ? mapping_->View() : nullptr; }

private:
    bool Fits(size_t count) const { return initialized_ && count <= mapping_->RegionSize(); }

    std::unique_ptr<share::SegmentMapping> mapping_; // the mapping and its view, unmapped last
    std::unique_ptr<share::NamedMutex> mutex_;
    // The thread that holds the mutex through Lock: only it releases it.
    std::atomic<std::thread::id> holder_{};
    unsigned size_ = 0;
    std::string name_;
    bool initialized_ = false;
};

} // namespace kestcam
