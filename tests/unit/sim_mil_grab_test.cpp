// sim_mil_grab_test.cpp - the simulated imaging library's buffers and grabs: the ramp pattern,
// frame numbering, faults, time-outs, stopping, and safe row copies.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/sim_test_util.h"

namespace kestcam::test {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

// Generous bounds: they only turn a hang into a failure on a slow, loaded machine.
constexpr auto kBound = 30s;

class SimMilGrabTest : public SimMilTest {
protected:
    // Grabs still running when a test ends (a failed assertion) are cut short by the reset
    // before their threads are waited for.
    void TearDown() override {
        sim::ResetSimulator();
        for (auto &thread : threads_)
            thread.wait();
        SimMilTest::TearDown();
    }

    // One board with one digitizer whose keys are given as INI lines.
    MilId OpenDigitizer(const std::string &digitizerKeys, const std::string &faults = "") {
        UseConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\n[System 0 Digitizer 0]\n" + digitizerKeys +
                  "\n[Faults]\n" + faults + "\n");
        if (AllocApp() == 0) return 0;
        system_ = AllocSystem();
        return AllocDigitizer(system_, 0);
    }
    MilId Buffer(MilInt width, MilInt height, MilInt bits) {
        return mil.MbufAlloc2d(system_, width, height, bits, mil::kImageGrab, nullptr);
    }
    MilId ColourBuffer(MilInt width, MilInt height) {
        return mil.MbufAllocColor(system_, 3, width, height, 8, mil::kImageGrab, nullptr);
    }
    std::vector<uint8_t> Read8(MilId buffer, int width, int height) {
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
        mil.MbufGet2d(buffer, 0, 0, width, height, pixels.data());
        return pixels;
    }
    // Reads 16-bit samples byte by byte: the copy promises little-endian order.
    std::vector<uint16_t> Read16(MilId buffer, int width, int height) {
        std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * 2);
        mil.MbufGet2d(buffer, 0, 0, width, height, bytes.data());
        std::vector<uint16_t> samples(bytes.size() / 2);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        return samples;
    }
    // Counts the samples of an 8-bit frame that differ from frame f of the ramp.
    int Mismatches8(const std::vector<uint8_t> &pixels, int width, int height, int64_t f, int bits,
                    int shift = 0) {
        int bad = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bad += pixels[static_cast<size_t>(y) * width + x] != (RampValue(x, y, f, 0, bits) >> shift);
        return bad;
    }
    // Runs a call on another thread and hands back that thread's error text ("" for none). The
    // call must capture by value: it may outlive the test body.
    std::shared_future<std::string> OnOtherThread(std::function<void()> call) {
        threads_.push_back(std::async(std::launch::async, [this, call] {
                               call();
                               return ErrorPending() ? ErrorText() : std::string();
                           }).share());
        return threads_.back();
    }

    MilId system_ = 0;

private:
    std::list<std::shared_future<std::string>> threads_;
};

TEST_F(SimMilGrabTest, EightBitFrameHoldsTheRampWrappingAt256) {
    const MilId dig = OpenDigitizer("Width = 300\nHeight = 40\nBits = 8");
    ASSERT_NE(dig, 0);
    const MilId buf = Buffer(300, 40, 8);
    mil.MdigGrab(dig, buf);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_EQ(Mismatches8(Read8(buf, 300, 40), 300, 40, 0, 8), 0);
}

TEST_F(SimMilGrabTest, TwelveBitFrameInSixteenBitBufferWrapsAt4096) {
    const MilId dig = OpenDigitizer("Width = 4200\nHeight = 3\nBits = 12");
    const MilId buf = Buffer(4200, 3, 16);
    mil.MdigGrab(dig, buf);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    const std::vector<uint16_t> samples = Read16(buf, 4200, 3);
    int bad = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4200; ++x)
            bad += samples[static_cast<size_t>(y) * 4200 + x] != RampValue(x, y, 0, 0, 12);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(samples[4095], 4095);
    EXPECT_EQ(samples[4096], 0);
}

