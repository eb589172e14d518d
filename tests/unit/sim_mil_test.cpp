// sim_mil_test.cpp - the simulated imaging library's set-up side: configuration, enumeration,
// boards, digitizers and DCF files, and the per-thread error.
#include <cstring>
#include <string>
#include <thread>

#include "support/sim_test_util.h"

namespace kestcam::test {
namespace {

using ::testing::HasSubstr;

class SimMilSetupTest : public SimMilTest {};

std::string Descriptor(const MilFunctions &mil, MilInt index) {
    char text[260] = {};
    mil.MappInquire(mil::kInstalledSystemDescriptor + index, text);
    return text;
}

TEST_F(SimMilSetupTest, BuiltInConfigurationInstallsSoliosAndHostSystems) {
    ASSERT_NE(AllocApp(), 0);
    MilInt count = -1;
    EXPECT_EQ(mil.MappInquire(mil::kInstalledSystemCount, &count), 2);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(Descriptor(mil, 0), "M_SYSTEM_SOLIOS");
    EXPECT_EQ(Descriptor(mil, 1), "M_SYSTEM_HOST");
    EXPECT_FALSE(ErrorPending());
}

TEST_F(SimMilSetupTest, BuiltInSoliosBoardCarriesTheThreeDocumentedCameras) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    ASSERT_NE(system, 0);
    EXPECT_EQ(AllocSystem("M_SYSTEM_SOLIOS", 1), 0) << "only device 0 answers";
    EXPECT_EQ(mil.MsysInquire(system, mil::kDigitizerNum, nullptr), 3);

    struct Expected {
        MilInt width, height, bands, bits, colorMode;
    };
    const Expected expected[] = {{2048, 1000, 1, 8, 0}, {2048, 1000, 1, 12, 0}, {1024, 768, 3, 8, 8}};
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        const MilId dig = AllocDigitizer(system, n);
        ASSERT_NE(dig, 0);
        EXPECT_EQ(Inquire(dig, mil::kSizeX), expected[n].width);
        EXPECT_EQ(Inquire(dig, mil::kSizeY), expected[n].height);
        EXPECT_EQ(Inquire(dig, mil::kSizeBand), expected[n].bands);
        EXPECT_EQ(Inquire(dig, mil::kSizeBit), expected[n].bits);
        EXPECT_EQ(Inquire(dig, mil::kColorMode), expected[n].colorMode);
    }
}

TEST_F(SimMilSetupTest, HostSystemOfBuiltInConfigurationHasOneBoardWithOneDigitizer) {
    ASSERT_NE(AllocApp(), 0);
    const MilId host = AllocSystem("M_SYSTEM_HOST", 0);
    ASSERT_NE(host, 0);
    EXPECT_EQ(mil.MsysInquire(host, mil::kDigitizerNum, nullptr), 1);
}

TEST_F(SimMilSetupTest, BoardsAnswerOnlyAtConfiguredDevicesOfTheExactDescriptor) {
    UseConfig("[System 0]\nDescriptor = M_SYSTEM_METEOR_II\nDevices = 0, 2\n");
    ASSERT_NE(AllocApp(), 0);
    EXPECT_NE(AllocSystem("M_SYSTEM_METEOR_II", 0), 0);
    EXPECT_EQ(AllocSystem("M_SYSTEM_METEOR_II", 1), 0);
    EXPECT_NE(AllocSystem("M_SYSTEM_METEOR_II", 2), 0);
    EXPECT_EQ(AllocSystem("M_SYSTEM_METEOR_II", 3), 0);
    EXPECT_EQ(AllocSystem("m_system_meteor_ii", 0), 0) << "descriptors compare exactly";
    EXPECT_EQ(AllocSystem("M_SYSTEM_METEOR", 0), 0);
    EXPECT_EQ(AllocSystem(nullptr, 0), 0);
}

TEST_F(SimMilSetupTest, BoardAllocatedTwiceIsRefusedUntilFreed) {
    ASSERT_NE(AllocApp(), 0);
    const MilId first = AllocSystem();
    ASSERT_NE(first, 0);
    EXPECT_EQ(AllocSystem(), 0);
    EXPECT_TRUE(ErrorPending());
    mil.MsysFree(first);
    EXPECT_NE(AllocSystem(), 0);
}

