// Camera frames as bytes: the worked frames, the address-length rule, and every response check
// failing in its turn with its text, in the order the checks are made.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/camera_frame.h"

namespace kestcam::frame {
namespace {

std::vector<uint8_t> Bytes(const CommandFrame &f) {
    return {f.bytes.begin(), f.bytes.begin() + f.size};
}

std::vector<uint8_t> FloatBytes(float v) {
    uint8_t b[4];
    std::memcpy(b, &v, 4); // the build machines are little-endian, as the camera's byte order is
    return {b, b + 4};
}

TEST(CameraFrame, WriteOfTheExposureTimeValueIsTheWorkedElevenBytes) {
    const std::vector<uint8_t> v = FloatBytes(250.0f);
    const std::vector<uint8_t> expected = {
        0x01, 0x04, 0x04, 0x01, 0x15,
        v[0], v[1], v[2], v[3], static_cast<uint8_t>(0x14 ^ v[0] ^ v[1] ^ v[2] ^ v[3]),
        0x03};
    EXPECT_EQ(Bytes(BuildCommandFrame(kOpWrite, 0x1501, v.data(), 4, true)), expected);
}

TEST(CameraFrame, ReadOfTheExposureTimeValueIsTheWorkedSevenBytes) {
    const std::vector<uint8_t> expected = {0x01, 0x0C, 0x04, 0x01, 0x15, 0x1C, 0x03};
    const uint8_t ignored[4] = {9, 9, 9, 9};
    EXPECT_EQ(Bytes(BuildCommandFrame(kOpRead, 0x1501, ignored, 4, true)), expected);
    EXPECT_EQ(ResponseFrameSize(4, true), 9u);
}

TEST(CameraFrame, AddressLengthFollowsTheSignedAddress) {
    struct Case {
        int64_t address;
        int length;
    };
    const Case cases[] = {{-1, 2},
                          {0xFFFF, 2},
                          {0x10000, 4},
                          {(int64_t{1} << 32) - 1, 4},
                          {int64_t{1} << 32, 6},
                          {(int64_t{1} << 48) - 1, 6},
                          {int64_t{1} << 48, 8},
                          {INT64_MAX, 8}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(AddressLength(c.address), c.length);
        const CommandFrame f = BuildCommandFrame(kOpWriteOffset, c.address, nullptr, 2, false);
        ASSERT_EQ(f.size, size_t(4 + c.length + 2)); // no checksum, two data bytes
        EXPECT_EQ(f.bytes[1], (4 << 3) | (c.length / 2 - 1));
        // Least significant byte first, then the (zero) data and BFE.
        for (int i = 0; i < c.length; ++i)
            EXPECT_EQ(f.bytes[3 + i], static_cast<uint8_t>(static_cast<uint64_t>(c.address) >> (8 * i)));
        EXPECT_EQ(f.bytes[f.size - 1], kBFE);
    }
}

// A valid response carrying 4 bytes, then one fault at a time. Several faults: the first check wins.
struct ResponseCase {
    const char *name;
    std::vector<std::pair<size_t, uint8_t>> changes; // offset, new byte
    ResponseStatus status;
    const char *text;
    bool dataCopied;
};

void PrintTo(const ResponseCase &c, std::ostream *os) {
    *os << c.name;
}

class ResponseCheck : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ResponseCheck, FailsAtTheFirstBadFieldWithItsText) {
    std::vector<uint8_t> frame = {0x01, 0x14, 0x04, 0xA1, 0xB2, 0xC3, 0xD4, 0, 0x03};
    frame[7] = Xor(frame.data() + 1, 6);
    for (auto [at, byte] : GetParam().changes)
        frame[at] = byte;
    uint8_t out[4] = {0, 0, 0, 0};
    const ResponseStatus status = CheckResponseFrame(frame.data(), 4, true, out);
    EXPECT_EQ(status, GetParam().status);
    const char *text = ResponseStatusText(status);
    EXPECT_EQ(std::string(text != nullptr ? text : ""), GetParam().text);
    const uint8_t copied[4] = {frame[3], frame[4], frame[5], frame[6]};
    const uint8_t untouched[4] = {0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(out, GetParam().dataCopied ? copied : untouched, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, ResponseCheck,
                         ::testing::Values(ResponseCase{"Valid", {}, ResponseStatus::Ok, "", true},
                                           ResponseCase{"BadBfsBeforeEverythingElse",
                                                        {{0, 0x02}, {1, 0x08}, {8, 0}},
                                                        ResponseStatus::BadBfs,
                                                        "ERROR: unexpected value for BFS in response frame\n",
                                                        false},
                                           ResponseCase{"CommandOpcode",
                                                        {{1, 0x0C}},
                                                        ResponseStatus::BadOpcode,
                                                        "ERROR: Unexpected Opcode in response frame\n",
                                                        false},
                                           ResponseCase{"WrongDataLen",
                                                        {{2, 0x05}},
                                                        ResponseStatus::BadDataLen,
                                                        "ERROR: Wrong number of datalen in response frame\n",
                                                        false},
                                           ResponseCase{"WrongChecksumAfterTheDataWereCopied",
                                                        {{7, 0x00}},
                                                        ResponseStatus::BadChecksum,
                                                        "ERROR: Wrong checksum in response frame\n",
                                                        true},
                                           ResponseCase{"BadBfe",
                                                        {{8, 0x04}},
                                                        ResponseStatus::BadBfe,
                                                        "ERROR: Unexpected value for BFE response frame\n",
                                                        true}),
                         [](const ::testing::TestParamInfo<ResponseCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(CameraFrame, ResponseWithOpcodeSixAndItsChecksumPasses) {
    std::vector<uint8_t> frame = {0x01, 0x34, 0x01, 0x05, 0, 0x03};
    frame[4] = Xor(frame.data() + 1, 3);
    uint8_t mode = 0;
    EXPECT_EQ(CheckResponseFrame(frame.data(), 1, true, &mode), ResponseStatus::Ok);
    EXPECT_EQ(mode, 5);
}

} // namespace
} // namespace kestcam::frame
