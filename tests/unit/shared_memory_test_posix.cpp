// The POSIX mutex object as clients written from the contract make it: any object that holds a
// robust, process-shared pthread mutex at offset 0 is the segment's mutex, whatever its size beyond
// that; a smaller one is no mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "driver/logger.h"
#include "share/shared_memory.h"
#include "share/waitable.h"
#include "support/contract_mutex.h"

namespace kestcam {
namespace {

std::vector<std::string> g_lines;
void KESTCAM_CDECL Capture(const char *text) {
    g_lines.emplace_back(text);
}

struct ContractCase {
    const char *label;
    size_t size;
    bool accepted;
};

void PrintTo(const ContractCase &c, std::ostream *os) {
    *os << c.label;
}

class SharedMemoryContractMutex : public ::testing::TestWithParam<ContractCase> {
protected:
    void SetUp() override {
        g_lines.clear();
        Logger::Instance().SetLogLevel(3);
        Logger::Instance().SetDebugMsgProc(&Capture);
    }
    void TearDown() override { Logger::Instance().SetDebugMsgProc(nullptr); }

    const std::string name_ = "kcunitmx-" +
                              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
};

TEST_P(SharedMemoryContractMutex, IsTheSegmentsMutexWhenItHoldsOne) {
    const ContractCase &c = GetParam();
    test::ContractMutex contract(name_ + "Mutex", c.size);
    ASSERT_TRUE(contract.Made());
    CSharedMemory segment;
    ASSERT_EQ(segment.Create(name_.c_str(), false, 64), c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(g_lines.back(), "CSharedMemory::CSharedMemory: ERROR: Could not allocate mutex object " + name_ +
                                      "Mutex\n");
        return;
    }
    // Held through the contract's own mapping on another thread, it keeps the segment's copy out.
    std::promise<void> held;
    std::promise<void> release;
    std::thread holder([&] {
        pthread_mutex_lock(contract.Mutex());
        held.set_value();
        release.get_future().wait();
        pthread_mutex_unlock(contract.Mutex());
    });
    held.get_future().wait();
    share::WaitableEvent stop;
    EXPECT_EQ(segment.WriteBounded("abc", 3, 30, &stop), share::LockResult::TimedOut);
    release.set_value();
    holder.join();
    EXPECT_EQ(segment.WriteBounded("abc", 3, 60000, &stop), share::LockResult::Acquired);
}

INSTANTIATE_TEST_SUITE_P(SharedMemory, SharedMemoryContractMutex,
                         ::testing::Values(ContractCase{"JustTheMutex", sizeof(pthread_mutex_t), true},
                                           ContractCase{"AWholePage", 4096, true},
                                           ContractCase{"SmallerThanAMutex", sizeof(pthread_mutex_t) / 2, false}),
                         [](const ::testing::TestParamInfo<ContractCase> &info) { return info.param.label; });

} // namespace
} // namespace kestcam
