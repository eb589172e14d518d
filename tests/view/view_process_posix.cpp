// view_process_posix.cpp - posix_spawn of the kestcam program with its standard output on a pipe; a
// waiter thread reaps it.
#include "view/view_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

extern char **environ;

namespace kestcam::test {

struct ViewProcess::Impl {
    pid_t pid = -1;
    int out = -1;
    std::thread waiter;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int status = -1;

    int Wait(std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> lock(mutex);
        const bool inTime = ended.wait_for(lock, bound, [&] { return done; });
        if (!inTime) kill(pid, SIGKILL);
        ended.wait(lock, [&] { return done; });
        lock.unlock();
        waiter.join();
        pid = -1;
        return inTime ? status : -1;
    }
};

ViewProcess::ViewProcess() : impl_(std::make_unique<Impl>()) {}

ViewProcess::~ViewProcess() {
    if (impl_->pid > 0) impl_->Wait(std::chrono::milliseconds(0));
    if (impl_->out >= 0) close(impl_->out);
}

bool ViewProcess::Spawn(const std::vector<std::string> &args, std::string &why) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        why = "no pipe";
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    std::vector<char *> argv{const_cast<char *>(KESTCAM_CLI_PATH)};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&impl_->pid, KESTCAM_CLI_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    impl_->out = pipeFds[0];
    if (spawned != 0) {
        impl_->pid = -1;
        why = std::string("cannot start ") + KESTCAM_CLI_PATH;
        return false;
    }
    Impl *impl = impl_.get();
    impl_->waiter = std::thread([impl] {
        int status = 0;
        const pid_t got = waitpid(impl->pid, &status, 0);
        std::lock_guard<std::mutex> lock(impl->mutex);
        impl->status = got == impl->pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        impl->done = true;
        impl->ended.notify_all();
    });
    return true;
}

bool ViewProcess::Start(const std::vector<std::string> &args, std::chrono::milliseconds bound, std::string &why) {
    if (!Spawn(args, why)) return false;
    // The first line: the URL.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{impl_->out, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            why = "no URL from kestcam view in time";
            return false;
        }
        char buffer[256];
        const ssize_t n = read(impl_->out, buffer, sizeof buffer);
        if (n <= 0) {
            why = "kestcam view ended before printing its URL (see its standard error)";
            return false;
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    url_ = line.substr(0, line.find('\n'));
    const size_t colon = url_.rfind(':');
    port_ = colon == std::string::npos ? 0 : std::atoi(url_.c_str() + colon + 1);
    if (url_.compare(0, 7, "http://") != 0 || port_ <= 0) {
        why = "the first line is no URL: " + url_;
        return false;
    }
    return true;
}

int ViewProcess::Stop(std::chrono::milliseconds bound) {
    if (impl_->pid <= 0) return -1;
    kill(impl_->pid, SIGINT);
    return impl_->Wait(bound);
}

} // namespace kestcam::test
