// Frame sharing through the driver as a host drives it, seen by the sharing client in another
// process or on another thread: dimensions, frames equal to the host's rows, reconnects, a refused
// second client, skipped frames, bad input, sharing that cannot start, a bounded Stop, and
// back-to-back grabbing without a torn frame.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "acquisition_fixture.h"
#include "driver/logger.h"
#include "share/share_client.h"
#include "share/shared_memory.h"
#include "support/child_process.h"
#include "support/contract_mutex.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestcam::test {
namespace {

constexpr int kBoundMs = 30000;
constexpr int kWidth = 96;
constexpr int kHeight = 16;

std::string UniqueShareName() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007;
    return "kcshare-" + std::to_string(stamp) + "-" + std::to_string(counter++);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The client in another process: this program started again with KESTCAM_SHARE_CHILD set to
// "NAME;FRAMES;DIR". It writes the dimensions to DIR/dims.txt and each frame to DIR/frame-N.raw,
// and acknowledges frame N with a header of type 100 + N, which the server logs.
int RunShareChild(const std::string &spec) {
    const size_t a = spec.find(';');
    const size_t b = spec.find(';', a + 1);
    if (a == std::string::npos || b == std::string::npos) return 10;
    const std::string name = spec.substr(0, a);
    const int frames = std::atoi(spec.substr(a + 1, b - a - 1).c_str());
    const std::string dir = spec.substr(b + 1);
    Logger::Instance().SetLogLevel(0);
    ShareClient client;
    std::string error;
    if (!client.Connect(name, kBoundMs, error)) {
        std::fprintf(stderr, "share child: %s\n", error.c_str());
        return 11;
    }
    const ShareDimensions d = client.Dimensions();
    std::ofstream(dir + "/dims.txt") << d.width << " " << d.height << " " << d.format;
    std::vector<char> frame(client.FrameBytes());
    for (int n = 1; n <= frames; ++n) {
        if (client.WaitForFrame(kBoundMs) != ShareClient::Wait::Frame) return 12;
        if (!client.CopyFrame(frame.data(), frame.size())) return 13;
        std::ofstream(dir + "/frame-" + std::to_string(n) + ".raw", std::ios::binary)
            .write(frame.data(), frame.size());
        const ShareMessage ack = EncodeShareHeader(ShareHeader{kShareMagic, 100 + n, 0});
        if (!client.SendRaw(ack.data(), kShareMessageSize)) return 14;
    }
    return 0;
}

const int g_shareChild = [] {
    const char *spec = std::getenv("KESTCAM_SHARE_CHILD");
    if (spec != nullptr && spec[0] != '\0') std::exit(RunShareChild(spec));
    return 0;
}();

#ifndef _WIN32
// A host in another process that shares "Camera 1": this program started again with
// KESTCAM_SHARE_HOST set to "SYSTEM_PATH;FIFO". Once the camera is open it writes to FIFO, then
// waits to be killed.
int RunShareHost(const std::string &spec) {
    const size_t a = spec.find(';');
    if (a == std::string::npos) return 20;
    const std::string system = spec.substr(0, a);
    Driver().setSystemPath(system.c_str());
    int geometry[2] = {0, 0};
    if (Driver().initialize(system.c_str(), nullptr) != 1 || Driver().openCVLPort(0, 0, "Camera 1", geometry) != 1)
        return 21;
    const int ready = open(spec.substr(a + 1).c_str(), O_WRONLY | O_CLOEXEC);
    if (ready < 0 || write(ready, "1", 1) != 1) return 22;
    for (;;)
        pause();
}

const int g_shareHost = [] {
    const char *spec = std::getenv("KESTCAM_SHARE_HOST");
    if (spec != nullptr && spec[0] != '\0') std::exit(RunShareHost(spec));
    return 0;
}();

bool ObjectExists(const std::string &name) {
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
}
#endif

// A frame of one grab of the 8-bit ramp: every sample follows the frame number of its buffer, the
// first buffer's number read from the first sample. Colour samples are blue, green, red.
bool IsOneGrab(const std::vector<uint8_t> &f, int frames, int bytesPerPixel) {
    if (f.size() != static_cast<size_t>(kWidth) * kHeight * frames * bytesPerPixel) return false;
    const auto band = [&](int byte) { return bytesPerPixel == 3 ? 2 - byte : 0; };
    const int base = f[0] - 85 * band(0);
    size_t i = 0;
    for (int k = 0; k < frames; ++k)
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int j = 0; j < bytesPerPixel; ++j)
                    if (f[i++] != static_cast<uint8_t>(base + x + 3 * y + 7 * k + 85 * band(j))) return false;
    return true;
}

