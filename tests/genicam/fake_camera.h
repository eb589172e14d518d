// fake_camera.h - Aravis's simulated GigE Vision camera as a separate process on a loopback
// address of this test program's own network namespace, stopped by its pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kestcam::test {

// Moves the test program into a network namespace of its own, with the loopback up and a second
// address 127.0.0.2, before any thread starts: cameras of concurrent test programs never meet,
// and two fake cameras get an address each. Empty on success, else why not.
std::string EnterPrivateNetwork();
// The reason EnterPrivateNetwork gave at start-up (empty when the network is ready).
const std::string &PrivateNetworkProblem();

class FakeCamera {
public:
    FakeCamera() = default;
    ~FakeCamera() { Stop(); }
    FakeCamera(const FakeCamera &) = delete;
    FakeCamera &operator=(const FakeCamera &) = delete;

    // Starts "Aravis-Fake-<serial>" on address with extra arguments (e.g. {"-r", "10"}) and waits
    // until its control port is bound; false when it did not come up within a bound.
    bool Start(const std::string &address, const std::string &serial = "GV01",
               const std::vector<std::string> &extra = {});
    // Kills it (SIGKILL: a camera losing power says goodbye to nobody) and reaps it.
    void Kill();
    // Stops it politely and reaps it.
    void Stop();
    bool Running() const { return pid_ > 0; }
    std::string Name() const { return "Aravis-Fake-" + serial_; }

private:
    void End(int signal);

    pid_t pid_ = -1;
    std::string serial_;
};

// Runs a program with arguments, waits (bounded) and gives its exit code and its standard output
// and error, interleaved;
// -1 when it could not run or overstayed the bound (it is killed then).
int RunProgram(const std::vector<std::string> &argv, std::string &output,
               std::chrono::milliseconds bound = std::chrono::seconds(30));

} // namespace kestcam::test
