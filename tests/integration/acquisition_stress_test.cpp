// Acquisition under concurrency: repeated open/grab/read/close cycles, simultaneous requests from
// two host threads, close and finalize while grabs run, host threads sharing one camera, readers
// of one camera's 16-bit rows, and completion callbacks that call back into the driver.
// Bounded: a few hundred cycles; every wait has a limit.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

// Lets n threads leave together.
class StartGate {
public:
    explicit StartGate(int n) : waiting_(n) {}
    void ArriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0) {
            changed_.notify_all();
            return;
        }
        changed_.wait(lock, [&] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_;
};

class AcquisitionStress : public AcquisitionTest {
protected:
    std::vector<uint8_t> RampRow(int width, int y, int64_t f, int bits = 8) {
        std::vector<uint8_t> out;
        for (int x = 0; x < width; ++x)
            out.push_back(static_cast<uint8_t>(Ramp(x, y, f, 0, bits)));
        return out;
    }
    // Nothing ever ran a grab on a freed digitizer or buffer.
    void ExpectNoGrabOnFreedObjects() {
        EXPECT_FALSE(Log().Contains("freed during the grab"));
        EXPECT_FALSE(Log().Contains("is not a digitizer"));
        EXPECT_FALSE(Log().Contains("is not a buffer"));
    }
};

TEST_F(AcquisitionStress, ManyOpenGrabReadCloseCycles) {
    UseOneDigitizer("Width = 64\nHeight = 8");
    WriteSettings("Camera 1", "HeightMultiplier=2\nLogLevel=1\n");
    ASSERT_EQ(Initialize(), 1);
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_TRUE(Open("Camera 1", cycle % 20)) << "cycle " << cycle;
        ASSERT_TRUE(GrabAndWait(cycle % 20)) << "cycle " << cycle;
        for (int r = 0; r < rows_; ++r)
            ASSERT_EQ(Row(cycle % 20, r), RampRow(64, r % 8, r / 8)) << "cycle " << cycle << " row " << r;
        Driver().closeCVLPort(0, cycle % 20);
    }
    ExpectNoGrabOnFreedObjects();
}

TEST_F(AcquisitionStress, OfTwoSimultaneousRequestsExactlyOneIsAccepted) {
    // A grab that does not end by itself keeps the first request in progress while the second
    // arrives, however the two threads are scheduled; the close ends it.
    UseOneDigitizer("Width = 32\nHeight = 2\nFrameTimeMs = 600000");
    WriteSettings("Camera 1", "GrabTimeout=60000\nLogLevel=1\n");
    ASSERT_EQ(Initialize(), 1);
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(Open("Camera 1", 1));
        StartGate gate(2);
        std::atomic<int> accepted{0};
        auto request = [&] {
            gate.ArriveAndWait();
            accepted += Driver().doCVLGrab(0, 1);
        };
        std::thread a(request);
        std::thread b(request);
        a.join();
        b.join();
        EXPECT_EQ(accepted.load(), 1) << "round " << round;
        Driver().closeCVLPort(0, 1);
    }
    EXPECT_EQ(Calls().Count(1), 0);
    ExpectNoGrabOnFreedObjects();
}

