// The by-ordinal imaging-library loader: a DLL that exports the functions by ordinal only (the
// simulator DLL) is called through the table; a missing DLL or missing ordinals leave the table
// that fails cleanly, with a log line naming what is missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "driver/logger.h"
#include "mil/mil_api.h"
#include "mil/mil_backend.h"
#include "os/dynamic_library.h"
#include "sim/sim_control.h"
#include "support/env.h"
#include "support/temp_dir.h"

namespace kestcam {
namespace {

using ::testing::HasSubstr;

std::mutex g_mutex;
std::vector<std::string> g_texts;
void KESTCAM_CDECL Capture(const char *text) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_texts.emplace_back(text);
}

class MilLoader : public ::testing::Test {
protected:
    void SetUp() override {
        g_texts.clear();
        Logger::Instance().SetDebugMsgProc(&Capture);
        Logger::Instance().SetLogLevel(3);
    }
    void TearDown() override { Logger::Instance().SetDebugMsgProc(nullptr); }

    static std::string AllLogText() {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::string all;
        for (const std::string &t : g_texts)
            all += t;
        return all;
    }

    // The simulator in the DLL reads its own configuration: the built-in default.
    test::ScopedEnv defaultConfig_{"KESTCAM_SIM_CONFIG", ""};
};

TEST_F(MilLoader, SimulatorDllIsCalledThroughEveryResolvedOrdinal) {
    const MilFunctions &mil = PlatformMilFunctions(KESTCAM_SIM_DLL);
    ASSERT_NE(&mil, &UnavailableMilFunctions());
    ASSERT_NE(&mil, &BuiltInSimulatorFunctions());
    EXPECT_THAT(AllLogText(), HasSubstr("resolved by ordinal"));

    MilId app = 0;
    ASSERT_NE(mil.MappAlloc(mil::kDefault, &app), 0);
    ASSERT_NE(app, 0);
    MilInt systems = 0;
    mil.MappInquire(mil::kInstalledSystemCount, &systems);
    EXPECT_EQ(systems, 2);
    char descriptor[260] = {};
    mil.MappInquire(mil::kInstalledSystemDescriptor + 0, descriptor);
    EXPECT_STREQ(descriptor, "M_SYSTEM_SOLIOS");

    MilId system = 0;
    ASSERT_NE(mil.MsysAlloc("M_SYSTEM_SOLIOS", 0, mil::kDefault, &system), 0);
    MilInt digitizers = 0;
    mil.MsysInquire(system, mil::kDigitizerNum, &digitizers);
    EXPECT_EQ(digitizers, 3);

    MilId digitizer = 0;
    ASSERT_NE(mil.MdigAlloc(system, 0, "M_DEFAULT", mil::kDefault, &digitizer), 0);
    EXPECT_EQ(mil.MdigInquire(digitizer, mil::kSizeX, nullptr), 2048);
    EXPECT_EQ(mil.MdigInquire(digitizer, mil::kSizeBit, nullptr), 8);
    // The calls went to the DLL's own simulator, not to the one linked into this program.
    EXPECT_EQ(sim::HeldDigitizerCount(), 0);

    MilId buffer = 0;
    ASSERT_NE(mil.MbufAlloc2d(system, 2048, 1000, 8, mil::kImageGrab, &buffer), 0);
    mil.MdigGrab(digitizer, buffer);
    EXPECT_EQ(mil.MappGetError(mil::kErrorCurrent, nullptr), 0);
    unsigned char row[2048] = {};
    mil.MbufGet2d(buffer, 0, 2, 2048, 1, row);
    // ramp of frame 0: x + 3*y
    EXPECT_EQ(row[0], 6);
    EXPECT_EQ(row[10], 16);

    // A call the simulator refuses reports through the DLL's MappGetError.
    mil.MdigGrab(digitizer, 0x7fffffff);
    EXPECT_NE(mil.MappGetError(mil::kErrorCurrent, nullptr), 0);
    char text[mil::kErrorTextSize] = {};
    mil.MappGetError(mil::kErrorMessage, text);
    EXPECT_NE(text[0], '\0');

    mil.MbufFree(buffer);
    mil.MdigFree(digitizer);
    mil.MsysFree(system);
    mil.MappFree(app);
}

TEST_F(MilLoader, SameLibraryIsLoadedOnceAndKept) {
    const MilFunctions &first = PlatformMilFunctions(KESTCAM_SIM_DLL);
    const MilFunctions &second = PlatformMilFunctions(KESTCAM_SIM_DLL);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(first.MappAlloc, second.MappAlloc);
}

TEST_F(MilLoader, MissingDllGivesTheFailingTableAndNamesTheDll) {
    test::TempDir dir;
    const std::string path = dir.File("absent\\MIL.dll");
    const MilFunctions &mil = PlatformMilFunctions(path.c_str());
    EXPECT_EQ(&mil, &UnavailableMilFunctions());
    EXPECT_THAT(AllLogText(), HasSubstr("MilBackend: ERROR: cannot load the imaging library " + path));
    MilId app = 1;
    EXPECT_EQ(mil.MappAlloc(mil::kDefault, &app), 0);
    EXPECT_EQ(app, 0);
}

TEST_F(MilLoader, DllWithoutTheOrdinalsIsNotUsedAndTheMissingOrdinalsAreNamed) {
    // The driver DLL has a dozen or so exports, numbered from 1: none of the imaging library's.
    const MilFunctions &mil = PlatformMilFunctions(KESTCAM_DRIVER_DLL);
    EXPECT_EQ(&mil, &UnavailableMilFunctions());
    const std::string log = AllLogText();
    EXPECT_THAT(log, HasSubstr("MilBackend: ERROR: the imaging library " KESTCAM_DRIVER_DLL " lacks ordinal(s) "
                               "1648 (MappAlloc), 101 (MappControl)"));
    EXPECT_THAT(log, HasSubstr("123 (MbufFree)\n"));
}

TEST_F(MilLoader, SimSelectsTheBuiltInSimulator) {
    EXPECT_EQ(&PlatformMilFunctions("sim"), &BuiltInSimulatorFunctions());
}

TEST(DynamicLibraryWin32, OrdinalOnlyExportsHaveNoNames) {
    std::string error;
    os::DynamicLibrary library = os::DynamicLibrary::Open(KESTCAM_SIM_DLL, error);
    ASSERT_TRUE(library.IsLoaded()) << error;
    EXPECT_NE(library.Ordinal(1648), nullptr);
    EXPECT_EQ(library.Symbol("MappAlloc"), nullptr);
    EXPECT_EQ(library.Symbol("SimMappAlloc"), nullptr);
    EXPECT_EQ(library.Ordinal(1507), nullptr); // MdigGetHookInfo: never called, so not provided
    EXPECT_EQ(library.Ordinal(0), nullptr);
    EXPECT_EQ(library.Ordinal(0x10000), nullptr);
}

} // namespace
} // namespace kestcam
