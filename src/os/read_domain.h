// read_domain.h - readers that take no lock. A reader marks itself inside with plain stores to a
// slot of its own thread; a writer that has replaced what readers use waits, in Synchronize, until
// every reader that may still hold the old version has left, and only then frees it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "os/tls_model.h"

namespace kestcam::os {

// The platform's barrier that orders memory on every thread of the process at once (membarrier on
// Linux). True when it exists: readers then need no fence of their own.
bool RegisterProcessBarrier();
void ProcessBarrier();

class ReadDomain {
public:
    // Separate domains (the driver's rows, the simulator's buffers) keep their writers from waiting
    // for each other's readers; a thread holds one slot in each.
    static constexpr int kMaxDomains = 4;
    static constexpr std::size_t kScratchAlignment = 64;

    struct alignas(64) Slot {
        std::atomic<uint32_t> sequence{0}; // odd while the owning thread is inside
        std::atomic<bool> owned{false};
        Slot *next = nullptr; // fixed before the slot is linked in
        // The owner's scratch memory, aligned to a cache line for the vector kernels that read it;
        // kept with the slot when its thread ends.
        struct FreeAligned {
            void operator()(unsigned char *p) const { ::operator delete[](p, std::align_val_t{kScratchAlignment}); }
        };
        std::unique_ptr<unsigned char[], FreeAligned> scratch;
        size_t scratchSize = 0;
    };

    // Inside the domain for the object's lifetime. Not nested on one thread; nothing inside may wait
    // for a writer of the same domain (a writer waits for the reader).
    class Reader {
    public:
        explicit Reader(ReadDomain &domain) : slot_(domain.ThreadSlot()) {
            const uint32_t next = slot_->sequence.load(std::memory_order_relaxed) + 1;
            if (domain.readersFence_) {
                slot_->sequence.exchange(next, std::memory_order_seq_cst);
            } else {
                slot_->sequence.store(next, std::memory_order_relaxed);
                // The writer's process barrier orders this store before the loads that follow.
                std::atomic_signal_fence(std::memory_order_seq_cst);
            }
        }
        ~Reader() {
            slot_->sequence.store(slot_->sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        }
        Reader(const Reader &) = delete;
        Reader &operator=(const Reader &) = delete;

        // At least `bytes` of memory only this thread uses, or null when it cannot be had. Grows
        // rarely: a thread keeps the largest it asked for.
        void *Scratch(size_t bytes) {
            return bytes <= slot_->scratchSize ? slot_->scratch.get() : GrowScratch(bytes);
        }

    private:
        void *GrowScratch(size_t bytes);
        Slot *slot_;
    };

    // Domains live as long as the process: threads may still read when static objects are destroyed.
    // With frequentWriters, readers fence themselves and a writer needs no process barrier: for a
    // domain written once per frame, where a barrier on every write costs more than the fences.
    static ReadDomain &Create(bool frequentWriters = false);

    // Returns once every reader that was inside when it was called has left. What readers load
    // after a new version was stored (with at least release order) before the call is the new one.
    // Must not be called from inside this domain.
    void Synchronize();

    // Slots made so far: as many as threads have read at one time, since an ending thread hands its
    // slot back for the next new reader.
    size_t SlotCount() const;

    // Loads of what writers replace: sequentially consistent, which costs nothing on x86 and is
    // what the fallback without a process barrier needs.
    template <typename T> static T *Load(const std::atomic<T *> &published) {
        return published.load(std::memory_order_seq_cst);
    }

private:
    ReadDomain(int index, bool frequentWriters);
    Slot *ThreadSlot();
    Slot *AcquireSlot();
    // The platform's half: where a thread finds its slot again, and how the slot is handed back
    // when the thread ends.
    void InitThreadSlots();
    void BindThreadSlot(Slot *slot);

    const int index_;
    bool readersFence_ = false;
    std::atomic<Slot *> slots_{nullptr};
#if defined(_WIN32)
    // A fiber-local index whose callback hands the slot back. MinGW's thread_local objects with
    // destructors run their destructors from inside the pthread emulation's key clean-up, where
    // touching other thread-local data can leave an ending thread waiting for good.
    unsigned long flsIndex_ = ~0ul;
#endif
};

#if defined(_WIN32)
// Out of line: the lookup is the fiber-local value of the domain's index.
#else
namespace detail {
// This thread's slot in each domain; null until its first read.
KC_TLS_INITIAL_EXEC inline thread_local ReadDomain::Slot *t_readSlots[ReadDomain::kMaxDomains] = {};
} // namespace detail

inline ReadDomain::Slot *ReadDomain::ThreadSlot() {
    Slot *slot = detail::t_readSlots[index_];
    return slot != nullptr ? slot : AcquireSlot();
}
#endif

} // namespace kestcam::os