TEST_F(SimMilGrabTest, SixteenBitFrameWrapsAt65536) {
    const MilId dig = OpenDigitizer("Width = 4\nHeight = 21900\nBits = 16");
    const MilId buf = Buffer(4, 21900, 16);
    mil.MdigGrab(dig, buf);
    mil.MdigGrab(dig, buf);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    const std::vector<uint16_t> samples = Read16(buf, 4, 21900);
    int bad = 0;
    for (int y = 0; y < 21900; ++y)
        for (int x = 0; x < 4; ++x)
            bad += samples[static_cast<size_t>(y) * 4 + x] != RampValue(x, y, 1, 0, 16);
    EXPECT_EQ(bad, 0);
}

struct ShallowCase {
    int bits;
    int shift;
};
void PrintTo(const ShallowCase &c, std::ostream *os) {
    *os << c.bits << " bits, shift " << c.shift;
}

class SimMilShallowBufferTest : public SimMilGrabTest, public ::testing::WithParamInterface<ShallowCase> {};

TEST_P(SimMilShallowBufferTest, EightBitBufferReceivesTheValueShiftedRight) {
    const ShallowCase c = GetParam();
    const MilId dig = OpenDigitizer("Width = 700\nHeight = 30\nBits = " + std::to_string(c.bits));
    const MilId buf = Buffer(700, 30, 8);
    mil.MdigGrab(dig, buf);
    mil.MdigGrab(dig, buf);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_EQ(Mismatches8(Read8(buf, 700, 30), 700, 30, 1, c.bits, c.shift), 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, SimMilShallowBufferTest,
                         ::testing::Values(ShallowCase{8, 0}, ShallowCase{10, 2}, ShallowCase{12, 4},
                                           ShallowCase{16, 8}),
                         [](const ::testing::TestParamInfo<ShallowCase> &info) {
                             return "Bits" + std::to_string(info.param.bits);
                         });

TEST_F(SimMilGrabTest, ColourFrameReadsAsBlueGreenRed) {
    const MilId dig = OpenDigitizer("Width = 200\nHeight = 20\nBands = 3\nBits = 8");
    ASSERT_NE(dig, 0);
    const MilId buf = ColourBuffer(200, 20);
    mil.MdigGrab(dig, buf);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    std::vector<uint8_t> bgr(200 * 20 * 3);
    mil.MbufGetColor2d(buf, mil::kPackedBgr24, mil::kAllBands, 0, 0, 200, 20, bgr.data());
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    int bad = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 200; ++x) {
            const uint8_t *p = &bgr[(static_cast<size_t>(y) * 200 + x) * 3];
            bad += p[0] != RampValue(x, y, 0, 2, 8); // blue is band 2
            bad += p[1] != RampValue(x, y, 0, 1, 8);
            bad += p[2] != RampValue(x, y, 0, 0, 8); // red is band 0
        }
    }
    EXPECT_EQ(bad, 0);
}

// Spans whose starts and lengths leave every kind of tail of the row copy's vector steps: exactly the
// ramp's samples arrive, in 8 and 16 bits, and not a byte after them is written.
TEST_F(SimMilGrabTest, RowSpansOfEveryLengthArriveExactlyAndNothingBeyond) {
    const MilId dig = OpenDigitizer("Width = 8200\nHeight = 4\nBits = 12");
    const MilId buffers[2] = {Buffer(8200, 4, 8), Buffer(8200, 4, 16)};
    for (const MilId buffer : buffers)
        mil.MdigGrab(dig, buffer);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    const std::pair<int, int> spans[] = {{0, 9},   {3, 63},  {1, 64},    {0, 127},  {5, 128},       {2, 129},
                                         {0, 255}, {7, 257}, {11, 1000}, {0, 8200}, {13, 8200 - 13}};
    for (const auto &[x, width] : spans)
        for (int wide = 0; wide < 2; ++wide) {
            // The 12-bit camera's samples reach an 8-bit buffer without their four low bits; 16-bit
            // ones leave low byte first.
            std::vector<uint8_t> expected;
            for (int i = 0; i < width; ++i) {
                const uint32_t v = RampValue(x + i, 3, wide, 0, 12);
                if (wide == 0)
                    expected.push_back(static_cast<uint8_t>(v >> 4));
                else
                    expected.insert(expected.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
            }
            std::vector<uint8_t> out(expected.size() + 300, 0xA5);
            mil.MbufGet2d(buffers[wide], x, 3, width, 1, out.data());
            ASSERT_FALSE(ErrorPending()) << ErrorText();
            expected.resize(out.size(), 0xA5);
            EXPECT_TRUE(out == expected) << (wide ? 16 : 8) << "-bit span at " << x << " of " << width;
        }
}

TEST_F(SimMilGrabTest, ColourRowSpanStartsAtTheRequestedPixel) {
    const MilId dig = OpenDigitizer("Width = 64\nHeight = 8\nBands = 3");
    const MilId buf = ColourBuffer(64, 8);
    mil.MdigGrab(dig, buf);
    uint8_t bgr[3 * 4];
    mil.MbufGetColor2d(buf, mil::kPackedBgr24, mil::kAllBands, 10, 5, 4, 1, bgr);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bgr[3 * i], RampValue(10 + i, 5, 0, 2, 8));
        EXPECT_EQ(bgr[3 * i + 1], RampValue(10 + i, 5, 0, 1, 8));
        EXPECT_EQ(bgr[3 * i + 2], RampValue(10 + i, 5, 0, 0, 8));
    }
}

