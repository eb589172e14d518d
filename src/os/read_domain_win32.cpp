// read_domain_win32.cpp - readers fence themselves on Windows (FlushProcessWriteBuffers would spare
// them the fence, but Wine, under which the Windows tests run, does not implement it). A thread
// finds its slot through a fiber-local value whose callback hands the slot back when the thread (or
// fiber) ends; the callback touches nothing but the slot.
#include "os/read_domain.h"

#include <windows.h>

namespace kestcam::os {

namespace {

void NTAPI HandBack(void *slot) {
    if (slot != nullptr) static_cast<ReadDomain::Slot *>(slot)->owned.store(false, std::memory_order_release);
}

// Only when the process has run out of fiber-local indexes: the slot stays with its thread's
// memory after the thread ends instead of being handed back.
thread_local ReadDomain::Slot *t_keptSlots[ReadDomain::kMaxDomains] = {};

// The indexes are freed when the module is unloaded, so that no ending thread calls back into code
// that is gone. Freeing calls the callback for every thread's slot; a thread that reads afterwards
// (static objects being destroyed at process exit) keeps its slot in t_keptSlots.
struct FiberIndexes {
    DWORD index[ReadDomain::kMaxDomains];
    int count = 0;
    ~FiberIndexes() {
        for (int i = 0; i < count; ++i) FlsFree(index[i]);
    }
} g_fiberIndexes;

} // namespace

bool RegisterProcessBarrier() {
    return false;
}

void ProcessBarrier() {}

// Called under the lock that makes domains.
void ReadDomain::InitThreadSlots() {
    flsIndex_ = FlsAlloc(HandBack);
    if (flsIndex_ != FLS_OUT_OF_INDEXES) g_fiberIndexes.index[g_fiberIndexes.count++] = flsIndex_;
}

ReadDomain::Slot *ReadDomain::ThreadSlot() {
    Slot *slot = flsIndex_ != FLS_OUT_OF_INDEXES ? static_cast<Slot *>(FlsGetValue(flsIndex_)) : nullptr;
    if (slot == nullptr) slot = t_keptSlots[index_];
    return slot != nullptr ? slot : AcquireSlot();
}

void ReadDomain::BindThreadSlot(Slot *slot) {
    if (flsIndex_ == FLS_OUT_OF_INDEXES || !FlsSetValue(flsIndex_, slot)) t_keptSlots[index_] = slot;
}

} // namespace kestcam::os
