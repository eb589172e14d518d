// Rows converted through the camera's lookup table, loaded at open from a column of a table file,
// and the shift rule taking over (with UseLUT stored off) when the table cannot be loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "acquisition/lut_generator.h"
#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

class AcquisitionLut : public AcquisitionTest {
protected:
    // A table file with the columns "keep" and "wild": wild(x) = output(x) for x in 0..last.
    std::string TableFile(int last, const std::function<int(int)> &output) {
        std::string text = "LN;keep;wild\n";
        for (int x = 0; x <= last; ++x)
            text += std::to_string(x) + ";" + std::to_string(x) + ";" + std::to_string(output(x)) + "\n";
        return dir_.Write("table.csv", text);
    }
    std::vector<uint8_t> ExpectedRow(int width, int y, int bits, const std::function<uint8_t(uint32_t)> &convert) {
        std::vector<uint8_t> out;
        for (int x = 0; x < width; ++x)
            out.push_back(convert(Ramp(x, y, 0, 0, bits)));
        return out;
    }
};

int Wild(int x) {
    return (4095 - x) * 3 + 7;
}

TEST_F(AcquisitionLut, SixteenBitRowsAreTheLowByteOfTheirTableEntry) {
    const std::string table = TableFile(4095, Wild);
    WriteSettings("Camera 2", "Use16bit=1\nShift16bit=4\nUseLUT=1\nLUT_FILE=" + table + "\nlutcolumn=wild\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 0));
    ASSERT_TRUE(GrabAndWait(0));
    for (int y : {0, 640, 999})
        EXPECT_EQ(Row(0, y), ExpectedRow(2048, y, 12, [](uint32_t v) { return static_cast<uint8_t>(Wild(v)); }))
            << "row " << y;
    EXPECT_FALSE(Log().Contains("Disabling LUT"));
}

TEST_F(AcquisitionLut, EightBitRowsGoThroughTheTableToo) {
    const std::string table = TableFile(255, [](int x) { return 255 - x; });
    WriteSettings("Camera 1", "UseLUT=1\nLUT_FILE=" + table + "\nlutcolumn=wild\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Row(0, 12), ExpectedRow(2048, 12, 8, [](uint32_t v) { return static_cast<uint8_t>(255 - v); }));
}

TEST_F(AcquisitionLut, AMissingTableFallsBackToTheShiftAndIsStoredOff) {
    WriteSettings("Camera 2",
                  "Use16bit=1\nShift16bit=2\nUseLUT=1\nLUT_FILE=" + dir_.File("none.csv") + "\nlutcolumn=wild\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 0));
    EXPECT_EQ(Log().Count("MilDigitizer::ApplyLut: WARNING: Unrecognized/incorrect csv file. Disabling LUT\n"),
              1u);
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Row(0, 3), ExpectedRow(2048, 3, 12, [](uint32_t v) {
                  return static_cast<uint8_t>(std::min<uint32_t>(v >> 2, 255));
              }));
    Driver().closeCVLPort(0, 0);
    EXPECT_NE(ReadSettingsFile().find("UseLUT=0"), std::string::npos);
}

TEST_F(AcquisitionLut, AnUnknownColumnDisablesTheTable) {
    const std::string table = TableFile(255, [](int x) { return 255 - x; });
    WriteSettings("Camera 1", "UseLUT=1\nLUT_FILE=" + table + "\nlutcolumn=LN\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    EXPECT_EQ(Log().Count("Disabling LUT"), 1u);
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Row(0, 1), ExpectedRow(2048, 1, 8, [](uint32_t v) { return static_cast<uint8_t>(v); }));
}

TEST_F(AcquisitionLut, AGeneratedTableConvertsEveryPixelOfTheTwelveBitCamera) {
    const std::string table = dir_.File("generated.csv");
    ASSERT_TRUE(WriteLutGeneratorFile(table, 0, 12, 3));
    WriteSettings("Camera 2", "Use16bit=1\nUseLUT=1\nLUT_FILE=" + table + "\nlutcolumn=ln\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 2", 0));
    ASSERT_TRUE(GrabAndWait(0));
    for (int y = 0; y < 1000; ++y) {
        const auto expected = ExpectedRow(
            2048, y, 12, [](uint32_t v) { return static_cast<uint8_t>(LutGeneratorValue(static_cast<int>(v), 0, 12, 3)); });
        ASSERT_EQ(Row(0, y), expected) << "row " << y;
    }
}

TEST_F(AcquisitionLut, EightBitRowsDeliverTheLowByteOfEntriesAbove255) {
    const std::string table = TableFile(255, [](int x) { return x * 7 + 300; });
    WriteSettings("Camera 1", "UseLUT=1\nLUT_FILE=" + table + "\nlutcolumn=wild\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(Row(0, 77), ExpectedRow(2048, 77, 8, [](uint32_t v) { return static_cast<uint8_t>(v * 7 + 300); }));
}

} // namespace
} // namespace kestcam::test