TEST_F(SimMilGrabTest, FramesAreNumberedAcrossGrabsAndRestartWithANewDigitizer) {
    MilId dig = OpenDigitizer("Width = 32\nHeight = 4");
    const MilId a = Buffer(32, 4, 8);
    const MilId b = Buffer(32, 4, 8);
    const MilId c = Buffer(32, 4, 8);
    mil.MdigGrab(dig, a); // frame 0
    MilId sequence[] = {b, c};
    mil.MdigProcess(dig, sequence, 2, mil::kSequence, mil::kSynchronous, nullptr, nullptr); // frames 1, 2
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_EQ(Mismatches8(Read8(a, 32, 4), 32, 4, 0, 8), 0);
    EXPECT_EQ(Mismatches8(Read8(b, 32, 4), 32, 4, 1, 8), 0);
    EXPECT_EQ(Mismatches8(Read8(c, 32, 4), 32, 4, 2, 8), 0);

    mil.MdigFree(dig);
    dig = AllocDigitizer(system_, 0);
    mil.MdigGrab(dig, a);
    EXPECT_EQ(Mismatches8(Read8(a, 32, 4), 32, 4, 0, 8), 0);
}

// A grab's frame reaches its buffer when the buffer is first read: a later grab before that read
// replaces it.
TEST_F(SimMilGrabTest, AFrameNotYetReadIsReplacedByALaterGrab) {
    const MilId dig = OpenDigitizer("Width = 64\nHeight = 3");
    const MilId buf = Buffer(64, 3, 8);
    mil.MdigGrab(dig, buf); // frame 0, never read
    mil.MdigGrab(dig, buf); // frame 1
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_EQ(Mismatches8(Read8(buf, 64, 3), 64, 3, 1, 8), 0);
}

// ... but only where the later frame covers it: outside a smaller image the earlier frame stays.
TEST_F(SimMilGrabTest, AFrameNotYetReadStaysOutsideASmallerLaterImage) {
    UseConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDigitizers = 2\n"
              "[System 0 Digitizer 0]\nWidth = 16\nHeight = 2\n[System 0 Digitizer 1]\nWidth = 8\nHeight = 1\n");
    ASSERT_NE(AllocApp(), 0);
    system_ = AllocSystem();
    const MilId large = AllocDigitizer(system_, 0);
    const MilId small = AllocDigitizer(system_, 1);
    const MilId buf = Buffer(16, 2, 8);
    mil.MdigGrab(small, Buffer(8, 1, 8)); // the small digitizer's frame 0 goes elsewhere
    mil.MdigGrab(large, buf);             // frame 0 of the large one, never read
    mil.MdigGrab(small, buf);             // frame 1 of the small one
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    const std::vector<uint8_t> pixels = Read8(buf, 16, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(pixels[static_cast<size_t>(y) * 16 + x], RampValue(x, y, x < 8 && y < 1 ? 1 : 0, 0, 8))
                << x << "," << y;
}

