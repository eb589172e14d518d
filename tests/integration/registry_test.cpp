// Driver start and stop through the exports: camera enumeration, naming, order and the failure paths.
#include <gtest/gtest.h>

#include <regex>

#include "driver_fixture.h"

namespace kestcam::test {
namespace {

using ::testing::ElementsAre;

class Registry : public DriverTest {};

TEST_F(Registry, BuiltInSimulatorGivesThreeCameras) {
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 3);
    EXPECT_THAT(CameraNames(), ElementsAre("Camera 1", "Camera 2", "Camera 3"));
    EXPECT_EQ(Driver().getCVLMaxNoOfGrabbers(), 1);
    EXPECT_EQ(Driver().getCVLMaxNoOfPorts(), 20);
    EXPECT_TRUE(Log().Contains("M_SYSTEM_HOST system not supported, skiped"));
}

TEST_F(Registry, BoardsOfSeveralSystemsAreNamedByInstalledIndexAndOrderedByDescriptor) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0,1\nDigitizers = 2\n"
                 "[System 1]\nDescriptor = M_SYSTEM_METEOR_II\nDevices = 0\nDigitizers = 2\n"
                 "[System 2]\nDescriptor = M_SYSTEM_HOST\nDevices = 0\nDigitizers = 1\n");
    ASSERT_EQ(Initialize(), 1);
    // M_SYSTEM_METEOR_II sorts before M_SYSTEM_SOLIOS, but keeps its own installed index (1).
    EXPECT_THAT(CameraNames(), ElementsAre("Camera 2-1-1", "Camera 2-1-2", "Camera 1", "Camera 2", "Camera 1-2-1",
                                           "Camera 1-2-2"));
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 6);
    EXPECT_TRUE(Log().Contains("MilApp::Init: Device 2 allocation failed (not found)\n"));
}

TEST_F(Registry, ADescriptorContainingASupportedTypeIsSupported) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_HOST\n"
                 "[System 1]\nDescriptor = M_SYSTEM_SOLIOS_GIGE\nDevices = 2\nDigitizers = 1\n");
    ASSERT_EQ(Initialize(), 1);
    EXPECT_THAT(CameraNames(), ElementsAre("Camera 2-3-1"));
}

TEST_F(Registry, RepeatedDescriptorIsProbedOnceUnderItsLastIndex) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 1\n"
                 "[System 1]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 1\n");
    ASSERT_EQ(Initialize(), 1);
    EXPECT_THAT(CameraNames(), ElementsAre("Camera 2-1-1"));
}

TEST_F(Registry, NoSupportedBoardStillInitializesWithAnEmptyList) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_HOST\n");
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    char **names = Driver().getCVLCameraConfigNames();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names[0], nullptr);
    EXPECT_TRUE(Log().Contains("MilApp::Init: ERROR: no boards could be initialized"));
}

TEST_F(Registry, BoardWithoutDigitizersStaysWithoutCameras) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 0\nDigitizers = 0\n");
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    EXPECT_FALSE(Log().Contains("no boards could be initialized"));
}

TEST_F(Registry, BoardLineAndSerialNumberAreLogged) {
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDevices = 1\n");
    ASSERT_EQ(Initialize(), 1);
    EXPECT_TRUE(Log().Contains("MilSystem::Init: board num:1 M_Default:0 M_Dev_0:1 M_Dev1:1 M_Dev2:0\n"));
    EXPECT_TRUE(Log().Contains("Board serial #:SIM-0-1\n"));
    EXPECT_TRUE(Log().Contains("MilSystem::Init: digitizer count:1\n"));
}

TEST_F(Registry, BannerCarriesVersionAndFourDigitYear) {
    ASSERT_EQ(Initialize(), 1);
    bool found = false;
    for (const std::string &m : Log().Messages())
        if (std::regex_match(m, std::regex(R"(initialize: Mil camera driver V1,0,0,22, 20\d\d-\d+-\d+ \d+:\d+:\d+\n)")))
            found = true;
    EXPECT_TRUE(found);
}

TEST_F(Registry, EveryMessageArrivesAsStampThenText) {
    ASSERT_EQ(Initialize(), 1);
    const auto texts = Log().Texts();
    ASSERT_GE(texts.size(), 2u);
    ASSERT_EQ(texts.size() % 2, 0u);
    const std::regex stamp(R"(\d\d/\d\d/0\d \d\d:\d\d:\d\d: )");
    for (size_t i = 0; i < texts.size(); i += 2) EXPECT_TRUE(std::regex_match(texts[i], stamp)) << texts[i];
}

TEST_F(Registry, FailedApplicationAllocationLeavesNoCameras) {
    UseSimConfig("[Faults]\nAppAllocFails = 1\n");
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    EXPECT_TRUE(Log().Contains("MilApp::Init: ERROR: MappAlloc failed, "));
}

TEST_F(Registry, UnreadableSimulatorConfigurationIsReportedNotFatal) {
    ScopedEnv missing("KESTCAM_SIM_CONFIG", dir_.File("does-not-exist.ini"));
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    bool named = false;
    for (const std::string &m : Log().Messages())
        if (m.find("MappAlloc failed") != std::string::npos && m.find("does-not-exist.ini") != std::string::npos)
            named = true;
    EXPECT_TRUE(named) << "the log line should name the unreadable file";
}

TEST_F(Registry, SecondInitializeKeepsTheRegistryInsteadOfDuplicatingCameras) {
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 3);
    EXPECT_TRUE(Log().Contains("initialize: WARNING: already initialized"));
}

TEST_F(Registry, FinalizeThenInitializeBuildsAFreshRegistry) {
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().finalize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    ASSERT_EQ(Initialize(), 1);
    EXPECT_THAT(CameraNames(), ElementsAre("Camera 1", "Camera 2", "Camera 3"));
}

TEST_F(Registry, FinalizeBeforeInitializeSucceeds) {
    EXPECT_EQ(Driver().finalize(), 1);
    EXPECT_EQ(Driver().finalize(), 1);
}

TEST_F(Registry, NamesArrayIsReplacedOnEveryCall) {
    ASSERT_EQ(Initialize(), 1);
    char **first = Driver().getCVLCameraConfigNames();
    ASSERT_NE(first, nullptr);
    const std::string name0 = first[0];
    char **second = Driver().getCVLCameraConfigNames();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::string(second[0]), name0);
    EXPECT_EQ(second[3], nullptr);
}

TEST_F(Registry, NullOrEmptySystemPathKeepsThePreviousOne) {
    EXPECT_EQ(Driver().setSystemPath(nullptr), 0);
    EXPECT_EQ(Driver().setSystemPath(""), 0);
    EXPECT_EQ(Driver().initialize(nullptr, &LogCapture::Proc), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 3);
    EXPECT_EQ(Driver().initialize("", nullptr), 1);
}

TEST_F(Registry, NullCallbackSwitchesOutputOff) {
    Driver().setDebugMsgProc(nullptr);
    EXPECT_EQ(Driver().initialize(dir_.Str().c_str(), nullptr), 1);
    EXPECT_TRUE(Log().Texts().empty());
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 3);
}

TEST_F(Registry, ListQueriesBeforeInitializeAnswerEmpty) {
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    char **names = Driver().getCVLCameraConfigNames();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names[0], nullptr);
}

} // namespace
} // namespace kestcam::test
