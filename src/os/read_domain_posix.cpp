// read_domain_posix.cpp - the process-wide barrier on Linux: membarrier's expedited private command.
// Elsewhere, or when the kernel refuses it, readers fence themselves. A thread's slots are handed
// back by a thread-local object's destructor when the thread ends.
#include "os/read_domain.h"

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kestcam::os {

namespace {

// Made on a thread's first read only; every later read finds its slot through the plain pointers
// of detail::t_readSlots.
struct SlotLeases {
    ReadDomain::Slot *held[ReadDomain::kMaxDomains] = {};
    ~SlotLeases() {
        for (int i = 0; i < ReadDomain::kMaxDomains; ++i) {
            if (held[i] == nullptr) continue;
            detail::t_readSlots[i] = nullptr;
            held[i]->owned.store(false, std::memory_order_release);
        }
    }
};
thread_local SlotLeases t_leases;

} // namespace

void ReadDomain::InitThreadSlots() {}

void ReadDomain::BindThreadSlot(Slot *slot) {
    t_leases.held[index_] = slot;
    detail::t_readSlots[index_] = slot;
}

#if defined(__linux__) && defined(__NR_membarrier)

bool RegisterProcessBarrier() {
    const long commands = syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
    return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

void ProcessBarrier() {
    // Registered, so it cannot fail. A full barrier on the calling thread as well.
    syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0);
}

#else

bool RegisterProcessBarrier() {
    return false;
}

void ProcessBarrier() {}

#endif

} // namespace kestcam::os