class ShareTest : public AcquisitionTest {
protected:
    // "Camera 1" of kWidth x kHeight with `bands` bands, `frames` frames a grab, shared as name,
    // open on port 0.
    void OpenShared(int bands, int frames, const std::string &name, const std::string &extra = "") {
        UseOneDigitizer("Width = " + std::to_string(kWidth) + "\nHeight = " + std::to_string(kHeight) +
                        "\nBands = " + std::to_string(bands));
        WriteSettings("Camera 1", "ShareCamera=1\nShareName=" + name +
                                      "\nHeightMultiplier=" + std::to_string(frames) + "\n" + extra);
        ASSERT_EQ(Initialize(), 1);
        ASSERT_TRUE(Open("Camera 1", 0));
    }
    void OpenShared(int bands = 1, int frames = 2) { OpenShared(bands, frames, name_); }

    std::vector<uint8_t> HostImage(int bytesPerPixel = 1, int port = 0) {
        std::vector<uint8_t> image;
        for (int r = 0; r < rows_; ++r) {
            const std::vector<uint8_t> row = Row(port, r, bytesPerPixel);
            image.insert(image.end(), row.begin(), row.end());
        }
        return image;
    }
    bool Connect(ShareClient &client) {
        std::string error;
        const bool ok = client.Connect(name_, kBoundMs, error);
        if (!ok) ADD_FAILURE() << error;
        return ok;
    }
    static std::vector<uint8_t> NextFrame(ShareClient &client) {
        std::vector<uint8_t> frame(client.FrameBytes());
        if (client.WaitForFrame(kBoundMs) != ShareClient::Wait::Frame ||
            !client.CopyFrame(frame.data(), frame.size()))
            frame.clear();
        return frame;
    }
    // The server has begun waiting for its n-th client.
    bool ServerWaitsFor(size_t n) { return Log().WaitForCount("CCameraShare::ThreadMain: waiting for client", n); }
    size_t IndexOf(const std::string &fragment, size_t from = 0) const {
        const std::vector<std::string> m = LogCapture::Instance().Messages();
        for (size_t i = from; i < m.size(); ++i)
            if (m[i].find(fragment) != std::string::npos) return i;
        return std::string::npos;
    }

    const std::string name_ = UniqueShareName();
};

struct CameraKind {
    const char *label;
    int bands;
    int format;
};

// Parameters show as their labels in test lists.
void PrintTo(const CameraKind &k, std::ostream *os) {
    *os << k.label;
}

class ShareFrames : public ShareTest, public ::testing::WithParamInterface<CameraKind> {};

TEST_P(ShareFrames, AClientInAnotherProcessGetsTheDimensionsAndAfterEachGrabTheHostsRows) {
    const CameraKind kind = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenShared(kind.bands, 2));
    TempDir out;
    ScopedEnv spec("KESTCAM_SHARE_CHILD", name_ + ";3;" + out.Str());
    ChildProcess child;
    ASSERT_TRUE(child.Start({}));
    ASSERT_TRUE(Log().WaitFor("CCameraShare::ThreadMain: dimensions sent on port=0"));
    std::vector<std::vector<uint8_t>> host;
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(GrabAndWait(0));
        host.push_back(HostImage(kind.bands));
        ASSERT_TRUE(Log().WaitFor("CCameraShare::ProcessCommand: type " + std::to_string(100 + n) + "\n"));
    }
    ASSERT_EQ(child.Wait(std::chrono::milliseconds(kBoundMs)), 0);
    EXPECT_EQ(ReadFile(out.File("dims.txt")),
              std::to_string(kWidth) + " " + std::to_string(kHeight * 2) + " " + std::to_string(kind.format));
    for (int n = 1; n <= 3; ++n) {
        const std::string frame = ReadFile(out.File("frame-" + std::to_string(n) + ".raw"));
        EXPECT_TRUE(frame == std::string(host[n - 1].begin(), host[n - 1].end())) << "frame " << n;
    }
    EXPECT_TRUE(IsOneGrab(host.back(), 2, kind.bands));
}

