// read_domain.cpp - slots of the read domains and the writers' wait for the readers.
#include "os/read_domain.h"

#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace kestcam::os {

namespace {

std::mutex g_createMutex;
int g_domains = 0;

} // namespace

ReadDomain::ReadDomain(int index, bool frequentWriters) : index_(index) {
    // Decided once for the process, before any reader of this domain runs.
    static const bool processBarrier = RegisterProcessBarrier();
    readersFence_ = frequentWriters || !processBarrier;
    InitThreadSlots();
}

ReadDomain &ReadDomain::Create(bool frequentWriters) {
    std::lock_guard<std::mutex> lock(g_createMutex);
    if (g_domains >= kMaxDomains) std::terminate(); // a fixed number of domains, made at start-up
    return *new ReadDomain(g_domains++, frequentWriters);
}

ReadDomain::Slot *ReadDomain::AcquireSlot() {
    Slot *slot = nullptr;
    for (Slot *s = slots_.load(std::memory_order_acquire); s != nullptr && slot == nullptr; s = s->next) {
        bool idle = false;
        if (s->owned.compare_exchange_strong(idle, true, std::memory_order_acquire)) slot = s;
    }
    if (slot == nullptr) {
        slot = new Slot();
        slot->owned.store(true, std::memory_order_relaxed);
        Slot *head = slots_.load(std::memory_order_relaxed);
        do {
            slot->next = head;
        } while (!slots_.compare_exchange_weak(head, slot, std::memory_order_release, std::memory_order_relaxed));
    }
    BindThreadSlot(slot);
    return slot;
}

void *ReadDomain::Reader::GrowScratch(size_t bytes) {
    std::unique_ptr<unsigned char[], Slot::FreeAligned> grown(static_cast<unsigned char *>(
        ::operator new[](bytes, std::align_val_t{kScratchAlignment}, std::nothrow)));
    if (!grown) return nullptr;
    slot_->scratch = std::move(grown);
    slot_->scratchSize = bytes;
    return slot_->scratch.get();
}

size_t ReadDomain::SlotCount() const {
    size_t count = 0;
    for (Slot *s = slots_.load(std::memory_order_acquire); s != nullptr; s = s->next) ++count;
    return count;
}

void ReadDomain::Synchronize() {
    if (!readersFence_) ProcessBarrier();
    for (Slot *s = slots_.load(std::memory_order_acquire); s != nullptr; s = s->next) {
        const uint32_t seen = s->sequence.load(std::memory_order_seq_cst);
        if ((seen & 1u) == 0) continue;
        // That reader entered before the new version was visible to it: wait for it to leave. A
        // reader that is not running (preempted on a busy machine) gets the processor.
        for (int spins = 0; s->sequence.load(std::memory_order_acquire) == seen; ++spins)
            if (spins >= 64) std::this_thread::yield();
    }
}

} // namespace kestcam::os