TEST_F(SimMilGrabTest, BufferLargerThanTheImageKeepsItsOutsideUntouched) {
    const MilId dig = OpenDigitizer("Width = 8\nHeight = 2");
    const MilId buf = Buffer(10, 3, 8);
    mil.MdigGrab(dig, buf);
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    const std::vector<uint8_t> pixels = Read8(buf, 10, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 10; ++x) {
            const uint8_t expected = (x < 8 && y < 2) ? RampValue(x, y, 0, 0, 8) : 0;
            EXPECT_EQ(pixels[static_cast<size_t>(y) * 10 + x], expected) << x << "," << y;
        }
    }
}

TEST_F(SimMilGrabTest, ProcessFailsFaultFailsSequencesButNotSingleGrabs) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nProcessFails = 1");
    const MilId a = Buffer(16, 2, 8);
    MilId ids[] = {a};
    mil.MdigProcess(dig, ids, 1, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(Read8(a, 16, 2), std::vector<uint8_t>(32, 0)) << "a failed sequence delivers nothing";
    mil.MdigProcess(dig, ids, 1, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
    EXPECT_TRUE(ErrorPending()) << "every sequence fails";
    mil.MdigGrab(dig, a);
    EXPECT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_EQ(Mismatches8(Read8(a, 16, 2), 16, 2, 0, 8), 0) << "failed sequences took no frame numbers";
}

TEST_F(SimMilGrabTest, GrabFailsAtFaultFailsOnlyThatSingleGrab) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nGrabFailsAt = 2");
    const MilId a = Buffer(16, 2, 8);
    MilId ids[] = {a};
    mil.MdigProcess(dig, ids, 1, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
    EXPECT_FALSE(ErrorPending()) << "sequences do not count as single grabs";
    mil.MdigGrab(dig, a);
    EXPECT_FALSE(ErrorPending()) << ErrorText();
    mil.MdigGrab(dig, a);
    EXPECT_TRUE(ErrorPending());
    EXPECT_THAT(ErrorText(), HasSubstr("GrabFailsAt"));
    mil.MdigGrab(dig, a);
    EXPECT_FALSE(ErrorPending()) << "only the N-th grab fails";
    EXPECT_EQ(Mismatches8(Read8(a, 16, 2), 16, 2, 2, 8), 0) << "the failed grab took no frame number";
}

TEST_F(SimMilGrabTest, BufferLimitFaultRefusesAllocationsOnceReached) {
    ASSERT_NE(OpenDigitizer("Width = 16\nHeight = 2", "BufferLimit = 2"), 0);
    const MilId a = Buffer(16, 2, 8);
    const MilId b = ColourBuffer(16, 2);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    MilId c = 99;
    EXPECT_EQ(mil.MbufAlloc2d(system_, 16, 2, 8, mil::kImageGrab, &c), 0);
    EXPECT_EQ(c, 0);
    EXPECT_THAT(ErrorText(), HasSubstr("BufferLimit"));
    EXPECT_EQ(ColourBuffer(16, 2), 0);
    mil.MbufFree(a);
    EXPECT_NE(Buffer(16, 2, 8), 0);
    EXPECT_EQ(sim::HeldBufferCount(), 2);
}

TEST_F(SimMilGrabTest, UnsupportedBufferRequestsAreRefused) {
    ASSERT_NE(OpenDigitizer("Width = 16\nHeight = 2"), 0);
    EXPECT_EQ(Buffer(16, 2, 32), 0);
    EXPECT_EQ(Buffer(0, 2, 8), 0);
    EXPECT_EQ(Buffer(16, -1, 8), 0);
    EXPECT_EQ(Buffer(1 << 20, 1 << 20, 8), 0);
    EXPECT_EQ(mil.MbufAllocColor(system_, 2, 16, 2, 8, mil::kImageGrab, nullptr), 0);
    EXPECT_EQ(mil.MbufAlloc2d(4242, 16, 2, 8, mil::kImageGrab, nullptr), 0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(sim::HeldBufferCount(), 0);
}

TEST_F(SimMilGrabTest, GrabIntoABufferOfOtherBandCountIsRefused) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nBands = 3");
    const MilId mono = Buffer(16, 2, 8);
    mil.MdigGrab(dig, mono);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(sim::InspectDigitizer(dig)->framesGrabbed, 0);
}

TEST_F(SimMilGrabTest, ReadsOutsideTheBufferAreRefusedAndCopyNothing) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 4");
    const MilId buf = Buffer(16, 4, 8);
    mil.MdigGrab(dig, buf);
    struct Span {
        MilInt x, y, w, h;
    };
    const Span spans[] = {{1, 0, 16, 1},         {0, 4, 1, 1},         {0, 3, 1, 2}, {-1, 0, 2, 1},
                          {0, -1, 1, 1},         {0, 0, 0, 1},         {0, 0, 1, 0}, {0, 0, -5, 1},
                          {1, 0, 0x7FFFFFFF, 1}, {0, 1, 1, 0x7FFFFFFF}};
    for (const Span &s : spans) {
        SCOPED_TRACE(testing::Message() << s.x << "," << s.y << " " << s.w << "x" << s.h);
        std::vector<uint8_t> dst(256, 0xA5);
        mil.MbufGet2d(buf, s.x, s.y, s.w, s.h, dst.data());
        EXPECT_TRUE(ErrorPending());
        EXPECT_EQ(dst, std::vector<uint8_t>(256, 0xA5));
    }
    mil.MbufGet2d(buf, 0, 0, 16, 1, nullptr);
    EXPECT_TRUE(ErrorPending());
    mil.MbufGet2d(9999, 0, 0, 1, 1, nullptr);
    EXPECT_TRUE(ErrorPending());

    uint8_t last[4] = {};
    mil.MbufGet2d(buf, 12, 3, 4, 1, last);
    EXPECT_FALSE(ErrorPending()) << "the last pixels are inside";
    EXPECT_EQ(last[3], RampValue(15, 3, 0, 0, 8));
}

