// view_process.h - `kestcam view` (or another kestcam command) started as its own process for a test: the URL read
// from the first line of its output, stopped with a signal and waited for with a bound, killed if it overstays.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kestcam::test {

class ViewProcess {
public:
    ViewProcess();
    ~ViewProcess(); // kills a viewer that still runs
    ViewProcess(const ViewProcess &) = delete;
    ViewProcess &operator=(const ViewProcess &) = delete;

    // Runs the kestcam program with args (it inherits the environment) and waits at most bound for
    // the first line of its standard output. False with a reason.
    bool Start(const std::vector<std::string> &args, std::chrono::milliseconds bound, std::string &why);
    // Runs the kestcam program with args without waiting for anything (another command).
    bool Spawn(const std::vector<std::string> &args, std::string &why);
    const std::string &Url() const { return url_; }
    int Port() const { return port_; }
    // Sends SIGINT and waits at most bound; the exit code, or -1 when it had to be killed or died
    // of a signal.
    int Stop(std::chrono::milliseconds bound);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string url_;
    int port_ = 0;
};

} // namespace kestcam::test
