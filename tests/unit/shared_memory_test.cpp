// The shared segment and its mutex on the platform's real objects: what Create accepts and
// refuses with which message, that a failure holds nothing, the bounded copy, and that an owner
// that went away without unlocking leaves the mutex acquirable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/logger.h"
#include "share/shared_memory.h"
#include "share/waitable.h"

namespace kestcam {
namespace {

std::vector<std::string> g_lines;
void KESTCAM_CDECL Capture(const char *text) {
    g_lines.emplace_back(text);
}

// Share names are machine-wide objects: one per test and run, as ctest runs several at once.
std::string UniqueName() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007;
    return "kcunit-" + std::to_string(stamp) + "-" + std::to_string(counter++);
}

class SharedMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        Logger::Instance().SetLogLevel(3);
        Logger::Instance().SetDebugMsgProc(&Capture);
    }
    void TearDown() override {
        Logger::Instance().SetDebugMsgProc(nullptr);
        // A client that found no segment leaves the mutex name it made.
        share::RemoveNamedMutex(name_ + "Mutex");
    }
    bool Logged(const std::string &text) const {
        for (const std::string &line : g_lines)
            if (line == text) return true;
        return false;
    }
    const std::string name_ = UniqueName();
};

struct CreateCase {
    const char *label;
    int existingSize; // 0: nothing created before
    bool openExisting;
    int size;
    bool ok;
    const char *message; // logged by the second Create; empty for none
};

// The case's label where a test list shows the parameter.
void PrintTo(const CreateCase &c, std::ostream *os) {
    *os << c.label;
}

class SharedMemoryCreate : public SharedMemoryTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(SharedMemoryCreate, AcceptsOrRefusesWithItsMessage) {
    const CreateCase &c = GetParam();
    CSharedMemory first;
    if (c.existingSize > 0) {
        ASSERT_TRUE(first.Create(name_.c_str(), false, c.existingSize));
    }
    g_lines.clear();
    CSharedMemory second;
    EXPECT_EQ(second.Create(name_.c_str(), c.openExisting, c.size), c.ok);
    EXPECT_EQ(second.IsInitialized(), c.ok);
    if (c.message[0] != '\0') {
        EXPECT_TRUE(Logged(c.message)) << ::testing::PrintToString(g_lines);
    }
    if (c.ok) {
        EXPECT_EQ(second.Size(), static_cast<unsigned>(c.size));
        EXPECT_GE(second.RegionSize(), static_cast<size_t>(c.existingSize > c.size ? c.existingSize : c.size));
        // Both objects see the same bytes.
        const char text[] = "frame";
        ASSERT_TRUE(second.Write(text, sizeof text));
        if (c.existingSize > 0) {
            EXPECT_STREQ(reinterpret_cast<const char *>(first.View()), text);
        }
    } else {
        EXPECT_EQ(second.View(), nullptr);
        EXPECT_FALSE(second.Write("x", 1));
    }
}

const char kSizeMessage[] =
    "CSharedMemory::CSharedMemory: ERROR: when creating, size must be postive and non-zero\n";
const char kExistsMessage[] = "CSharedMemory::CSharedMemory: WARNING: Shared memory segment already exists\n";
const char kSmallMessage[] =
    "CSharedMemory::CSharedMemory: ERROR: Failed allocate required size shared memory for image\n";
const char kNoSegment[] = "CSharedMemory::CSharedMemory: ERROR: Unable to access shared memory segment, err=2\n";

INSTANTIATE_TEST_SUITE_P(
    SharedMemory, SharedMemoryCreate,
    ::testing::Values(CreateCase{"SizeZeroWhenCreating", 0, false, 0, false, kSizeMessage},
                      CreateCase{"SizeZeroWhenOpeningAnExistingOne", 4096, true, 0, true, ""},
                      CreateCase{"OpeningAMissingOne", 0, true, 0, false, kNoSegment},
                      CreateCase{"AnExistingLargerOneIsReused", 8192, false, 4096, true, kExistsMessage},
                      CreateCase{"AnExistingSmallerOneIsRefused", 4096, false, 100000, false, kSmallMessage},
                      CreateCase{"OpeningOneSmallerThanNeeded", 4096, true, 100000, false, kSmallMessage}),
    [](const ::testing::TestParamInfo<CreateCase> &info) { return std::string(info.param.label); });

