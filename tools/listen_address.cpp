// listen_address.cpp - the --listen option of the commands that serve (view, stream).
#include "listen_address.h"

#include <cstdlib>

namespace kestcam::cli {

bool ParseListenAddress(const std::string &text, std::string &host, int &port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return false;
    }
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::atoi(digits.c_str());
    return port <= 65535;
}

} // namespace kestcam::cli
