// child_process_posix.cpp - posix_spawn of /proc/self/exe; a waiter thread reaps the child.
#include "support/child_process.h"

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace kestcam::test {

struct ChildProcess::Impl {
    pid_t pid = -1;
    std::thread waiter;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int status = -1;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0) Wait(std::chrono::milliseconds(0));
}

bool ChildProcess::Start(const std::vector<std::string> &args) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return false;
    self[n] = '\0';
    std::vector<char *> argv{self};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&impl_->pid, self, nullptr, nullptr, argv.data(), environ) != 0) {
        impl_->pid = -1;
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

int ChildProcess::Wait(std::chrono::milliseconds bound) {
    if (impl_->pid <= 0) return -1;
    std::unique_lock<std::mutex> lock(impl_->mutex);
    const bool ended = impl_->ended.wait_for(lock, bound, [&] { return impl_->done; });
    if (!ended) kill(impl_->pid, SIGKILL);
    impl_->ended.wait(lock, [&] { return impl_->done; });
    lock.unlock();
    impl_->waiter.join();
    impl_->pid = -1;
    return ended ? impl_->status : -1;
}

} // namespace kestcam::test