TEST_F(SimMilSetupTest, BoardNumberAndSerialTextNameSystemIndexAndDevice) {
    UseConfig("[System 0]\nDescriptor = M_SYSTEM_METEOR_II\n"
              "[System 1]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0,3\nDigitizers = 2\n");
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem("M_SYSTEM_SOLIOS", 3);
    ASSERT_NE(system, 0);

    MilInt board = -1;
    EXPECT_EQ(mil.MsysInquire(system, mil::kBoardNumber, &board), 3);
    EXPECT_EQ(board, 3);

    char serial[64];
    std::memset(serial, 'x', sizeof serial);
    mil.MsysInquire(system, mil::kSerialNumber, serial);
    EXPECT_STREQ(serial, "SIM-1-3");
    EXPECT_EQ(serial[8], 'x') << "nothing is written past the terminator";

    MilInt count = -1;
    EXPECT_EQ(mil.MsysInquire(system, mil::kDigitizerNum, &count), 2);
    EXPECT_EQ(count, 2);
}

TEST_F(SimMilSetupTest, ConfigurationKeysAndSectionsIgnoreCase) {
    UseConfig("[SYSTEM 0]\ndescriptor = M_SYSTEM_HELIOS\nDIGITIZERS = 2\n"
              "[system 0 digitizer 1]\nwidth = 640\nHEIGHT = 480\nbits = 10\n");
    ASSERT_NE(AllocApp(), 0);
    EXPECT_EQ(Descriptor(mil, 0), "M_SYSTEM_HELIOS");
    const MilId system = AllocSystem("M_SYSTEM_HELIOS", 0);
    ASSERT_NE(system, 0);
    const MilId dig = AllocDigitizer(system, 1);
    ASSERT_NE(dig, 0);
    EXPECT_EQ(Inquire(dig, mil::kSizeX), 640);
    EXPECT_EQ(Inquire(dig, mil::kSizeY), 480);
    EXPECT_EQ(Inquire(dig, mil::kSizeBit), 10);
}

TEST_F(SimMilSetupTest, ValuesAreReadAsPrivateProfileIntegers) {
    UseConfig("[System 0]\nDevices = 0x1, 3 boards\n[System 0 Digitizer 0]\nWidth = 0x280\nHeight = 480 lines\n");
    ASSERT_NE(AllocApp(), 0) << ErrorText();
    EXPECT_EQ(AllocSystem("M_SYSTEM_SOLIOS", 0), 0);
    EXPECT_NE(AllocSystem("M_SYSTEM_SOLIOS", 3), 0);
    const MilId system = AllocSystem("M_SYSTEM_SOLIOS", 1);
    ASSERT_NE(system, 0);
    const MilId dig = AllocDigitizer(system, 0);
    EXPECT_EQ(Inquire(dig, mil::kSizeX), 640);
    EXPECT_EQ(Inquire(dig, mil::kSizeY), 480);
}

TEST_F(SimMilSetupTest, UnlistedDigitizerKeysTakeTheirDefaults) {
    UseConfig("[System 0]\nDigitizers = 2\n[System 0 Digitizer 1]\nBands = 3\n");
    ASSERT_NE(AllocApp(), 0);
    EXPECT_EQ(Descriptor(mil, 0), "M_SYSTEM_SOLIOS");
    const MilId system = AllocSystem("M_SYSTEM_SOLIOS", 0);
    ASSERT_NE(system, 0);
    const MilId mono = AllocDigitizer(system, 0);
    const MilId colour = AllocDigitizer(system, 1);
    ASSERT_NE(mono, 0);
    ASSERT_NE(colour, 0);
    EXPECT_EQ(Inquire(mono, mil::kSizeX), 2048);
    EXPECT_EQ(Inquire(mono, mil::kSizeY), 1000);
    EXPECT_EQ(Inquire(mono, mil::kSizeBand), 1);
    EXPECT_EQ(Inquire(mono, mil::kSizeBit), 8);
    EXPECT_EQ(Inquire(mono, mil::kColorMode), 0);
    EXPECT_EQ(Inquire(colour, mil::kSizeBand), 3);
    EXPECT_EQ(Inquire(colour, mil::kColorMode), 8) << "three bands default to colour mode 8";
}

TEST_F(SimMilSetupTest, InstalledSystemsEndAtTheFirstMissingIndex) {
    UseConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\n[System 2]\nDescriptor = M_SYSTEM_VIO\n");
    ASSERT_NE(AllocApp(), 0);
    EXPECT_EQ(mil.MappInquire(mil::kInstalledSystemCount, nullptr), 1);
}

