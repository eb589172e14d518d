// listen_address.h - the --listen option of the commands that serve (view, stream).
#pragma once

#include <string>

namespace kestcam::cli {

// ADDR:PORT, with an IPv6 address in brackets; port 0 asks for any free port.
bool ParseListenAddress(const std::string &text, std::string &host, int &port);

} // namespace kestcam::cli