TEST_F(SimMilGrabTest, ColourReadsOutsideTheBufferOrInOtherFormatsAreRefused) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 4\nBands = 3");
    const MilId buf = ColourBuffer(16, 4);
    mil.MdigGrab(dig, buf);
    std::vector<uint8_t> dst(256, 0xA5);
    mil.MbufGetColor2d(buf, mil::kPackedBgr24, mil::kAllBands, 8, 0, 9, 1, dst.data());
    EXPECT_TRUE(ErrorPending());
    mil.MbufGetColor2d(buf, 0x1234, mil::kAllBands, 0, 0, 4, 1, dst.data());
    EXPECT_TRUE(ErrorPending());
    mil.MbufGetColor2d(buf, mil::kPackedBgr24, 0, 0, 0, 4, 1, dst.data());
    EXPECT_TRUE(ErrorPending());
    mil.MbufGet2d(buf, 0, 0, 4, 1, dst.data());
    EXPECT_TRUE(ErrorPending()) << "a colour buffer has no single-band rows";
    EXPECT_EQ(dst, std::vector<uint8_t>(256, 0xA5));

    const MilId mono = Buffer(16, 4, 8);
    mil.MbufGetColor2d(mono, mil::kPackedBgr24, mil::kAllBands, 0, 0, 4, 1, dst.data());
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(dst, std::vector<uint8_t>(256, 0xA5));
}

TEST_F(SimMilGrabTest, FrameSlowerThanTheTimeOutFailsAtTheTimeOut) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nFrameTimeMs = 600000");
    const MilId buf = Buffer(16, 2, 8);
    mil.MdigControl(dig, mil::kGrabTimeout, 20.0);
    const auto start = std::chrono::steady_clock::now();
    std::shared_future<std::string> grab = OnOtherThread([=] { mil.MdigGrab(dig, buf); });
    ASSERT_EQ(grab.wait_for(kBound), std::future_status::ready) << "the frame time was waited out";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
    EXPECT_THAT(grab.get(), HasSubstr("time-out"));
    EXPECT_EQ(Read8(buf, 16, 2), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(sim::InspectDigitizer(dig)->framesGrabbed, 0);
}

