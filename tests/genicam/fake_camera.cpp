// fake_camera.cpp - the private network, the fake camera process and program runs.
#include "fake_camera.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace kestcam::test {
namespace {

std::string g_networkProblem = "not entered";

// The UDP socket table's local-address form of address:3956 (the GigE Vision control port).
std::string ControlPortEntry(const std::string &address) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    char text[32];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X:0F74", d, c, b, a);
    return text;
}

bool ControlPortBound(const std::string &address) {
    std::ifstream udp("/proc/self/net/udp");
    std::stringstream text;
    text << udp.rdbuf();
    return text.str().find(ControlPortEntry(address)) != std::string::npos;
}

pid_t Spawn(const std::vector<std::string> &argv, int stdoutFd) {
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for pid within bound; its exit code, or -1 (killed) when it overstays.
int Reap(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::string EnterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        g_networkProblem = std::string("no private network namespace: ") + std::strerror(errno);
        return g_networkProblem;
    }
    std::string output;
    if (RunProgram({"ip", "link", "set", "lo", "up"}, output) != 0 ||
        RunProgram({"ip", "addr", "add", "127.0.0.2/8", "dev", "lo"}, output) != 0) {
        g_networkProblem = "cannot set up the loopback with ip(8)";
        return g_networkProblem;
    }
    g_networkProblem.clear();
    return g_networkProblem;
}

const std::string &PrivateNetworkProblem() {
    return g_networkProblem;
}

bool FakeCamera::Start(const std::string &address, const std::string &serial,
                       const std::vector<std::string> &extra) {
    Stop();
    serial_ = serial;
    std::vector<std::string> argv{"arv-fake-gv-camera-0.8", "-i", address, "-s", serial};
    argv.insert(argv.end(), extra.begin(), extra.end());
    pid_ = Spawn(argv, -1);
    if (pid_ <= 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ControlPortBound(address)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void FakeCamera::End(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    Reap(pid_, std::chrono::seconds(10));
    pid_ = -1;
}

void FakeCamera::Kill() {
    End(SIGKILL);
}

void FakeCamera::Stop() {
    End(SIGTERM);
}

int RunProgram(const std::vector<std::string> &argv, std::string &output, std::chrono::milliseconds bound) {
    output.clear();
    char path[] = "/tmp/kestcam-run-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return -1;
    unlink(path);
    const pid_t pid = Spawn(argv, fd);
    const int code = pid > 0 ? Reap(pid, bound) : -1;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    close(fd);
    return code;
}

} // namespace kestcam::test