TEST_F(AcquisitionStress, CloseWhileGrabbing) {
    UseOneDigitizer("Width = 64\nHeight = 8\nFrameTimeMs = 15");
    WriteSettings("Camera 1", "HeightMultiplier=3\nLogLevel=3\n");
    ASSERT_EQ(Initialize(), 1);
    for (int cycle = 0; cycle < 60; ++cycle) {
        ASSERT_TRUE(Open("Camera 1", 2));
        Log().Clear();
        const int before = Calls().Count(2);
        ASSERT_EQ(Driver().doCVLGrab(0, 2), 1);
        // Close at the request, once the grab has begun, or after it completed.
        if (cycle % 3 == 1) {
            ASSERT_TRUE(Log().WaitFor("GrabThread::ThreadMain: grabbing starts"));
        } else if (cycle % 3 == 2) {
            ASSERT_TRUE(Calls().WaitFor(2, before + 1));
        }
        Driver().closeCVLPort(0, 2);
        ASSERT_FALSE(Log().Contains("GrabThread::Destroy: WARNING")) << "cycle " << cycle;
        ExpectNoGrabOnFreedObjects();
    }
    // No stopped sequence was taken for a library failure.
    EXPECT_FALSE(Log().Contains("Grab_MdigProcess: ERROR"));
    ASSERT_TRUE(Open("Camera 1", 2));
    ASSERT_TRUE(GrabAndWait(2));
    EXPECT_EQ(Row(2, 23), RampRow(64, 7, 2));
}

TEST_F(AcquisitionStress, FinalizeWhileGrabbing) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDigitizers = 3\n"
                 "[System 0 Digitizer 0]\nWidth = 64\nHeight = 8\nFrameTimeMs = 10\n"
                 "[System 0 Digitizer 1]\nWidth = 64\nHeight = 8\nFrameTimeMs = 25\nBits = 12\n"
                 "[System 0 Digitizer 2]\nWidth = 64\nHeight = 8\nBands = 3\nFrameTimeMs = 5\n");
    for (const char *camera : {"Camera 1", "Camera 2", "Camera 3"})
        WriteSettings(camera, "HeightMultiplier=2\nLogLevel=1\n");
    for (int cycle = 0; cycle < 40; ++cycle) {
        ASSERT_EQ(Initialize(), 1);
        ASSERT_TRUE(Open("Camera 1", 0));
        ASSERT_TRUE(Open("Camera 2", 1));
        ASSERT_TRUE(Open("Camera 3", 2));
        const int before = Calls().Count(0);
        for (int port = 0; port < 3; ++port)
            ASSERT_EQ(Driver().doCVLGrab(0, port), 1);
        if (cycle % 2 == 1) {
            ASSERT_TRUE(Calls().WaitFor(0, before + 1));
        }
        ASSERT_EQ(Driver().finalize(), 1);
        EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    }
    ExpectNoGrabOnFreedObjects();
}

