// The imaging library as the Windows driver finds it: MIL.dll by default, or the DLL KESTCAM_MIL
// names, resolved by ordinal. Without it the driver still initializes, with no cameras.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver_fixture.h"

namespace kestcam::test {
namespace {

class MilLoading : public DriverTest {};

TEST_F(MilLoading, MissingMilDllGivesNoCamerasAndTheMappAllocFailedLine) {
    HMODULE installed = LoadLibraryA("MIL.dll");
    if (installed != nullptr) {
        FreeLibrary(installed);
        GTEST_SKIP() << "MIL.dll is installed on this machine";
    }
    ScopedEnv unset("KESTCAM_MIL", "");
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    char **names = Driver().getCVLCameraConfigNames();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names[0], nullptr);
    EXPECT_TRUE(Log().Contains("MilBackend: ERROR: cannot load the imaging library MIL.dll"));
    EXPECT_TRUE(Log().Contains("MilApp::Init: ERROR: MappAlloc failed"));
}

TEST_F(MilLoading, KestcamMilNamingAMissingDllTakesTheMappAllocFailedPath) {
    const std::string path = dir_.File("absent\\MIL.dll");
    ScopedEnv missing("KESTCAM_MIL", path);
    EXPECT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 0);
    EXPECT_TRUE(Log().Contains("MilBackend: ERROR: cannot load the imaging library " + path));
    EXPECT_TRUE(Log().Contains("MilApp::Init: ERROR: MappAlloc failed"));
}

// Run with KESTCAM_MIL naming the simulator DLL, the cameras come from calls made by ordinal.
TEST_F(MilLoading, SimulatorDllLoadedByOrdinalGivesTheSimulatedCameras) {
    const char *selection = std::getenv("KESTCAM_MIL");
    if (selection == nullptr || selection[0] == '\0' || std::strcmp(selection, "sim") == 0)
        GTEST_SKIP() << "KESTCAM_MIL names no imaging library DLL in this run";
    EXPECT_EQ(Initialize(), 1);
    EXPECT_TRUE(Log().Contains(std::string("MilBackend: imaging library ") + selection +
                               " loaded, 20 functions resolved by ordinal"));
    EXPECT_EQ(Driver().getCVLNoOfSupportedCameras(), 3);
}

} // namespace
} // namespace kestcam::test
