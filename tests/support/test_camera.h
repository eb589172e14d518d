// test_camera.h - the simulated serial camera a test talks to: in this process on a pseudo-terminal
// where the platform has one, else a `kestcam camsim` that the Wine wrapper started and named in the
// environment. Either way the test sees the port name and the frames the camera received, in order.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "settings/ini_store.h"
#include "sim/camera/sim_camera_server.h"

namespace kestcam::test {

class TestSerialCamera {
public:
    // The camera of tests/integration/data/camsim-NAME.ini, with extraConfig (INI text) on top; false
    // with a reason when neither form can be had. An external camera has only its file's
    // configuration: extraConfig makes it unavailable.
    bool Start(const std::string &name, std::string &why, const std::string &extraConfig = "") {
        sim::SimCameraConfig config;
        ini::IniDocument doc;
        const std::string file =
            std::string(KESTCAM_SOURCE_DIR) + "/tests/integration/data/camsim-" + name + ".ini";
        if (!std::ifstream(file) || ini::ReadDocument(file, doc) || !sim::ParseCameraConfig(doc, config, why)) {
            why = "cannot read " + file + " " + why;
            return false;
        }
        if (!extraConfig.empty() && !sim::ParseCameraConfig(ini::IniDocument::Parse(extraConfig), config, why))
            return false;
        server_ = std::make_unique<sim::SimCameraServer>(config);
        if (server_->Start(why)) {
            port_ = server_->DevicePath();
            return true;
        }
        server_.reset();
        // "PORT|TRACE": the port the camera answers on and the file where it lists the frames it got.
        std::string variable = "KESTCAM_TEST_CAMSIM_";
        for (char c : name)
            variable += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const char *external = std::getenv(variable.c_str());
        const std::string value = external != nullptr ? external : "";
        const size_t bar = value.find('|');
        if (bar == std::string::npos || !extraConfig.empty()) {
            why += extraConfig.empty() ? "; and " + variable + " names no external camera"
                                       : "; the test configures the camera itself";
            return false;
        }
        port_ = value.substr(0, bar);
        trace_ = value.substr(bar + 1);
        skip_ = TraceLines().size();
        return true;
    }

    const std::string &Port() const { return port_; }
    // Null for an external camera.
    sim::SimSerialCamera *InProcess() { return server_ ? &server_->Camera() : nullptr; }

    std::vector<std::string> Frames() const {
        if (server_) return server_->Camera().FrameLog();
        std::vector<std::string> lines = TraceLines();
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(skip_, lines.size())));
        return lines;
    }
    void ClearFrames() {
        if (server_)
            server_->Camera().ClearFrames();
        else
            skip_ = TraceLines().size();
    }

private:
    // The frame lines of the external camera's output; its first line is the device path.
    std::vector<std::string> TraceLines() const {
        std::ifstream in(trace_);
        std::vector<std::string> lines;
        std::string line;
        for (bool first = true; std::getline(in, line); first = false) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!first) lines.push_back(line);
        }
        return lines;
    }

    std::unique_ptr<sim::SimCameraServer> server_;
    std::string port_;
    std::string trace_;
    size_t skip_ = 0;
};

} // namespace kestcam::test
