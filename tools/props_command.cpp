// props_command.cpp - `kestcam props get|set|range`: open a camera, make one property call, close
// it again (which stores its settings), and print the answer.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "host_session.h"

namespace kestcam::cli {

namespace {

bool ParseInt(const std::string &text, int &out) {
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < -2147483647LL - 1 || v > 2147483647LL) return false;
    out = static_cast<int>(v);
    return true;
}

struct PropsArgs {
    std::string action; // get, set or range
    std::string camera;
    int port = 0;
    std::string prop;
    int value = 0;
};

bool ParsePropsArgs(const std::vector<std::string> &args, PropsArgs &parsed) {
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--camera" && hasValue) {
            parsed.camera = args[++i];
        } else if (a == "--port" && hasValue) {
            if (!ParseInt(args[++i], parsed.port)) return false;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty() || parsed.camera.empty()) return false;
    parsed.action = positional[0];
    const size_t wanted = parsed.action == "set" ? 3 : 2;
    if ((parsed.action != "get" && parsed.action != "set" && parsed.action != "range") ||
        positional.size() != wanted)
        return false;
    parsed.prop = positional[1];
    return parsed.action != "set" || ParseInt(positional[2], parsed.value);
}

} // namespace

int RunProps(const CommonOptions &options, const std::vector<std::string> &args) {
    PropsArgs props;
    if (!ParsePropsArgs(args, props)) {
        PrintUsageError("props");
        return kExitUsage;
    }
    HostSession session(options);
    if (!session.Start()) return kExitFailure;
    const DriverExports &d = session.Driver();
    if (d.openCVLPort == nullptr || d.closeCVLPort == nullptr || d.getProperty == nullptr ||
        d.setProperty == nullptr || d.getPropertyRange == nullptr) {
        std::fprintf(stderr, "kestcam props: the driver lacks the property exports\n");
        return kExitFailure;
    }
    int geometry[2] = {0, 0};
    if (d.openCVLPort(0, props.port, props.camera.c_str(), geometry) != 1) {
        std::fprintf(stderr, "kestcam props: cannot open '%s' on port %d (run with -v for the driver's reason)\n",
                     props.camera.c_str(), props.port);
        return kExitFailure;
    }
    int value = 0;
    int min = 0;
    int max = 0;
    int result = 0;
    if (props.action == "get")
        result = d.getProperty(0, props.port, props.prop.c_str(), &value);
    else if (props.action == "set")
        result = d.setProperty(0, props.port, props.prop.c_str(), props.value);
    else
        result = d.getPropertyRange(0, props.port, props.prop.c_str(), &min, &max);
    d.closeCVLPort(0, props.port);

    if (result != 1) {
        std::fprintf(stderr, "kestcam props: %s of '%s' on '%s' failed (run with -v for the driver's reason)\n",
                     props.action.c_str(), props.prop.c_str(), props.camera.c_str());
        return kExitFailure;
    }
    if (props.action == "get") std::printf("%d\n", value);
    if (props.action == "range") std::printf("%d %d\n", min, max);
    return kExitOk;
}

} // namespace kestcam::cli