INSTANTIATE_TEST_SUITE_P(Share, ShareFrames,
                         ::testing::Values(CameraKind{"Monochrome", 1, kShareFormatMono},
                                           CameraKind{"ColourAsBlueGreenRed", 3, kShareFormatBgr}),
                         [](const ::testing::TestParamInfo<CameraKind> &info) { return info.param.label; });

TEST_F(ShareTest, AClientThatLeavesMidMessageIsFollowedByTheNextWithTheLogLinesOfTheWayBack) {
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    {
        ShareClient first;
        ASSERT_TRUE(Connect(first));
        ASSERT_TRUE(first.SendRaw("\x52\x44\x48", 3));
    }
    ASSERT_TRUE(ServerWaitsFor(2));
    ShareClient second;
    ASSERT_TRUE(Connect(second));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(NextFrame(second), HostImage());

    const size_t gone = IndexOf("CCameraShare::ThreadMain: client disconnected on port 0");
    ASSERT_NE(gone, std::string::npos);
    const size_t error = IndexOf("CCameraShare::ThreadMain: ERROR: ", gone);
    const size_t again = IndexOf("CCameraShare::ThreadMain: Reconnecting...", error);
    EXPECT_NE(IndexOf("CCameraShare::ThreadMain: client connected on port=0", again), std::string::npos);
    EXPECT_TRUE(Log().Contains("CCameraShare::ProcessCommand: WARNING: ignored a message of 3 bytes on port=0"));
}

TEST_F(ShareTest, ASecondClientIsRefusedAtOnceWhileOneIsServedAndServedOnceItHasGone) {
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    auto first = std::make_unique<ShareClient>();
    ASSERT_TRUE(Connect(*first));
    ShareClient second;
    std::string error;
    EXPECT_FALSE(second.Connect(name_, kBoundMs, error));
    // Refused when it opens the pipe, not after waiting for a reply.
    EXPECT_NE(error.find("cannot reach the share's pipe"), std::string::npos) << error;
    first.reset();
    ASSERT_TRUE(ServerWaitsFor(2));
    EXPECT_TRUE(Connect(second));
}

// The error a client's open of a busy pipe reports.
#ifdef _WIN32
constexpr int kBusy = 231; // ERROR_PIPE_BUSY
#else
constexpr int kBusy = ECONNREFUSED;
#endif

TEST_F(ShareTest, OfClientsThatConnectTogetherOneIsServedAndTheOthersAreRefusedNeverReset) {
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    constexpr int kRounds = 10;
    constexpr int kClients = 3;
    for (int round = 1; round <= kRounds; ++round) {
        ASSERT_TRUE(ServerWaitsFor(static_cast<size_t>(round)));
        std::vector<std::unique_ptr<ShareClient>> clients;
        std::vector<std::string> errors(kClients);
        std::vector<std::thread> threads;
        std::promise<void> go;
        const std::shared_future<void> started = go.get_future().share();
        std::atomic<int> served{0};
        for (int i = 0; i < kClients; ++i) {
            clients.push_back(std::make_unique<ShareClient>());
            threads.emplace_back([&, i] {
                started.wait();
                if (clients[i]->Connect(name_, kBoundMs, errors[i])) ++served;
            });
        }
        go.set_value();
        for (std::thread &t : threads)
            t.join();
        EXPECT_EQ(served.load(), 1) << "round " << round;
        for (int i = 0; i < kClients; ++i) {
            if (clients[i]->IsConnected()) continue;
            EXPECT_NE(errors[i].find("(error " + std::to_string(kBusy) + ")"), std::string::npos)
                << "round " << round << ": " << errors[i];
        }
    }
}

