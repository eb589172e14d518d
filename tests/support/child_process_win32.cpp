// child_process_win32.cpp - CreateProcess of this program's own module; under Wine a second Wine
// process.
#include "support/child_process.h"

#include <windows.h>

namespace kestcam::test {

struct ChildProcess::Impl {
    PROCESS_INFORMATION process{};
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->process.hProcess != nullptr) Wait(std::chrono::milliseconds(0));
}

bool ChildProcess::Start(const std::vector<std::string> &args) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) return false;
    std::string command = std::string("\"") + self + "\"";
    for (const std::string &a : args)
        command += " \"" + a + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &impl_->process))
        return false;
    CloseHandle(impl_->process.hThread);
    impl_->process.hThread = nullptr;
    return true;
}

int ChildProcess::Wait(std::chrono::milliseconds bound) {
    HANDLE process = impl_->process.hProcess;
    if (process == nullptr) return -1;
    int result = -1;
    if (WaitForSingleObject(process, static_cast<DWORD>(bound.count())) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code)) result = static_cast<int>(code);
    } else {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
    }
    CloseHandle(process);
    impl_->process.hProcess = nullptr;
    return result;
}

} // namespace kestcam::test