TEST_F(SimMilSetupTest, ConfigurationWithoutSystemsInstallsNone) {
    UseConfig("; nothing installed\n[Faults]\nBufferLimit = 0\n");
    ASSERT_NE(AllocApp(), 0);
    EXPECT_EQ(mil.MappInquire(mil::kInstalledSystemCount, nullptr), 0);
    EXPECT_EQ(AllocSystem(), 0);
}

TEST_F(SimMilSetupTest, DescriptorInquiryBeyondTheInstalledSystemsIsRefused) {
    ASSERT_NE(AllocApp(), 0);
    char text[260];
    std::memset(text, 'x', sizeof text);
    mil.MappInquire(mil::kInstalledSystemDescriptor + 2, text);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(text[0], 'x');
}

TEST_F(SimMilSetupTest, UnreadableConfigurationFailsAppAllocNamingTheFile) {
    const std::string path = MissingFile("absent.ini");
    UseConfigPath(path);
    MilId app = 77;
    EXPECT_EQ(mil.MappAlloc(mil::kDefault, &app), 0);
    EXPECT_EQ(app, 0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_THAT(ErrorText(), HasSubstr("absent.ini"));
}

TEST_F(SimMilSetupTest, OutOfRangeValueFailsAppAllocNamingSectionAndKey) {
    UseConfig("[System 0]\n[System 0 Digitizer 0]\nBits = 20\n");
    EXPECT_EQ(AllocApp(), 0);
    EXPECT_THAT(ErrorText(), HasSubstr("[System 0 Digitizer 0] Bits=20"));

    UseConfig("[System 0]\n[System 0 Digitizer 0]\nBands = 2\n");
    EXPECT_EQ(AllocApp(), 0);
    EXPECT_THAT(ErrorText(), HasSubstr("Bands=2"));

    UseConfig("[System 0]\nDevices = 0,-1\n");
    EXPECT_EQ(AllocApp(), 0);
    EXPECT_THAT(ErrorText(), HasSubstr("Devices"));
}

TEST_F(SimMilSetupTest, AppAllocFailsFaultRefusesTheApplication) {
    UseConfig("[System 0]\n[Faults]\nAppAllocFails = 1\n");
    EXPECT_EQ(AllocApp(), 0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_THAT(ErrorText(), HasSubstr("AppAllocFails"));
}

TEST_F(SimMilSetupTest, SecondApplicationIsRefusedUntilTheFirstIsFreed) {
    const MilId app = AllocApp();
    ASSERT_NE(app, 0);
    EXPECT_EQ(AllocApp(), 0);
    EXPECT_TRUE(ErrorPending());
    mil.MappFree(app);
    EXPECT_FALSE(ErrorPending());
    EXPECT_NE(AllocApp(), 0);
}

TEST_F(SimMilSetupTest, FreeingTheApplicationFreesEverythingItHeld) {
    const MilId app = AllocApp();
    const MilId system = AllocSystem();
    const MilId dig = AllocDigitizer(system, 0);
    ASSERT_NE(dig, 0);
    ASSERT_NE(mil.MbufAlloc2d(system, 16, 16, 8, mil::kImageGrab, nullptr), 0);
    mil.MappFree(app);
    EXPECT_EQ(sim::HeldBufferCount(), 0);
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);
    EXPECT_EQ(Inquire(dig, mil::kSizeX), 0);
    EXPECT_TRUE(ErrorPending());
}

TEST_F(SimMilSetupTest, ErrorTextIsCutToTheCallersBufferAndTerminated) {
    const std::string path = MissingFile(std::string(300, 'n') + ".ini");
    UseConfigPath(path);
    EXPECT_EQ(AllocApp(), 0);

    char text[mil::kErrorTextSize + 16];
    std::memset(text, 0x5A, sizeof text);
    EXPECT_NE(mil.MappGetError(mil::kErrorMessage, text), 0);
    EXPECT_EQ(std::strlen(text), static_cast<size_t>(mil::kErrorTextSize - 1));
    for (size_t i = mil::kErrorTextSize; i < sizeof text; ++i)
        EXPECT_EQ(text[i], 0x5A) << i;
}

TEST_F(SimMilSetupTest, MessageRequestWithoutPendingErrorGivesZeroAndEmptyText) {
    ASSERT_NE(AllocApp(), 0);
    char text[mil::kErrorTextSize];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(mil.MappGetError(mil::kErrorMessage, text), 0);
    EXPECT_STREQ(text, "");
}

TEST_F(SimMilSetupTest, ReadingTheErrorLeavesItPending) {
    EXPECT_EQ(mil.MsysInquire(12345, mil::kDigitizerNum, nullptr), 0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_THAT(ErrorText(), HasSubstr("12345"));
    EXPECT_TRUE(ErrorPending());
}

TEST_F(SimMilSetupTest, EverySucceedingCallClearsThePreviousError) {
    const MilId app = AllocApp();
    ASSERT_NE(app, 0);
    mil.MappControl(0x1234, 0);
    EXPECT_TRUE(ErrorPending());
    mil.MappControl(mil::kErrorReporting, mil::kPrintDisable);
    EXPECT_FALSE(ErrorPending());
}

TEST_F(SimMilSetupTest, ErrorsBelongToTheThreadThatCausedThem) {
    ASSERT_NE(AllocApp(), 0);
    mil.MsysFree(4242); // fails on this thread
    ASSERT_TRUE(ErrorPending());

    bool otherSawError = true;
    std::string otherText;
    std::thread other([&] {
        otherSawError = ErrorPending();
        mil.MsysFree(777); // fails on the other thread
        otherText = ErrorText();
    });
    other.join();

    EXPECT_FALSE(otherSawError);
    EXPECT_THAT(otherText, HasSubstr("777"));
    EXPECT_THAT(ErrorText(), HasSubstr("4242")) << "the other thread's error did not replace this one";
}

TEST_F(SimMilSetupTest, DigitizerBeyondTheBoardsCountIsRefused) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    EXPECT_EQ(AllocDigitizer(system, 3), 0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(AllocDigitizer(system, -1), 0);
    EXPECT_EQ(AllocDigitizer(9999, 0), 0);
}

TEST_F(SimMilSetupTest, DigitizerAllocatedTwiceIsRefusedUntilFreed) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const MilId dig = AllocDigitizer(system, 0);
    ASSERT_NE(dig, 0);
    EXPECT_EQ(AllocDigitizer(system, 0), 0);
    EXPECT_TRUE(ErrorPending());
    mil.MdigFree(dig);
    EXPECT_FALSE(ErrorPending());
    EXPECT_NE(AllocDigitizer(system, 0), 0);
}

TEST_F(SimMilSetupTest, DcfDigitizerSectionOverridesTheConfiguredKeys) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const std::string dcf = WriteFile("camera.dcf", "[digitizer]\nWidth = 640\nBits = 10\n");
    const MilId dig = AllocDigitizer(system, 0, dcf.c_str());
    ASSERT_NE(dig, 0) << ErrorText();
    EXPECT_EQ(Inquire(dig, mil::kSizeX), 640);
    EXPECT_EQ(Inquire(dig, mil::kSizeBit), 10);
    EXPECT_EQ(Inquire(dig, mil::kSizeY), 1000) << "keys the DCF leaves out keep the configured value";
}

