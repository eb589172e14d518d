// The serial port and the register operations against the simulated camera on a pseudo-terminal:
// the open rules (one port per process, the lock, line settings kept and forced), reads bounded by
// the read time-out, and every camera fault reported with its texts on the standard error stream.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "serial/register_access.h"
#include "serial/serial_port.h"
#include "serial/serial_port_backend.h"
#include "sim/camera/sim_camera_server.h"
#include "support/temp_dir.h"

namespace kestcam::test {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

constexpr int kShortTimeoutMs = 200; // the port's own read time-out in these tests

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << error;
    }
    void TearDown() override { SerialPortClose(); }
    const char *Port() const { return server_.DevicePath().c_str(); }
    sim::SimSerialCamera &Camera() { return server_.Camera(); }

    sim::SimCameraServer server_;
};

TEST_F(SerialLink, ComNamesStandForTheSerialDevicesAndPathsAreKept) {
    EXPECT_EQ(serial::DevicePathForName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serial::DevicePathForName("com12"), "/dev/ttyS11");
    EXPECT_EQ(serial::DevicePathForName("COM0"), "COM0");
    EXPECT_EQ(serial::DevicePathForName("/dev/pts/3"), "/dev/pts/3");
}

TEST_F(SerialLink, ASecondOpenFailsSilentlyAndCloseWithoutPortFails) {
    ASSERT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
    CaptureStderr();
    EXPECT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(SerialPortClose(), 1);
    EXPECT_EQ(SerialPortClose(), 0);
}

TEST_F(SerialLink, ThreadsOpeningAtOnceGetOnePort) {
    std::atomic<int> opened{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] { opened += SerialPortOpen(Port(), 9600, kShortTimeoutMs); });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(opened.load(), 1);
}

TEST_F(SerialLink, WhatIsNoTerminalFailsAndLeavesThePortFree) {
    TempDir dir;
    const std::string file = dir.Write("plain.txt", "x");
    for (const std::string &name : {file, dir.Str(), std::string("/nonexistent/tty"), std::string("COM0")}) {
        SCOPED_TRACE(name);
        CaptureStderr();
        EXPECT_EQ(SerialPortOpen(name.c_str(), 9600, kShortTimeoutMs), 0);
        EXPECT_EQ(GetCapturedStderr(), "ERROR: Com-Port initialization failed\n");
    }
    EXPECT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
}

TEST_F(SerialLink, APortLockedElsewhereIsRefused) {
    const int other = ::open(Port(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    CaptureStderr();
    EXPECT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 0);
    EXPECT_EQ(GetCapturedStderr(), "ERROR: Com-Port initialization failed\n");
    ::close(other);
    EXPECT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
}

TEST_F(SerialLink, StopBitsAndSoftwareFlowControlAreKeptTheRestForced) {
    const int fd = ::open(Port(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    tio.c_cflag |= CSTOPB | PARENB | CS7;
    tio.c_iflag |= IXOFF | ICRNL;
    tio.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &tio), 0);

    ASSERT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_NE(tio.c_iflag & IXOFF, 0u);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB), tcflag_t{CS8});
    EXPECT_EQ(tio.c_iflag & ICRNL, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetispeed(&tio), speed_t{B9600});
}

TEST_F(SerialLink, AReadWithNothingComingEndsAtTheReadTimeOut) {
    ASSERT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
    uint8_t byte = 0;
    CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SerialPortRead(&byte, 1), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(GetCapturedStderr(), "ERROR: Unexpected bytes read in receive frame\n");
    EXPECT_LT(elapsed, std::chrono::seconds(5)); // generous: the machine may be loaded
}

TEST_F(SerialLink, RegistersAreReadAndWrittenInTheCamerasByteOrder) {
    ASSERT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
    float min = 0;
    ASSERT_EQ(ReadRegister(0x1505, &min, 4), 1);
    EXPECT_EQ(min, 10.0f);
    const float value = 321.5f;
    ASSERT_EQ(WriteRegister(0x1501, &value, 4), 1);
    EXPECT_EQ(Camera().Value("ExposureTime"), 321.5f);
    // The offset forms address 27 bytes further on.
    const float other = 17.25f;
    ASSERT_EQ(WriteRegisterOffset(0x1501 - 27, &other, 4), 1);
    float read = 0;
    ASSERT_EQ(ReadRegisterOffset(0x1501 - 27, &read, 4), 1);
    EXPECT_EQ(read, 17.25f);
    EXPECT_THAT(Camera().FrameLog(), ::testing::ElementsAre("read 0x1505 4", "write 0x1501 321.5",
                                                            "op4 0x1501 len 4 00008a41", "op5 0x1501 4"));
}

struct FaultCase {
    const char *name;
    sim::SimCameraFaults faults;
    const char *text;
    bool dataCopied;
};

void PrintTo(const FaultCase &c, std::ostream *os) {
    *os << c.name;
}

sim::SimCameraFaults Faults(bool noAnswer, uint8_t ack, bool badChecksum, bool shortResponse) {
    sim::SimCameraFaults f;
    f.noAnswer = noAnswer;
    f.ackByte = ack;
    f.badChecksum = badChecksum;
    f.shortResponse = shortResponse;
    return f;
}

class CameraFault : public SerialLink, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CameraFault, AFailedReadWritesItsTextsAndTheNextOperationWorks) {
    Camera().SetFaults(GetParam().faults);
    ASSERT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
    float max = -1;
    CaptureStderr();
    EXPECT_EQ(ReadRegister(0x1509, &max, 4), 0);
    EXPECT_EQ(GetCapturedStderr(), GetParam().text);
    EXPECT_EQ(max, GetParam().dataCopied ? 10000.0f : -1.0f);

    // A new open purges whatever the camera sent late.
    Camera().SetFaults(sim::SimCameraFaults());
    ASSERT_EQ(SerialPortClose(), 1);
    ASSERT_EQ(SerialPortOpen(Port(), 9600, kShortTimeoutMs), 1);
    EXPECT_EQ(ReadRegister(0x1509, &max, 4), 1);
    EXPECT_EQ(max, 10000.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CameraFault,
    ::testing::Values(
        FaultCase{"NoAnswer", Faults(true, 0x06, false, false),
                  "ERROR: Unexpected bytes read in receive frame\nERROR: Camera's ACK receive failed\n", false},
        FaultCase{"WrongAck", Faults(false, 0x15, false, false),
                  "ERROR: Unexpected value for ACK in Transmission\n", false},
        FaultCase{"BadChecksum", Faults(false, 0x06, true, false), "ERROR: Wrong checksum in response frame\n",
                  true},
        FaultCase{"ShortResponse", Faults(false, 0x06, false, true),
                  "ERROR: Unexpected bytes read in receive frame\nResponse frame: receive error\n", false}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace kestcam::test