TEST_F(ShareTest, ASecondCameraWithTheSameShareNameIsRefusedAndTheFirstSharesOn) {
    const std::string digitizer =
        "Width = " + std::to_string(kWidth) + "\nHeight = " + std::to_string(kHeight) + "\n";
    UseSimConfig("[System 0]\nDescriptor = M_SYSTEM_SOLIOS\nDigitizers = 2\n[System 0 Digitizer 0]\n" + digitizer +
                 "[System 0 Digitizer 1]\n" + digitizer);
    WriteSettings("Camera 1", "ShareCamera=1\nShareName=" + name_ + "\n");
    WriteSettings("Camera 2", "ShareCamera=1\nShareName=" + name_ + "\n");
    ASSERT_EQ(Initialize(), 1);
    ASSERT_TRUE(Open("Camera 1", 0));
    ASSERT_TRUE(Open("Camera 2", 1));
    EXPECT_TRUE(Log().Contains("ERROR: Failed to start camera sharing: the share name '" + name_ +
                               "' is in use by another camera or process"));
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    ASSERT_TRUE(GrabAndWait(1));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(NextFrame(client), HostImage(1, 0));
    // Closing the refused camera takes nothing of the first one's share away.
    Driver().closeCVLPort(0, 1);
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(NextFrame(client), HostImage(1, 0));
    EXPECT_EQ(Log().Count("CCameraShare::static_ThreadMain"), 1u);
}

TEST_F(ShareTest, WithoutAClientGrabsCompleteAndNothingIsWritten) {
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(GrabAndWait(0));
    CSharedMemory segment;
    ASSERT_TRUE(segment.Create(name_.c_str(), true, kWidth * rows_));
    const uint8_t *bytes = segment.View();
    EXPECT_TRUE(std::all_of(bytes, bytes + kWidth * rows_, [](uint8_t b) { return b == 0; }));
    EXPECT_FALSE(Log().Contains("CCameraShare::SendFrame: entered"));
}

TEST_F(ShareTest, GrabsThatCompleteWhileAFrameIsCopiedAreSkippedAndAcquisitionDoesNotWait) {
    ASSERT_NO_FATAL_FAILURE(OpenShared(1, 1));
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    // The client holds the segment: the server's copy of the first frame waits for it.
    client.Segment().Lock();
    ASSERT_TRUE(GrabAndWait(0));
    ASSERT_TRUE(Log().WaitFor("CCameraShare::SendFrame: frame read, writing it to memory"));
    const std::vector<uint8_t> copied = HostImage();
    ASSERT_TRUE(GrabAndWait(0));
    ASSERT_TRUE(GrabAndWait(0));
    client.Segment().Unlock();
    EXPECT_EQ(NextFrame(client), copied);
    ASSERT_TRUE(GrabAndWait(0));
    // A grab announces its frame after its completion callback: the announcement of the last grab in
    // between may come after the copy ended, and that frame is then shared as well, whole.
    std::vector<uint8_t> next = NextFrame(client);
    const std::vector<uint8_t> latest = HostImage();
    if (next != latest) {
        EXPECT_TRUE(IsOneGrab(next, 1, 1));
        next = NextFrame(client);
    }
    EXPECT_EQ(next, latest);
    // No notices were queued for the grabs in between.
    EXPECT_EQ(client.SkippedNotices(), 0);
}