TEST_F(SharedMemoryTest, ANameOfAnotherKindOfObjectIsInUseAndAnEmptyNameIsRefused) {
    CSharedMemory owner;
    ASSERT_TRUE(owner.Create(name_.c_str(), false, 64));
    // The segment "<name>Mutex" would be the owner's mutex object.
    CSharedMemory other;
    EXPECT_FALSE(other.Create((name_ + "Mutex").c_str(), false, 64));
    EXPECT_TRUE(Logged("CSharedMemory::CSharedMemory: ERROR: Shared memory segment already in use\n"))
        << ::testing::PrintToString(g_lines);
    EXPECT_FALSE(other.Create("", false, 64));
    EXPECT_FALSE(other.Create(nullptr, false, 64));
    EXPECT_TRUE(Logged("CSharedMemory::CSharedMemory: ERROR: name is empty\n"));
}

TEST_F(SharedMemoryTest, LockAndUnlockOfAnObjectNeverCreatedThrowTheStringErr) {
    CSharedMemory never;
    never.Release();
    EXPECT_THROW(never.Lock(), const char *);
    EXPECT_THROW(never.Unlock(), const char *);
    EXPECT_TRUE(Logged("CSharedMemory::Lock: object not initialized\n"));
    EXPECT_TRUE(Logged("CSharedMemory::Unlock: object not initialized\n"));
}

TEST_F(SharedMemoryTest, ACopyLargerThanTheSegmentIsRefused) {
    CSharedMemory segment;
    ASSERT_TRUE(segment.Create(name_.c_str(), false, 100));
    std::vector<char> big(segment.RegionSize() + 1, 'x');
    EXPECT_FALSE(segment.Write(big.data(), big.size()));
    EXPECT_FALSE(segment.Read(big.data(), big.size()));
    EXPECT_TRUE(segment.Read(big.data(), segment.RegionSize()));
}

// Holds the mutex of a second object on its own thread, as a client process would.
class Holder {
public:
    explicit Holder(const std::string &name) : thread_([this, name] { Run(name); }) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return locked_; });
    }
    ~Holder() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            release_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    void Run(const std::string &name) {
        CSharedMemory segment;
        segment.Create(name.c_str(), true, 0);
        segment.Lock();
        std::unique_lock<std::mutex> lock(mutex_);
        locked_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return release_; });
        segment.Unlock();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool locked_ = false;
    bool release_ = false;
    std::thread thread_;
};

TEST_F(SharedMemoryTest, ABoundedCopyEndsAtItsTimeOutOrAtTheStopEventWhileAClientHoldsTheMutex) {
    CSharedMemory segment;
    ASSERT_TRUE(segment.Create(name_.c_str(), false, 16));
    share::WaitableEvent stop;
    {
        Holder holder(name_);
        EXPECT_EQ(segment.WriteBounded("abc", 3, 30, &stop), share::LockResult::TimedOut);
        stop.Set();
        EXPECT_EQ(segment.WriteBounded("abc", 3, 60000, &stop), share::LockResult::Stopped);
        stop.Reset();
    }
    EXPECT_EQ(segment.WriteBounded("abc", 3, 60000, &stop), share::LockResult::Acquired);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(segment.View()), 3), "abc");
}

TEST_F(SharedMemoryTest, AnOwnerThatWentAwayHoldingTheMutexLeavesItAcquirable) {
    CSharedMemory segment;
    ASSERT_TRUE(segment.Create(name_.c_str(), false, 16));
    CSharedMemory client;
    ASSERT_TRUE(client.Create(name_.c_str(), true, 16));
    std::thread([&] { client.Lock(); }).join();
    share::WaitableEvent stop;
    EXPECT_EQ(segment.WriteBounded("z", 1, 10000, &stop), share::LockResult::Acquired);
    EXPECT_TRUE(segment.Lock());
    EXPECT_TRUE(segment.Unlock());
}

} // namespace
} // namespace kestcam
