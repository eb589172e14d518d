// shared_memory_win32.cpp - segments are named file mappings backed by the paging file, mapped
// whole; the mutex is a named Win32 mutex. Both names are plain names of the local namespace.
#include "share/shared_memory_platform.h"

#include <windows.h>

#include "share/waitable.h"

namespace kestcam::share {

namespace {

constexpr DWORD kAllAccess = 0xF001F; // FILE_MAP_ALL_ACCESS

class Win32Mutex : public NamedMutex {
public:
    Win32Mutex(HANDLE handle, bool created) : handle_(handle), created_(created) {}
    ~Win32Mutex() override { CloseHandle(handle_); }

    // An abandoned mutex counts as acquired.
    bool Lock() override {
        const DWORD rc = WaitForSingleObject(handle_, INFINITE);
        return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
    }

    LockResult LockFor(int timeoutMs, const WaitableEvent *stop) override {
        HANDLE handles[2] = {handle_, nullptr};
        DWORD count = 1;
        if (stop != nullptr && stop->IsValid()) {
            handles[1] = reinterpret_cast<HANDLE>(stop->AsWaitable().native);
            count = 2;
        }
        const DWORD rc = WaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(timeoutMs));
        if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED_0) return LockResult::Acquired;
        if (rc == WAIT_OBJECT_0 + 1) return LockResult::Stopped;
        if (rc == WAIT_TIMEOUT) return LockResult::TimedOut;
        return LockResult::Failed;
    }

    bool Unlock() override { return ReleaseMutex(handle_) != FALSE; }
    bool Created() const override { return created_; }

private:
    HANDLE handle_;
    bool created_;
};

class Win32Mapping : public SegmentMapping {
public:
    Win32Mapping(HANDLE mapping, uint8_t *view, size_t size, bool existed)
        : mapping_(mapping), view_(view), size_(size), existed_(existed) {}
    ~Win32Mapping() override {
        UnmapViewOfFile(view_);
        CloseHandle(mapping_);
    }
    uint8_t *View() const override { return view_; }
    size_t RegionSize() const override { return size_; }
    bool Existed() const override { return existed_; }

private:
    HANDLE mapping_;
    uint8_t *view_;
    size_t size_;
    bool existed_;
};

} // namespace

std::unique_ptr<NamedMutex> CreateNamedMutex(const std::string &name) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) return nullptr;
    return std::make_unique<Win32Mutex>(mutex, GetLastError() != ERROR_ALREADY_EXISTS);
}

void RemoveNamedMutex(const std::string &) {
    // A Windows object goes with its last handle.
}

bool RemoveLeftObjects(const std::string &, bool (*)(const std::string &)) {
    // Nothing outlives its last handle: a server that ended left nothing behind.
    return true;
}

std::unique_ptr<SegmentMapping> MapSegment(const std::string &name, bool openExisting, unsigned size,
                                           MapFailure &failure, int &error) {
    failure = MapFailure::None;
    error = 0;
    HANDLE mapping = openExisting ? OpenFileMappingA(kAllAccess, TRUE, name.c_str())
                                  : CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                       static_cast<DWORD>(size), name.c_str());
    // Taken at once: the next call may change it.
    const DWORD lastError = GetLastError();
    if (mapping == nullptr) {
        error = static_cast<int>(lastError);
        // The name belongs to an object of another kind.
        failure = lastError == ERROR_INVALID_HANDLE ? MapFailure::InUse : MapFailure::NoAccess;
        return nullptr;
    }
    const bool existed = openExisting || lastError == ERROR_ALREADY_EXISTS;
    void *view = MapViewOfFile(mapping, kAllAccess, 0, 0, 0);
    if (view == nullptr) {
        error = static_cast<int>(GetLastError());
        CloseHandle(mapping);
        failure = MapFailure::NoView;
        return nullptr;
    }
    MEMORY_BASIC_INFORMATION region{};
    const size_t regionSize = VirtualQuery(view, &region, sizeof region) != 0 ? region.RegionSize : 0;
    return std::make_unique<Win32Mapping>(mapping, static_cast<uint8_t *>(view), regionSize, existed);
}

} // namespace kestcam::share