TEST_F(ShareTest, AClientThatStopsTakingNoticesIsSentTheNewestFrameOnceItTakesThemAgain) {
    ASSERT_NO_FATAL_FAILURE(OpenShared(1, 1));
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    // Grabs until the pipe holds no more notices and one is left waiting for the client. Each grab
    // waits for its frame to be shared (or held back): a grab that begins while the server still
    // copies the last frame makes it skip that frame, and a server slower than back-to-back grabs
    // (a loaded machine) would then never fill the pipe.
    const std::string held = "CCameraShare::ThreadMain: the client has not taken the last notice";
    const std::string shared = "CCameraShare::SendFrame: image has been written to memory";
    const auto count = [](const std::vector<std::string> &texts, const std::string &fragment) {
        return static_cast<size_t>(std::count_if(texts.begin(), texts.end(), [&](const std::string &t) {
            return t.find(fragment) != std::string::npos;
        }));
    };
    for (size_t n = 1; !Log().Contains(held); ++n) {
        ASSERT_LE(n, 20000u) << "the pipe never filled";
        ASSERT_TRUE(GrabAndWait(0));
        ASSERT_TRUE(Log().WaitUntil([&](const std::vector<std::string> &texts) {
            return count(texts, shared) >= n || count(texts, held) > 0;
        }));
    }
    // One more, which no copy of the server can be running into: it waits for the held notice.
    ASSERT_TRUE(GrabAndWait(0));
    const std::vector<uint8_t> latest = HostImage();
    // Without another grab: the queued notices, then the one left waiting, then the newest frame's.
    std::vector<uint8_t> frame;
    for (int taken = 0; taken < 4 && frame != latest; ++taken)
        frame = NextFrame(client);
    EXPECT_EQ(frame, latest);
}

TEST_F(ShareTest, CloseEndsPromptlyWhileAClientHoldsTheSegmentAndReadsNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenShared(1, 1));
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    client.Segment().Lock();
    ASSERT_TRUE(GrabAndWait(0));
    ASSERT_TRUE(Log().WaitFor("CCameraShare::SendFrame: frame read, writing it to memory"));
    auto closed = std::async(std::launch::async, [] { Driver().closeCVLPort(0, 0); });
    ASSERT_EQ(closed.wait_for(std::chrono::milliseconds(kBoundMs)), std::future_status::ready);
    // Ended by the stop, not by the wait for the segment running out.
    EXPECT_FALSE(Log().Contains("held the segment for"));
    EXPECT_TRUE(Log().Contains("CCameraShare::StopProcessingThread: thread stopped"));
    EXPECT_TRUE(Log().Contains("CCameraShare::Stop: Stopped share for Camera 1"));
    client.Segment().Unlock();
}

struct BadMessage {
    const char *label;
    std::vector<uint8_t> bytes;
    const char *logged;
};

void PrintTo(const BadMessage &m, std::ostream *os) {
    *os << m.label;
}

class ShareBadMessages : public ShareTest, public ::testing::WithParamInterface<BadMessage> {};

TEST_P(ShareBadMessages, AreIgnoredAndTheClientIsStillAnswered) {
    ASSERT_NO_FATAL_FAILURE(OpenShared());
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    const BadMessage &bad = GetParam();
    ASSERT_TRUE(client.SendRaw(bad.bytes.data(), static_cast<int>(bad.bytes.size())));
    const ShareMessage request = EncodeShareHeader(ShareHeader{kShareMagic, kShareTypeDimensions, 0});
    ASSERT_TRUE(client.SendRaw(request.data(), kShareMessageSize));
    ShareMessage reply{};
    ShareHeader header;
    ShareDimensions dims;
    ASSERT_EQ(client.ReadMessage(reply, kBoundMs), kShareMessageSize);
    ASSERT_TRUE(DecodeShareHeader(reply.data(), reply.size(), header));
    EXPECT_EQ(header.type, kShareTypeDimensions);
    EXPECT_EQ(header.size, kShareMessageSize);
    ASSERT_EQ(client.ReadMessage(reply, kBoundMs), kShareMessageSize);
    ASSERT_TRUE(DecodeShareDimensions(reply.data(), reply.size(), dims));
    EXPECT_EQ(dims.height, kHeight * 2);
    EXPECT_TRUE(Log().Contains(bad.logged));
}

