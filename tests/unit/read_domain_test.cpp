// The read domain's slots: a thread that ends hands its slot (and its scratch memory) back to the
// next thread, so a host that starts a thread per frame does not grow the list every writer walks.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "os/read_domain.h"

namespace kestcam::os {
namespace {

TEST(ReadDomain, EndedThreadsHandTheirSlotsBack) {
    static ReadDomain &domain = ReadDomain::Create();
    void *firstScratch = nullptr;
    for (int i = 0; i < 40; ++i) {
        std::thread reader([&] {
            ReadDomain::Reader inside(domain);
            void *scratch = inside.Scratch(256);
            ASSERT_NE(scratch, nullptr);
            // The row kernels' vector loads never straddle a cache line at the start of the row.
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(scratch) % ReadDomain::kScratchAlignment, 0u);
            if (i == 0) firstScratch = scratch;
            // One thread after the other: each takes the slot the last one gave back, scratch included.
            EXPECT_EQ(scratch, firstScratch) << "thread " << i;
        });
        reader.join();
    }
    EXPECT_EQ(domain.SlotCount(), 1u);
    // A writer has no reader left to wait for.
    domain.Synchronize();
}

} // namespace
} // namespace kestcam::os
