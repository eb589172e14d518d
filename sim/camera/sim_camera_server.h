// sim_camera_server.h - the simulated serial camera on a pseudo-terminal: the driver opens the
// terminal's device path as its serial port, a thread of this process answers as the camera.
// Pseudo-terminals are a POSIX service; on Windows Start fails with a reason.
#pragma once

#include <string>
#include <thread>

#include "sim/camera/sim_serial_camera.h"

namespace kestcam::sim {

class SimCameraServer {
public:
    explicit SimCameraServer(const SimCameraConfig &config = SimCameraConfig());
    // Stops serving.
    ~SimCameraServer();
    SimCameraServer(const SimCameraServer &) = delete;
    SimCameraServer &operator=(const SimCameraServer &) = delete;

    // Opens the pseudo-terminal and starts serving; false with a reason.
    bool Start(std::string &error);
    // Ends the serving thread; the device path goes away with the terminal.
    void Stop();

    // The terminal's device path, the name a driver opens (BaslerPort).
    const std::string &DevicePath() const { return path_; }
    SimSerialCamera &Camera() { return camera_; }

private:
    void Serve();

    SimSerialCamera camera_;
    std::string path_;
    int master_ = -1;
    int slave_ = -1; // kept open, so the terminal outlives every driver that closes it
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace kestcam::sim
