// configureCamera without a dialog framework: one log line, answered as a cancelled sheet.
#include <filesystem>

#include "driver_fixture.h"

namespace kestcam::test {
namespace {

using HeadlessConfigureCamera = DriverTest;

TEST_F(HeadlessConfigureCamera, AnswersCancelledSaysWhyAndWritesNothing) {
    ASSERT_EQ(Initialize(), 1);
    EXPECT_EQ(Driver().configureCamera(nullptr, "Camera 1"), 1);
    EXPECT_TRUE(Log().Contains("no dialog service is available"));
    EXPECT_FALSE(std::filesystem::exists(dir_.File("Kest.ini")));
}

} // namespace
} // namespace kestcam::test
