// host_session.h - one driver session of the command-line host: load, initialize, finalize.
#pragma once

#include <string>

#include "commands.h"
#include "driver_library.h"

namespace kestcam::cli {

class HostSession {
public:
    explicit HostSession(const CommonOptions &options) : options_(options) {}
    ~HostSession();
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;

    // Loads the driver and calls initialize; prints the reason and returns false on failure.
    bool Start();
    const DriverExports &Driver() const { return library_.Exports(); }

private:
    CommonOptions options_;
    DriverLibrary library_;
    bool initialized_ = false;
};

} // namespace kestcam::cli
