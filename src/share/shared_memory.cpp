// shared_memory.cpp - creating and opening a segment step by step with its messages, and the
// whole-image copies under the segment's mutex.
#include "share/shared_memory.h"

#include <cstring>

#include "driver/logger.h"

namespace kestcam {

bool CSharedMemory::Create(const char *name, bool openExisting, int size) {
    Release();
    // An empty name is refused as a missing one: it names no object a client could open.
    if (name == nullptr || name[0] == '\0') {
        KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: name is empty\n");
        return false;
    }
    if (size <= 0 && !openExisting) {
        KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: when creating, size must be postive and non-zero\n");
        return false;
    }
    const std::string mutexName = std::string(name) + "Mutex";
    std::unique_ptr<share::NamedMutex> mutex = share::CreateNamedMutex(mutexName);
    if (!mutex) {
        KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: Could not allocate mutex object %s\n", mutexName.c_str());
        return false;
    }
    const unsigned wanted = size > 0 ? static_cast<unsigned>(size) : 0u;
    share::MapFailure failure = share::MapFailure::None;
    int error = 0;
    std::unique_ptr<share::SegmentMapping> mapping = share::MapSegment(name, openExisting, wanted, failure, error);
    // A server that made the mutex for a segment it could not have takes the mutex's name away
    // again; a client never does, as a server may have come meanwhile.
    const auto dropMutex = [&] {
        const bool made = !openExisting && mutex->Created();
        mutex.reset();
        if (made) share::RemoveNamedMutex(mutexName);
    };
    if (!mapping) {
        dropMutex();
        if (failure == share::MapFailure::InUse)
            KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: Shared memory segment already in use\n");
        else if (failure == share::MapFailure::NoView)
            KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: Unable to map shared memory segment, err=%d\n", error);
        else
            KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: Unable to access shared memory segment, err=%d\n",
                   error);
        return false;
    }
    if (mapping->Existed() && !openExisting)
        KC_LOG(2, "CSharedMemory::CSharedMemory: WARNING: Shared memory segment already exists\n");
    // An existing segment of the same name may be smaller than this image.
    if (mapping->RegionSize() < wanted) {
        KC_LOG(1, "CSharedMemory::CSharedMemory: ERROR: Failed allocate required size shared memory for image\n");
        mapping.reset();
        dropMutex();
        return false;
    }
    mapping_ = std::move(mapping);
    mutex_ = std::move(mutex);
    size_ = wanted;
    name_ = name;
    initialized_ = true;
    return true;
}

void CSharedMemory::Release() {
    if (!initialized_) return;
    const bool created = !mapping_->Existed();
    // Released only by the thread that holds it; from any other the release would fail anyway.
    if (mutex_ && holder_.load() == std::this_thread::get_id()) mutex_->Unlock();
    holder_ = std::thread::id();
    mutex_.reset();
    mapping_.reset();
    if (created) share::RemoveNamedMutex(name_ + "Mutex");
    size_ = 0;
    name_.clear();
    initialized_ = false;
}

bool CSharedMemory::Lock() {
    if (!initialized_ || !mutex_) {
        KC_LOG(1, "CSharedMemory::Lock: object not initialized\n");
        throw "err";
    }
    if (!mutex_->Lock()) return false;
    holder_ = std::this_thread::get_id();
    return true;
}

bool CSharedMemory::Unlock() {
    if (!initialized_ || !mutex_) {
        KC_LOG(1, "CSharedMemory::Unlock: object not initialized\n");
        throw "err";
    }
    // Not held by this thread: the release fails, as the platform's would.
    if (holder_.load() != std::this_thread::get_id()) return false;
    holder_ = std::thread::id();
    return mutex_->Unlock();
}

bool CSharedMemory::Write(const void *source, size_t count) {
    if (!Fits(count) || source == nullptr) return false;
    if (!mutex_->Lock()) return false;
    std::memcpy(mapping_->View(), source, count);
    mutex_->Unlock();
    return true;
}

bool CSharedMemory::Read(void *destination, size_t count) {
    if (!Fits(count) || destination == nullptr) return false;
    if (!mutex_->Lock()) return false;
    std::memcpy(destination, mapping_->View(), count);
    mutex_->Unlock();
    return true;
}

share::LockResult CSharedMemory::WriteBounded(const void *source, size_t count, int timeoutMs,
                                              const share::WaitableEvent *stop) {
    if (!Fits(count) || source == nullptr) return share::LockResult::Failed;
    const share::LockResult locked = mutex_->LockFor(timeoutMs, stop);
    if (locked != share::LockResult::Acquired) return locked;
    std::memcpy(mapping_->View(), source, count);
    mutex_->Unlock();
    return locked;
}

} // namespace kestcam