TEST_F(SimMilSetupTest, DcfWithThreeBandsGetsTheColourDefault) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const std::string dcf = WriteFile("colour.dcf", "[Digitizer]\nBands = 3\n");
    const MilId dig = AllocDigitizer(system, 0, dcf.c_str());
    ASSERT_NE(dig, 0) << ErrorText();
    EXPECT_EQ(Inquire(dig, mil::kColorMode), 8);
}

TEST_F(SimMilSetupTest, DefaultDcfNameInAnyCaseMeansTheConfiguredValues) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const MilId dig = AllocDigitizer(system, 1, "m_default");
    ASSERT_NE(dig, 0);
    EXPECT_EQ(Inquire(dig, mil::kSizeBit), 12);
}

TEST_F(SimMilSetupTest, MissingDcfRefusesTheDigitizerNamingTheFile) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const std::string dcf = MissingFile("gone.dcf");
    MilId dig = 55;
    EXPECT_EQ(mil.MdigAlloc(system, 0, dcf.c_str(), mil::kDefault, &dig), 0);
    EXPECT_EQ(dig, 0);
    EXPECT_THAT(ErrorText(), HasSubstr("gone.dcf"));
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);
}

TEST_F(SimMilSetupTest, DcfWithoutDigitizerSectionRefusesTheDigitizerNamingTheFile) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const std::string dcf = WriteFile("other.dcf", "[Camera]\nWidth = 640\n");
    EXPECT_EQ(AllocDigitizer(system, 0, dcf.c_str()), 0);
    EXPECT_THAT(ErrorText(), HasSubstr("other.dcf"));
    EXPECT_THAT(ErrorText(), HasSubstr("[Digitizer]"));
}