INSTANTIATE_TEST_SUITE_P(Share, ShareBadMessages,
                         ::testing::Values(BadMessage{"GarbageOfHeaderSize", std::vector<uint8_t>(12, 0xA5),
                                                      "CCameraShare::ProcessCommand: type -1515870811\n"},
                                           BadMessage{"Short", std::vector<uint8_t>(5, 2),
                                                      "ignored a message of 5 bytes on port=0"},
                                           BadMessage{"OneByteTooMany", std::vector<uint8_t>(13, 2),
                                                      "ignored a message of 13 bytes on port=0"},
                                           BadMessage{"LargerThanThePipeBuffer", std::vector<uint8_t>(5000, 2),
                                                      "ignored a message of 5000 bytes on port=0"}),
                         [](const ::testing::TestParamInfo<BadMessage> &info) { return info.param.label; });

enum class Obstacle { EmptyName, NameOfAnotherObject, SmallerSegment };
struct StartCase {
    const char *label;
    Obstacle obstacle;
    const char *logged;
};

void PrintTo(const StartCase &c, std::ostream *os) {
    *os << c.label;
}

class ShareStartFailures : public ShareTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(ShareStartFailures, LeaveTheCameraGrabbingWithAClearMessage) {
    const StartCase &c = GetParam();
    CSharedMemory obstacle;
    std::string name = name_;
    if (c.obstacle == Obstacle::EmptyName) name.clear();
    if (c.obstacle == Obstacle::SmallerSegment) {
        ASSERT_TRUE(obstacle.Create(name_.c_str(), false, 10));
    }
    if (c.obstacle == Obstacle::NameOfAnotherObject) {
        // "<name>Mutex" is the mutex of this other segment.
        ASSERT_TRUE(obstacle.Create(name_.c_str(), false, 64));
        name += "Mutex";
    }
    // Four frames: an image larger than the page the 10-byte segment is rounded up to.
    ASSERT_NO_FATAL_FAILURE(OpenShared(1, 4, name));
    EXPECT_TRUE(Log().Contains(c.logged));
    EXPECT_TRUE(Log().Contains("ERROR: Failed to start camera sharing: "));
    EXPECT_FALSE(Log().Contains("CCameraShare::static_ThreadMain"));
    EXPECT_TRUE(GrabAndWait(0));
    Driver().closeCVLPort(0, 0);
    EXPECT_TRUE(Log().Contains("CCameraShare::Stop: Stopped share for Camera 1"));
}

const StartCase kStartCases[] = {
    StartCase{"EmptyName", Obstacle::EmptyName, "ERROR: Failed to start camera sharing: the share name is empty"},
    StartCase{"NameOfAnotherObject", Obstacle::NameOfAnotherObject,
              "CSharedMemory::CSharedMemory: ERROR: Shared memory segment already in use"},
#ifdef _WIN32
    // A segment someone still has open. (POSIX names outlive their users: there the server, holding
    // the share name, makes a new one; see ShareLeftovers.)
    StartCase{"SmallerExistingSegment", Obstacle::SmallerSegment,
              "CSharedMemory::CSharedMemory: ERROR: Failed allocate required size shared memory for image"},
#endif
};

INSTANTIATE_TEST_SUITE_P(
    Share, ShareStartFailures, ::testing::ValuesIn(kStartCases),
    [](const ::testing::TestParamInfo<StartCase> &info) { return info.param.label; });

