// genicam_fixture.h - the driver on the GenICam backend (KESTCAM_MIL=genicam) in the test program's
// private network, with fake cameras, DCF files and the diagonal ramp the fake camera sends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "acquisition_fixture.h"
#include "fake_camera.h"

namespace kestcam::test {

class GenicamTest : public AcquisitionTest {
protected:
    void SetUp() override {
        if (!PrivateNetworkProblem().empty()) GTEST_SKIP() << PrivateNetworkProblem();
        AcquisitionTest::SetUp();
    }

    // A DCF whose [Features] section holds the lines.
    std::string WriteDcf(const std::string &name, const std::string &features) {
        return dir_.Write(name, "[Features]\n" + features + "\n");
    }
    // The camera's settings with the DCF that sets size and pixel format, plus extra lines.
    void UseDcf(const std::string &camera, const std::string &features, const std::string &extra = "") {
        WriteSettings(camera, "UseDefaultDCF=0\nDCF_FILE=" + WriteDcf(camera + ".dcf", features) + "\n" + extra);
    }
    // Waits until the grab asked for after `completed` completions and `failed` failures has ended;
    // true when it completed.
    bool GrabOutcome(int port, int completed, size_t failed) {
        const auto deadline = std::chrono::steady_clock::now() + kCallbackBound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Calls().Count(port) > completed) return true;
            if (Log().Count("grab failed, no completion") > failed) return false;
            Log().WaitForCount("ThreadMain: grab", Log().Count("ThreadMain: grab") + 1,
                               std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "the grab neither completed nor failed";
        return false;
    }
    // Every line of a grab of frames `height` lines high is the line above shifted left by one
    // pixel (`bytes` a pixel), except the first line of each frame; lines are not flat.
    void ExpectDiagonalRamp(int port, int height, int bytes) {
        ASSERT_GT(rows_, 0);
        std::vector<uint8_t> above = Row(port, 0, bytes);
        ASSERT_FALSE(above.empty());
        for (int row = 1; row < rows_; ++row) {
            std::vector<uint8_t> line = Row(port, row, bytes);
            ASSERT_EQ(line.size(), above.size()) << "row " << row;
            if (row % height != 0) {
                for (size_t i = 0; i + bytes < line.size(); ++i)
                    ASSERT_EQ(line[i], above[i + bytes]) << "row " << row << ", byte " << i;
            }
            ASSERT_FALSE(std::equal(line.begin(), line.begin() + bytes, line.begin() + 4 * bytes))
                << "row " << row << " is flat";
            above = std::move(line);
        }
    }

    ScopedEnv backend_{"KESTCAM_MIL", "genicam"};
    // Members, so that they stop after TearDown has closed the driver's cameras: a camera that
    // vanishes first costs seconds of unanswered commands at close.
    FakeCamera camera_;
    FakeCamera second_;
};

} // namespace kestcam::test
