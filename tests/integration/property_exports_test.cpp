// getProperty, setProperty and getPropertyRange: PixelSize, continuous mode in both spellings, the
// MIL pass-through, camera parameters answered from the settings, settings by key (some saved at
// once), and the failures: unknown, null and overlong names, unbound ports, no place for the answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "acquisition_fixture.h"

namespace kestcam::test {
namespace {

class PropertyExports : public AcquisitionTest {
protected:
    void SetUp() override {
        AcquisitionTest::SetUp();
        WriteSettings("Camera 1", "Gain=2.75\nDigitalOffset=-0.5\nExposureMode=ExSync edge controlled\n");
        ASSERT_EQ(Initialize(), 1);
        ASSERT_TRUE(Open("Camera 1", 1));
        Log().Clear();
    }
    int Get(const char *name, int port = 1) {
        int value = -99;
        EXPECT_EQ(Driver().getProperty(0, port, name, &value), 1) << name;
        return value;
    }
};

TEST_F(PropertyExports, PixelSizeInAnyCaseIsEightBitsPerBand) {
    ASSERT_TRUE(Open("Camera 2", 2)); // 12 bits, delivered as 8
    ASSERT_TRUE(Open("Camera 3", 3));
    EXPECT_EQ(Get("pixelsize"), 8);
    EXPECT_EQ(Get("PIXELSIZE", 2), 8);
    EXPECT_EQ(Get("PixelSize", 3), 24);
    EXPECT_FALSE(Log().Contains("getProperty: portNo"));
}

TEST_F(PropertyExports, ContinuousInBothSpellingsAndAnyCase) {
    EXPECT_EQ(Driver().setProperty(0, 1, "CONTINOUS", 1), 1);
    EXPECT_EQ(Get("Continuous"), 1);
    EXPECT_EQ(Driver().setProperty(0, 1, "conTinuous", 0), 1);
    EXPECT_EQ(Get("continous"), 0);
    EXPECT_TRUE(Log().Contains("setProperty: portNo=1\n"));
    EXPECT_TRUE(Log().Contains("getProperty: portNo=1, prop=continous\n"));
}

TEST_F(PropertyExports, StoreValueThenMdigControlSetsTheGrabTimeout) {
    ASSERT_EQ(Driver().setProperty(0, 1, "StoreValue", 10), 1);
    ASSERT_EQ(Driver().setProperty(0, 1, "MdigControl", 4127), 1);
    ASSERT_EQ(Driver().setProperty(0, 1, "StoreValue", 4127), 1);
    EXPECT_EQ(Get("MdigInquire"), 10);
    EXPECT_EQ(Driver().setProperty(0, 1, "MdigControl", 99), 0);
    EXPECT_TRUE(Log().Contains("MilDigitizer::SetProperty: ERROR: while calling MdigControl (99, 4127). Error "
                               "message:MdigControl: unsupported control type 99\n"));
}

TEST_F(PropertyExports, MdigInquireWithoutStoreValueInquiresTypeZero) {
    int value = -99;
    EXPECT_EQ(Driver().getProperty(0, 1, "mdiginquire", &value), 0);
    EXPECT_EQ(value, -99);
    EXPECT_TRUE(Log().Contains("MilDigitizer::GetProperty ERROR calling MdigInquire (0). Error "
                               "message:MdigInquire: unsupported inquiry type 0\n"));
}

TEST_F(PropertyExports, CameraParametersNeedDirectAccessAndAreTheStoredValuesTruncated) {
    EXPECT_EQ(Driver().setProperty(0, 1, "ExposureTime", 100), 0);
    int value = -99;
    EXPECT_EQ(Driver().getProperty(0, 1, "Gain", &value), 0);
    // Direct access on, but no camera answered at open: the stored values still answer.
    ASSERT_EQ(Driver().setProperty(0, 1, "BaslerPortAccessEnabled", 1), 1);
    EXPECT_EQ(Get("Gain"), 2);
    EXPECT_EQ(Get("DigitalOffset"), 0);
    EXPECT_EQ(Get("exposuremode"), 6);
    EXPECT_EQ(Driver().setProperty(0, 1, "Gain", 1), 0); // the camera was never initialized
}

TEST_F(PropertyExports, GeometrySettingsAreSavedAtOnceOthersAtClose) {
    const std::string before = ReadSettingsFile();
    ASSERT_EQ(Driver().setProperty(0, 1, "Use16bit", 1), 1);
    ASSERT_EQ(Driver().setProperty(0, 1, "shift16bit", 3), 1);
    EXPECT_EQ(ReadSettingsFile(), before);
    ASSERT_EQ(Driver().setProperty(0, 1, "Height", 77), 1);
    EXPECT_NE(ReadSettingsFile().find("\nHeight=77"), std::string::npos);
    EXPECT_NE(ReadSettingsFile().find("\nUse16bit=1"), std::string::npos); // saved with the whole section
    ASSERT_EQ(Driver().setProperty(0, 1, "HeightMultiplier", 99), 1);      // no range check
    EXPECT_EQ(Get("HeightMultiplier"), 99);
    EXPECT_EQ(Get("Use16bit"), 1);
    EXPECT_EQ(Get("Width"), 2048);
}

TEST_F(PropertyExports, RangesOfTheRangedSettingsOnly) {
    int min = -1;
    int max = -1;
    ASSERT_EQ(Driver().getPropertyRange(0, 1, "grabtimeout", &min, &max), 1);
    EXPECT_EQ(min, 500);
    EXPECT_EQ(max, 60000);
    ASSERT_EQ(Driver().getPropertyRange(0, 1, "Gain", &min, &max), 1); // before any camera reported its own
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 1);
    min = max = -1;
    EXPECT_EQ(Driver().getPropertyRange(0, 1, "Width", &min, &max), 0);
    EXPECT_EQ(Driver().getPropertyRange(0, 1, nullptr, &min, &max), 0);
    EXPECT_EQ(min, -1);
    EXPECT_EQ(max, -1);
    EXPECT_EQ(Log().Count("getPropertyRange: grabberNo=0   portNo=1\n"), 2u);
}

TEST_F(PropertyExports, UnknownNullAndOverlongNamesFailWithoutALine) {
    const std::string overlong(1 << 16, 'W');
    int value = -99;
    for (const char *name : {"Nope", "Widt", "PixelSizeX", overlong.c_str(), static_cast<const char *>(nullptr)}) {
        EXPECT_EQ(Driver().setProperty(0, 1, name, 5), 0);
        EXPECT_EQ(Driver().getProperty(0, 1, name, &value), 0);
    }
    EXPECT_EQ(value, -99);
    EXPECT_THAT(Log().Messages(), ::testing::IsEmpty());
}

TEST_F(PropertyExports, UnboundPortsAndMissingPlacesFail) {
    int value = 0;
    int min = 0;
    EXPECT_EQ(Driver().getProperty(0, 77, "Width", &value), 0);
    EXPECT_EQ(Driver().setProperty(0, 77, "Width", 1), 0);
    EXPECT_EQ(Driver().getPropertyRange(0, 77, "Gain", &min, &value), 0);
    EXPECT_EQ(Log().Count("MilApp::GetByPort: ERROR: could not find camera on port 77\n"), 3u);
    EXPECT_TRUE(Log().Contains("--EXCEPTION caught at getProperty\n"));
    EXPECT_TRUE(Log().Contains("setProperty: --EXCEPTION caught \n"));
    EXPECT_TRUE(Log().Contains("getPropertyRange: --EXCEPTION caught \n"));
    EXPECT_EQ(Driver().getProperty(0, 1, "Width", nullptr), 0);
    EXPECT_EQ(Driver().getPropertyRange(0, 1, "Gain", &min, nullptr), 0);
}

} // namespace
} // namespace kestcam::test
