// view_fixture.h - a `kestcam view` of a simulated 320x240 camera grabbing 50 frames a second, run as
// its own process on a free loopback port, and the HTTP helpers the view tests share.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/env.h"
#include "support/temp_dir.h"
#include "view/view_process.h"

namespace kestcam::test {

constexpr int kViewWidth = 320;
constexpr int kViewHeight = 240;
// Generous bounds: they only turn a hang into a failure on a loaded machine.
constexpr auto kStartBound = std::chrono::seconds(30);
constexpr auto kStopBound = std::chrono::seconds(30);
constexpr time_t kClientTimeoutS = 20;

// A number field of a JSON object, or -1.
inline double JsonNumber(const std::string &json, const std::string &key) {
    std::smatch m;
    if (!std::regex_search(json, m, std::regex("\"" + key + "\":(-?[0-9.]+)"))) return -1;
    return std::stod(m[1].str());
}

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_ = std::make_unique<ScopedEnv>(
            "KESTCAM_SIM_CONFIG",
            dir_.Write("sim.ini", "[System 0]\nDescriptor = M_SYSTEM_SOLIOS\n[System 0 Digitizer 0]\nWidth = " +
                                      std::to_string(kViewWidth) + "\nHeight = " + std::to_string(kViewHeight) +
                                      "\nFrameTimeMs = 20\n"));
        mil_ = std::make_unique<ScopedEnv>("KESTCAM_MIL", "sim");
    }
    void TearDown() override {
        if (started_) {
            EXPECT_EQ(view_.Stop(kStopBound), 0) << "kestcam view did not end cleanly on SIGINT";
        }
    }

    // Starts the viewer on Camera 1; settings (Kest.ini lines of [Camera 1]) first when given.
    void StartView(const std::string &settings = "") {
        if (!settings.empty()) dir_.Write("Kest.ini", "[Camera 1]\n" + settings);
        StartViewWith({"--system-path", dir_.Str(), "view", "--camera", "Camera 1", "--listen", "127.0.0.1:0"});
    }
    // Starts kestcam with these arguments; TearDown stops it and expects a clean end.
    void StartViewWith(const std::vector<std::string> &args) {
        std::string why;
        ASSERT_TRUE(view_.Start(args, kStartBound, why)) << why;
        started_ = true;
    }

    std::unique_ptr<httplib::Client> Client() const {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", view_.Port());
        client->set_connection_timeout(kClientTimeoutS, 0);
        client->set_read_timeout(kClientTimeoutS, 0);
        client->set_write_timeout(kClientTimeoutS, 0);
        return client;
    }

    std::string Status() const {
        auto reply = Client()->Get("/status.json");
        return reply && reply->status == 200 ? reply->body : std::string();
    }

    // The frame numbers of the stream's parts, read until `enough` says so (or the stream ends).
    template <typename Enough> std::vector<long> StreamNumbers(Enough enough) const {
        std::vector<long> numbers;
        std::string seen;
        const std::regex header("X-Frame-Number: ([0-9]+)\r\n");
        Client()->Get("/stream.mjpg", [&](const char *data, size_t length) {
            seen.append(data, length);
            std::smatch m;
            while (std::regex_search(seen, m, header)) {
                numbers.push_back(std::stol(m[1].str()));
                if (enough(numbers)) return false;
                seen.erase(0, static_cast<size_t>(m.position(0) + m.length(0)));
            }
            // Only the tail can hold a header cut in two.
            if (seen.size() > 256) seen.erase(0, seen.size() - 256);
            return true;
        });
        return numbers;
    }
    // The first frame number above `after` the stream carries, or -1.
    long StreamFrameAfter(long after) const {
        const std::vector<long> numbers =
            StreamNumbers([after](const std::vector<long> &n) { return n.back() > after; });
        return !numbers.empty() && numbers.back() > after ? numbers.back() : -1;
    }

    TempDir dir_;
    ViewProcess view_;

private:
    std::unique_ptr<ScopedEnv> config_;
    std::unique_ptr<ScopedEnv> mil_;
    bool started_ = false;
};

} // namespace kestcam::test
