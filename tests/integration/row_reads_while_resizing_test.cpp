// Row reads that take no lock, while another thread changes everything they use: the rows per grab
// (HeightMultiplier), the announced size, the table on and off, 8- and 16-bit rings re-allocated by a
// close and open, and grabs writing the buffers. Every row delivered is one whole row of some grab;
// under the sanitizers, no read touches freed or half-written memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 8;
constexpr int kMaxFrames = 4;

constexpr uint8_t kUntouched = 0x5A;

// The simulator's ramp rises by one from pixel to pixel; the table used here reverses it (255 - v).
// A delivered row is therefore a run of +1 or of -1 steps, or, from a buffer allocated by the last
// open and not yet grabbed into, all zeros (all 255 through the table). A row left untouched or mixed
// from two buffers is none of these.
bool IsWholeRow(const std::vector<uint8_t> &row) {
    if (std::all_of(row.begin(), row.end(), [](uint8_t v) { return v == 0; }) ||
        std::all_of(row.begin(), row.end(), [](uint8_t v) { return v == 255; }))
        return true;
    bool rising = true;
    bool falling = true;
    for (size_t x = 1; x < row.size(); ++x) {
        rising = rising && static_cast<uint8_t>(row[x] - row[x - 1]) == 1;
        falling = falling && static_cast<uint8_t>(row[x - 1] - row[x]) == 1;
    }
    return rising || falling;
}

class RowReadsWhileResizing : public AcquisitionTest {};

TEST_F(RowReadsWhileResizing, EveryDeliveredRowIsWholeWhileTheCameraChanges) {
    UseOneDigitizer("Width = " + std::to_string(kWidth) + "\nHeight = " + std::to_string(kHeight));
    std::string table = "LN;rev\n";
    for (int v = 0; v < 256; ++v)
        table += std::to_string(v) + ";" + std::to_string(255 - v) + "\n";
    WriteSettings("Camera 1", "LogLevel=1\nHeightMultiplier=2\nUseLUT=1\nlutcolumn=rev\nLUT_FILE=" +
                                  dir_.Write("rev.csv", table));
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));

    std::atomic<bool> stop{false};
    std::atomic<long> delivered{0};
    std::atomic<long> broken{0};
    auto reader = [&](unsigned seed) {
        std::mt19937 random(seed);
        std::vector<uint8_t> row(kWidth);
        while (!stop.load()) {
            std::fill(row.begin(), row.end(), kUntouched);
            const int r = static_cast<int>(random() % (kHeight * kMaxFrames));
            if (Driver().getCVLGrabRow(0, 0, row.data(), r, 0, kWidth - 1) != 1) continue;
            ++delivered;
            if (!IsWholeRow(row)) ++broken;
        }
    };
    std::thread a(reader, 1u);
    std::thread b(reader, 2u);

    const auto set = [&](const char *name, int value) { return Driver().setProperty(0, 0, name, value); };
    for (int cycle = 0; cycle < 40; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        EXPECT_EQ(set("HeightMultiplier", 1 + cycle % kMaxFrames), 1);
        EXPECT_EQ(set("Width", kWidth - cycle % 3), 1);
        EXPECT_EQ(set("Height", kHeight - cycle % 2), 1);
        EXPECT_EQ(set("UseLUT", cycle % 3 == 0 ? 0 : 1), 1);
        EXPECT_EQ(set("Use16bit", cycle % 4 < 2 ? 1 : 0), 1);
        if (cycle % 2 == 0) {
            EXPECT_TRUE(GrabAndWait(0));
        }
        // The ring is re-allocated when its frame count or sample size changed.
        Driver().closeCVLPort(0, 0);
        ASSERT_TRUE(Open("Camera 1", 0));
        ASSERT_TRUE(GrabAndWait(0));
    }
    stop = true;
    a.join();
    b.join();

    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(broken.load(), 0) << "of " << delivered.load() << " rows delivered";
    EXPECT_FALSE(Log().Contains("freed during the grab"));
}

} // namespace
} // namespace kestcam::test
