// configureCamera through the loaded driver: the names it cannot show a sheet for.
#include <filesystem>

#include "driver_fixture.h"

namespace kestcam::test {
namespace {

using ConfigureCameraExport = DriverTest;

TEST_F(ConfigureCameraExport, AnUnknownOrNullNameAnswersZeroAndIsLogged) {
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().configureCamera(nullptr, "Camera 9"), 0);
    EXPECT_EQ(Driver().configureCamera(nullptr, nullptr), 0);
    EXPECT_TRUE(Log().Contains("configureCamera: ERROR: cannot find camera by name: Camera 9\n"));
}

} // namespace
} // namespace kestcam::test
