// sim_camera_server_win32.cpp - Windows has no pseudo-terminals: the simulated camera is served by
// the Linux build (`kestcam camsim`), and a Wine prefix maps a COM port to its terminal.
#include "sim/camera/sim_camera_server.h"

namespace kestcam::sim {

SimCameraServer::SimCameraServer(const SimCameraConfig &config) : camera_(config) {}
SimCameraServer::~SimCameraServer() {
    Stop();
}

bool SimCameraServer::Start(std::string &error) {
    error = "the simulated serial camera needs a pseudo-terminal, which Windows does not have";
    return false;
}

void SimCameraServer::Stop() {}

} // namespace kestcam::sim
