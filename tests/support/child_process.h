// child_process.h - this test program started once more as a separate process (a client in
// another process), waited for with a bound and killed if it overstays.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kestcam::test {

class ChildProcess {
public:
    ChildProcess();
    // Kills a child that still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts the running test program with args; it inherits the environment. False when it
    // could not be started.
    bool Start(const std::vector<std::string> &args);
    // The child's exit code, or -1 when it had not ended within bound (it is killed then).
    int Wait(std::chrono::milliseconds bound);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kestcam::test