TEST_F(SimMilGrabTest, FrameWithinTheTimeOutTakesItsFrameTimeAndSucceeds) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nFrameTimeMs = 30");
    const MilId a = Buffer(16, 2, 8);
    const MilId b = Buffer(16, 2, 8);
    mil.MdigControl(dig, mil::kGrabTimeout, 600000.0);
    MilId ids[] = {a, b};
    const auto start = std::chrono::steady_clock::now();
    mil.MdigProcess(dig, ids, 2, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
    EXPECT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms) << "two frames of 30 ms";
    EXPECT_EQ(Mismatches8(Read8(b, 16, 2), 16, 2, 1, 8), 0);
}

TEST_F(SimMilGrabTest, StopFromAnotherThreadEndsARunningSequence) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nFrameTimeMs = 600000");
    std::vector<MilId> ids;
    for (int i = 0; i < 5; ++i)
        ids.push_back(Buffer(16, 2, 8));
    std::shared_future<std::string> sequence = OnOtherThread([=]() mutable {
        mil.MdigProcess(dig, ids.data(), 5, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
    });
    ASSERT_TRUE(sim::WaitUntilGrabbing(dig, kBound));
    mil.MdigProcess(dig, ids.data(), 5, mil::kStop, mil::kSynchronous, nullptr, nullptr);
    EXPECT_FALSE(ErrorPending()) << "the stop itself succeeds";
    ASSERT_EQ(sequence.wait_for(kBound), std::future_status::ready);
    EXPECT_THAT(sequence.get(), HasSubstr("stopped")) << "a sequence cut short is not reported as done";
    EXPECT_EQ(sim::InspectDigitizer(dig)->framesGrabbed, 0);
    EXPECT_FALSE(sim::InspectDigitizer(dig)->grabbing);
}

TEST_F(SimMilGrabTest, StopWithoutARunningSequenceDoesNotAffectTheNextOne) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2");
    MilId ids[] = {Buffer(16, 2, 8)};
    mil.MdigProcess(dig, ids, 1, mil::kStop, mil::kSynchronous, nullptr, nullptr);
    EXPECT_FALSE(ErrorPending());
    mil.MdigProcess(dig, ids, 1, mil::kSequence, mil::kSynchronous, nullptr, nullptr);
    EXPECT_FALSE(ErrorPending()) << ErrorText();
    EXPECT_EQ(sim::InspectDigitizer(dig)->framesGrabbed, 1);
}

TEST_F(SimMilGrabTest, SecondGrabOnABusyDigitizerIsRefused) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nFrameTimeMs = 600000");
    const MilId a = Buffer(16, 2, 8);
    std::shared_future<std::string> first = OnOtherThread([=] { mil.MdigGrab(dig, a); });
    ASSERT_TRUE(sim::WaitUntilGrabbing(dig, kBound));
    mil.MdigGrab(dig, a);
    EXPECT_THAT(ErrorText(), HasSubstr("already"));
    mil.MdigFree(dig); // ends the first grab
    ASSERT_EQ(first.wait_for(kBound), std::future_status::ready);
    EXPECT_THAT(first.get(), HasSubstr("freed"));
}

TEST_F(SimMilGrabTest, FreeingBufferAndDigitizerDuringAGrabEndsItSafely) {
    const MilId dig = OpenDigitizer("Width = 16\nHeight = 2\nFrameTimeMs = 600000");
    MilId ids[] = {Buffer(16, 2, 8), Buffer(16, 2, 8)};
    std::shared_future<std::string> sequence = OnOtherThread(
        [=]() mutable { mil.MdigProcess(dig, ids, 2, mil::kSequence, mil::kSynchronous, nullptr, nullptr); });
    ASSERT_TRUE(sim::WaitUntilGrabbing(dig, kBound));
    mil.MbufFree(ids[0]);
    mil.MbufFree(ids[1]);
    mil.MdigFree(dig);
    ASSERT_EQ(sequence.wait_for(kBound), std::future_status::ready);
    EXPECT_FALSE(sequence.get().empty());
    EXPECT_EQ(sim::HeldBufferCount(), 0);
}