TEST_F(ShareTest, BackToBackGrabbingAtFullSpeedSharesNoTornFrameAndCloseReturns) {
    ASSERT_NO_FATAL_FAILURE(OpenShared(3, 2, name_, "LogLevel=2\n"));
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    std::mutex mutex;
    std::condition_variable changed;
    int received = 0;
    int torn = 0;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::vector<uint8_t> frame(client.FrameBytes());
        while (!done) {
            const ShareClient::Wait wait = client.WaitForFrame(200);
            if (wait == ShareClient::Wait::Disconnected) break;
            if (wait != ShareClient::Wait::Frame || !client.CopyFrame(frame.data(), frame.size())) continue;
            std::lock_guard<std::mutex> lock(mutex);
            ++received;
            if (!IsOneGrab(frame, 2, 3)) ++torn;
            changed.notify_all();
        }
    });
    // The host asks for the next grab from each completion callback while a burst runs, so the ring
    // is overwritten at once; when a burst ends, its last frame stays.
    std::atomic<bool> burst{false};
    Calls().SetHook([&](int port) {
        if (burst) Driver().doCVLGrab(0, port);
    });
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{[&] {
        Driver().closeCVLPort(0, 0);
        Calls().SetHook(nullptr);
        done = true;
        reader.join();
    }};
    // A request refused because a grab still runs is taken up by that grab's callback.
    const auto startBurst = [&] {
        burst = true;
        Driver().doCVLGrab(0, 0);
    };
    constexpr int kBursts = 4;
    for (int b = 1; b <= kBursts; ++b) {
        const int before = Calls().Count(0);
        startBurst();
        ASSERT_TRUE(Calls().WaitFor(0, before + 200));
        burst = false;
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::milliseconds(kBoundMs), [&] { return received >= b; }));
    }
    const int before = Calls().Count(0);
    startBurst();
    ASSERT_TRUE(Calls().WaitFor(0, before + 100));
    auto closed = std::async(std::launch::async, [] { Driver().closeCVLPort(0, 0); });
    EXPECT_EQ(closed.wait_for(std::chrono::milliseconds(kBoundMs)), std::future_status::ready);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_GE(received, kBursts);
    EXPECT_EQ(torn, 0);
}

#ifndef _WIN32
enum class Leftover { KilledHost, ContractMutex };
struct LeftoverCase {
    const char *label;
    Leftover leftover;
};

void PrintTo(const LeftoverCase &c, std::ostream *os) {
    *os << c.label;
}

class ShareLeftovers : public ShareTest, public ::testing::WithParamInterface<LeftoverCase> {};

// Objects under the share's names that no live server holds are made anew: a larger image than the
// one they were made for is shared.
TEST_P(ShareLeftovers, AreReplacedAndALargerImageIsShared) {
    std::unique_ptr<test::ContractMutex> contract;
    if (GetParam().leftover == Leftover::KilledHost) {
        UseOneDigitizer("Width = " + std::to_string(kWidth) + "\nHeight = " + std::to_string(kHeight));
        WriteSettings("Camera 1", "ShareCamera=1\nShareName=" + name_ + "\nHeightMultiplier=1\n");
        TempDir fifoDir;
        const std::string fifo = fifoDir.File("ready");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int ready = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(ready, 0);
        ScopedEnv host("KESTCAM_SHARE_HOST", dir_.Str() + ";" + fifo);
        ChildProcess child;
        ASSERT_TRUE(child.Start({}));
        pollfd p{ready, POLLIN, 0};
        const int polled = poll(&p, 1, kBoundMs);
        close(ready);
        ASSERT_EQ(polled, 1) << "the host did not open its camera";
        EXPECT_EQ(child.Wait(std::chrono::milliseconds(0)), -1); // SIGKILL
        EXPECT_TRUE(ObjectExists(name_));
    } else {
        contract = std::make_unique<test::ContractMutex>(name_ + "Mutex", sizeof(pthread_mutex_t));
        ASSERT_TRUE(contract->Made());
    }
    ASSERT_TRUE(ObjectExists(name_ + "Mutex"));
    ASSERT_NO_FATAL_FAILURE(OpenShared(1, 4));
    EXPECT_FALSE(Log().Contains("Failed to start camera sharing")) << ::testing::PrintToString(Log().Messages());
    ShareClient client;
    ASSERT_TRUE(Connect(client));
    ASSERT_TRUE(GrabAndWait(0));
    EXPECT_EQ(NextFrame(client), HostImage());
}

INSTANTIATE_TEST_SUITE_P(Share, ShareLeftovers,
                         ::testing::Values(LeftoverCase{"OfAHostKilledWhileSharing", Leftover::KilledHost},
                                           LeftoverCase{"AMutexObjectMadeToTheContract", Leftover::ContractMutex}),
                         [](const ::testing::TestParamInfo<LeftoverCase> &info) { return info.param.label; });
#endif

} // namespace
} // namespace kestcam::test
