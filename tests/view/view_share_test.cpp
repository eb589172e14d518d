// The viewer on another process's camera share: it waits for the share to appear, then shows the
// shared frames at the share's size.
#include <unistd.h>

#include "view/view_fixture.h"

namespace kestcam::test {
namespace {

TEST_F(ViewTest, AShareIsWaitedForAndItsFramesAreShown) {
    const std::string name = "kestcam-view-test-" + std::to_string(::getpid());
    StartViewWith({"view", "--share", name, "--listen", "127.0.0.1:0"});
    const std::string waiting = Status();
    EXPECT_NE(waiting.find("\"source\":\"share " + name + "\""), std::string::npos) << waiting;
    EXPECT_NE(waiting.find("waiting for the share"), std::string::npos) << waiting;

    // A host that grabs on and on with sharing on: another process, as the share's clients expect.
    dir_.Write("Kest.ini", "[Camera 1]\nShareCamera=1\nShareName=" + name + "\n");
    ViewProcess host;
    std::string why;
    ASSERT_TRUE(host.Spawn(
        {"--system-path", dir_.Str(), "grab", "--camera", "Camera 1", "--grabs", "100000", "--interval", "20"},
        why))
        << why;
    const long first = StreamFrameAfter(0);
    ASSERT_GT(first, 0);
    EXPECT_GT(StreamFrameAfter(first + 3), first + 3);
    const std::string status = Status();
    EXPECT_EQ(JsonNumber(status, "width"), kViewWidth) << status;
    EXPECT_EQ(JsonNumber(status, "height"), kViewHeight) << status;
    EXPECT_NE(status.find("\"problem\":\"\""), std::string::npos) << status;
    auto frame = Client()->Get("/frame.jpg");
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->status, 200);
    EXPECT_EQ(frame->body.compare(0, 2, "\xFF\xD8"), 0) << "not a JPEG";
    host.Stop(kStopBound);
}

} // namespace
} // namespace kestcam::test