TEST_F(SimMilSetupTest, DcfWithOutOfRangeValueRefusesTheDigitizer) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const std::string dcf = WriteFile("wide.dcf", "[Digitizer]\nWidth = 0\n");
    EXPECT_EQ(AllocDigitizer(system, 0, dcf.c_str()), 0);
    EXPECT_THAT(ErrorText(), HasSubstr("Width=0"));
}

TEST_F(SimMilSetupTest, DigitizerInquiryWritesA32BitIntegerWhenGivenRoom) {
    ASSERT_NE(AllocApp(), 0);
    const MilId dig = AllocDigitizer(AllocSystem(), 2);
    MilInt out[2] = {-1, -1};
    EXPECT_EQ(mil.MdigInquire(dig, mil::kSizeY, out), 768);
    EXPECT_EQ(out[0], 768);
    EXPECT_EQ(out[1], -1) << "exactly one 32-bit value is written";
}

TEST_F(SimMilSetupTest, UnknownDigitizerInquiryOrControlSetsAnError) {
    ASSERT_NE(AllocApp(), 0);
    const MilId dig = AllocDigitizer(AllocSystem(), 0);
    MilInt out = -1;
    EXPECT_EQ(mil.MdigInquire(dig, 0, &out), 0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(out, -1);
    mil.MdigControl(dig, 0x7777, 1.0);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(sim::InspectDigitizer(dig)->controls.count(0x7777), 0u);
}

TEST_F(SimMilSetupTest, DigitizerControlsAreRecordedAndTheTimeOutCanBeInquired) {
    ASSERT_NE(AllocApp(), 0);
    const MilId dig = AllocDigitizer(AllocSystem(), 0);
    mil.MdigControl(dig, mil::kControl4016, 1.0);
    EXPECT_FALSE(ErrorPending());
    mil.MdigControl(dig, mil::kGrabTimeout, 250.0);
    EXPECT_FALSE(ErrorPending());
    const std::optional<sim::DigitizerState> state = sim::InspectDigitizer(dig);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->controls.at(mil::kControl4016), 1.0);
    EXPECT_EQ(state->grabTimeoutMs, 250);
    EXPECT_EQ(Inquire(dig, mil::kGrabTimeout), 250);
}

TEST_F(SimMilSetupTest, LookupTableResetIsCountedAndOtherTablesRefused) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const MilId first = AllocDigitizer(system, 0);
    const MilId second = AllocDigitizer(system, 1);
    mil.MdigLut(first, mil::kDefault);
    mil.MdigLut(second, mil::kDefault);
    mil.MdigLut(second, mil::kDefault);
    EXPECT_FALSE(ErrorPending());
    mil.MdigLut(second, 1234);
    EXPECT_TRUE(ErrorPending());
    EXPECT_EQ(sim::LutResetCount(), 3);
    EXPECT_EQ(sim::InspectDigitizer(first)->lutResets, 1);
    EXPECT_EQ(sim::InspectDigitizer(second)->lutResets, 2);
}

TEST_F(SimMilSetupTest, FreeingABoardFreesItsDigitizersAndBuffers) {
    ASSERT_NE(AllocApp(), 0);
    const MilId system = AllocSystem();
    const MilId dig = AllocDigitizer(system, 0);
    const MilId buffer = mil.MbufAlloc2d(system, 8, 8, 8, mil::kImageGrab, nullptr);
    ASSERT_NE(buffer, 0);
    mil.MsysFree(system);
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);
    EXPECT_EQ(sim::HeldBufferCount(), 0);
    mil.MbufFree(buffer);
    EXPECT_TRUE(ErrorPending()) << "the buffer went with its board";
    EXPECT_NE(AllocSystem(), 0);
    EXPECT_FALSE(sim::InspectDigitizer(dig));
}

} // namespace
} // namespace kestcam::test