TEST_F(AcquisitionStress, TwoReadersOfSixteenBitRowsEachGetTheirOwnRows) {
    WriteSettings("Camera 2", "Use16bit=1\nShift16bit=0\nLogLevel=1\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 3));
    ASSERT_TRUE(GrabAndWait(3));
    std::vector<std::vector<uint8_t>> expected;
    for (int y = 0; y < 1000; ++y)
        expected.push_back(RampRow(2048, y, 0, 12));

    StartGate gate(2);
    std::atomic<int> mismatches{0};
    auto reader = [&](int start) {
        std::vector<uint8_t> row(2048);
        gate.ArriveAndWait();
        for (int pass = 0; pass < 5; ++pass)
            for (int i = 0; i < 1000; ++i) {
                const int y = (start + i * 7) % 1000; // the two readers visit different rows
                if (Driver().getCVLGrabRow(0, 3, row.data(), y, 0, 2047) != 1 || row != expected[y]) ++mismatches;
            }
    };
    std::thread a(reader, 0);
    std::thread b(reader, 500);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(AcquisitionStress, HostThreadsGrabReadAndCloseOneCameraAtOnce) {
    UseOneDigitizer("Width = 64\nHeight = 8\nFrameTimeMs = 2");
    WriteSettings("Camera 1", "HeightMultiplier=2\nLogLevel=1\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 4));
    std::atomic<int> finished{0};
    std::thread grabber([&] {
        for (int i = 0; i < 3000; ++i) {
            Driver().doCVLGrab(0, 4);
            std::this_thread::yield();
        }
        ++finished;
    });
    std::thread reader([&] {
        std::vector<uint8_t> row(64);
        for (int i = 0; i < 3000; ++i) {
            Driver().getCVLGrabRow(0, 4, row.data(), i % 16, 0, 63);
            std::this_thread::yield();
        }
        ++finished;
    });
    for (int cycle = 0; cycle < 40 || finished < 2; ++cycle) {
        Driver().closeCVLPort(0, 4);
        ASSERT_TRUE(OpenWithoutCallback("Camera 1", 4)) << "cycle " << cycle;
    }
    grabber.join();
    reader.join();
    ExpectNoGrabOnFreedObjects();
    EXPECT_FALSE(Log().Contains("GrabThread::Destroy: WARNING"));
    // The camera came through in working order.
    Driver().closeCVLPort(0, 4);
    ASSERT_TRUE(OpenWithoutCallback("Camera 1", 4));
    ASSERT_TRUE(GrabAndWait(4));
    EXPECT_EQ(Row(4, 9), RampRow(64, 1, 1));
}

TEST_F(AcquisitionStress, ClosingWhileTheCallbackKeepsRequestingGrabs) {
    UseOneDigitizer("Width = 64\nHeight = 8");
    WriteSettings("Camera 1", "LogLevel=1\n");
    ASSERT_EQ(Initialize(), 1);
    for (int cycle = 0; cycle < 30; ++cycle) {
        ASSERT_TRUE(Open("Camera 1", 6));
        Calls().SetHook([](int port) { Driver().doCVLGrab(0, port); });
        const int before = Calls().Count(6);
        ASSERT_EQ(Driver().doCVLGrab(0, 6), 1);
        ASSERT_TRUE(Calls().WaitFor(6, before + 5));
        // The close must not wait for the callback while the callback waits for the close.
        Driver().closeCVLPort(0, 6);
        Calls().SetHook(nullptr);
    }
    ExpectNoGrabOnFreedObjects();
}

TEST_F(AcquisitionStress, ACallbackClosingItsOwnCameraClosesItWithoutDeadlocking) {
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 8));
    Calls().SetHook([](int port) { Driver().closeCVLPort(0, port); });
    ASSERT_EQ(Driver().doCVLGrab(0, 8), 1);
    ASSERT_TRUE(Log().WaitFor("closeCVLPort: grabberNo=0, portNo=8\n"));
    EXPECT_TRUE(Log().Contains("MilDigitizer::Close\n"));
    Calls().SetHook(nullptr);
    // Closed: the port is free, and the camera opens on it anew with a thread of its own.
    EXPECT_EQ(Driver().doCVLGrab(0, 8), 0);
    ASSERT_TRUE(Open("Camera 1", 8));
    ASSERT_TRUE(GrabAndWait(8));
    Driver().closeCVLPort(0, 8);
    ExpectNoGrabOnFreedObjects();
}

TEST_F(AcquisitionStress, ACallbackThatFinalizesTheDriverLeavesNothingRunningOnFreedCameras) {
    UseOneDigitizer("Width = 64\nHeight = 8");
    WriteSettings("Camera 1", "LogLevel=2\n");
    for (int cycle = 0; cycle < 10; ++cycle) {
        ASSERT_EQ(Initialize(), 1);
        ASSERT_TRUE(Open("Camera 1", 9));
        std::mutex mutex;
        std::condition_variable finished;
        bool finalized = false;
        Calls().SetHook([&](int) {
            Driver().finalize();
            std::lock_guard<std::mutex> lock(mutex);
            finalized = true;
            finished.notify_all();
        });
        ASSERT_EQ(Driver().doCVLGrab(0, 9), 1);
        {
            std::unique_lock<std::mutex> lock(mutex);
            ASSERT_TRUE(finished.wait_for(lock, kCallbackBound, [&] { return finalized; }));
        }
        Calls().SetHook(nullptr);
        EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
        EXPECT_TRUE(Log().Contains(
            "GrabThread::Destroy: WARNING: destroyed from its own completion callback on port=9\n"));
    }
}

} // namespace
} // namespace kestcam::test