TEST_F(SimMilGrabTest, RowsReadDuringGrabsAreAlwaysWholeRowsOfOneFrame) {
    const MilId dig = OpenDigitizer("Width = 512\nHeight = 64\nBits = 8");
    const MilId buf = Buffer(512, 64, 8);
    mil.MdigGrab(dig, buf);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::shared_future<std::string> grabs = OnOtherThread([=] {
        for (int i = 0; i < 200 && !ErrorPending(); ++i)
            mil.MdigGrab(dig, buf);
        *done = true;
    });
    // Within one frame a row climbs by one per pixel; a row mixing two frames breaks the climb.
    int torn = 0;
    uint8_t row[512];
    for (int reads = 0; !*done || reads < 10; ++reads) {
        mil.MbufGet2d(buf, 0, reads % 64, 512, 1, row);
        ASSERT_FALSE(ErrorPending()) << ErrorText();
        for (int x = 1; x < 512; ++x) {
            if (row[x] != static_cast<uint8_t>(row[0] + x)) {
                ++torn;
                break;
            }
        }
    }
    ASSERT_EQ(grabs.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(grabs.get(), "");
    EXPECT_EQ(torn, 0);
}

TEST_F(SimMilGrabTest, AFreedBufferIdIsRefusedAfterALaterBufferTakesItsPlace) {
    const MilId dig = OpenDigitizer("Width = 256\nHeight = 4\nBits = 8");
    const MilId old = Buffer(256, 4, 8);
    mil.MdigGrab(dig, old); // frame 0
    std::vector<uint8_t> row(256, 0xEE);
    mil.MbufGet2d(old, 0, 1, 256, 1, row.data()); // the id is now a known one
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    mil.MbufFree(old);
    const MilId newer = Buffer(256, 4, 8);
    ASSERT_NE(newer, 0);
    ASSERT_NE(newer, old);
    mil.MdigGrab(dig, newer); // frame 1

    std::fill(row.begin(), row.end(), uint8_t{0xEE});
    mil.MbufGet2d(old, 0, 1, 256, 1, row.data());
    ASSERT_TRUE(ErrorPending());
    EXPECT_THAT(ErrorText(), HasSubstr("is not a buffer"));
    EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0xEE; }));

    mil.MbufGet2d(newer, 0, 1, 256, 1, row.data());
    ASSERT_FALSE(ErrorPending()) << ErrorText();
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(row[x], RampValue(x, 1, 1, 0, 8)) << x;
}

TEST_F(SimMilGrabTest, AReaderOfABufferFreedAndReplacedMeanwhileGetsItsRowsOrARefusal) {
    const MilId dig = OpenDigitizer("Width = 256\nHeight = 4\nBits = 8");
    const MilId first = Buffer(256, 4, 8);
    mil.MdigGrab(dig, first); // frame 0; every later buffer holds a later frame
    auto reads = std::make_shared<std::atomic<int>>(0);
    auto foreign = std::make_shared<std::atomic<int>>(0);
    auto stop = std::make_shared<std::atomic<bool>>(false);
    std::shared_future<std::string> reader = OnOtherThread([=] {
        uint8_t row[256];
        while (!*stop) {
            std::memset(row, 0xEE, sizeof row);
            mil.MbufGet2d(first, 0, 2, 256, 1, row);
            ++*reads;
            if (ErrorPending()) continue; // freed: refused, nothing copied
            for (int x = 0; x < 256; ++x) {
                if (row[x] != RampValue(x, 2, 0, 0, 8)) {
                    ++*foreign;
                    break;
                }
            }
        }
    });
    while (*reads < 100 && reader.wait_for(0s) != std::future_status::ready)
        std::this_thread::yield();
    mil.MbufFree(first);
    // Each new buffer takes the freed one's place; the frames they hold differ from frame 0.
    for (int i = 0; i < 200; ++i) {
        const MilId next = Buffer(256, 4, 8);
        ASSERT_NE(next, 0) << ErrorText();
        mil.MdigGrab(dig, next);
        mil.MbufFree(next);
    }
    *stop = true;
    ASSERT_EQ(reader.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(foreign->load(), 0);
    EXPECT_EQ(sim::HeldBufferCount(), 0);
}

} // namespace
} // namespace kestcam::test
