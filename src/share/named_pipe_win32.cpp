// named_pipe_win32.cpp - the sharing pipe as a Win32 named pipe "\\.\pipe\NAME": duplex, message
// type and read mode, overlapped I/O, one instance in all: a second server of the name is refused.
#include "share/named_pipe.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "share/win32_exception.h"

namespace kestcam {

namespace {

constexpr DWORD kOpenMode = 0x40000003; // PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED
constexpr DWORD kPipeMode = 6;          // PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT
// One instance: the name is one server's, and while it serves a client the next one is refused.
constexpr DWORD kMaxInstances = 1;
// How long cancelled I/O is waited for.
constexpr DWORD kSettleBoundMs = 250;

std::string PipePath(const std::string &name) {
    return "\\\\.\\pipe\\" + name;
}

// One overlapped operation: its manual-reset event (created signalled) and its record.
struct Operation {
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    bool pending = false;

    Operation() { event = CreateEventA(nullptr, TRUE, TRUE, nullptr); }
    ~Operation() {
        if (event != nullptr) CloseHandle(event);
    }
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;

    OVERLAPPED *Begin() {
        if (event == nullptr) throw Win32Exception(ERROR_INVALID_HANDLE);
        std::memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = event;
        ResetEvent(event);
        pending = true;
        return &overlapped;
    }
    share::Waitable AsWaitable() const { return share::Waitable{reinterpret_cast<std::intptr_t>(event), 0}; }
};

} // namespace

struct CNamedPipe::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool server = false;
    Operation connect;
    Operation read;
    Operation write;
    void *readTarget = nullptr;
    int readCount = 0;
    std::vector<char> readBuffer;
    std::vector<char> writeBuffer;

    // Waits, bounded, for an operation that was cancelled or is about to end, so that its record
    // and buffer are free again.
    void Settle(Operation &op) {
        if (!op.pending) return;
        DWORD bytes = 0;
        if (WaitForSingleObject(op.event, kSettleBoundMs) == WAIT_OBJECT_0)
            GetOverlappedResult(handle, &op.overlapped, &bytes, FALSE);
        op.pending = false;
    }
};

CNamedPipe::CNamedPipe() : state_(std::make_unique<State>()) {
    state_->readBuffer.resize(kBufferSize);
}

CNamedPipe::~CNamedPipe() {
    Close();
}

std::string CNamedPipe::PathFor(const std::string &name) {
    return PipePath(name);
}

bool CNamedPipe::IsOpen() const {
    return state_->handle != INVALID_HANDLE_VALUE;
}

void CNamedPipe::Create(const std::string &name) {
    Close();
    HANDLE h = CreateNamedPipeA(PipePath(name).c_str(), kOpenMode, kPipeMode, kMaxInstances,
                                static_cast<DWORD>(bufferSize_), static_cast<DWORD>(bufferSize_), 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw Win32Exception();
    state_->handle = h;
    state_->server = true;
    name_ = name;
}

void CNamedPipe::Listen() {
    // The instance takes clients since its creation.
}

void CNamedPipe::Open(const std::string &name) {
    Close();
    HANDLE h = CreateFileA(PipePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw Win32Exception();
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(h, &mode, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        CloseHandle(h);
        throw Win32Exception(static_cast<int>(error));
    }
    state_->handle = h;
    state_->server = false;
    name_ = name;
    connected_ = 1;
}

share::Waitable CNamedPipe::Connect() {
    State &s = *state_;
    OVERLAPPED *ov = s.connect.Begin();
    if (!ConnectNamedPipe(s.handle, ov)) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            // The client came before the wait: ready at once.
            s.connect.pending = false;
            SetEvent(s.connect.event);
        } else if (error != ERROR_IO_PENDING) {
            s.connect.pending = false;
            throw Win32Exception(static_cast<int>(error));
        }
    } else {
        s.connect.pending = false;
    }
    connected_ = 1;
    return s.connect.AsWaitable();
}

bool CNamedPipe::FinishConnect() {
    State &s = *state_;
    if (!s.connect.pending) return true;
    DWORD bytes = 0;
    if (GetOverlappedResult(s.handle, &s.connect.overlapped, &bytes, FALSE)) {
        s.connect.pending = false;
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return false;
    s.connect.pending = false;
    if (error == ERROR_PIPE_CONNECTED) return true;
    throw Win32Exception(static_cast<int>(error));
}

share::Waitable CNamedPipe::Read(void *buffer, int count) {
    State &s = *state_;
    s.readTarget = buffer;
    s.readCount = count;
    OVERLAPPED *ov = s.read.Begin();
    if (!ReadFile(s.handle, s.readBuffer.data(), static_cast<DWORD>(s.readBuffer.size()), nullptr, ov)) {
        const DWORD error = GetLastError();
        // More data: the start of an oversize message has arrived; FinishRead drops the rest.
        if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
            s.read.pending = false;
            throw Win32Exception(static_cast<int>(error));
        }
    }
    return s.read.AsWaitable();
}

bool CNamedPipe::IsReadPending() const {
    return state_->read.pending;
}

bool CNamedPipe::FinishRead(int &messageBytes) {
    State &s = *state_;
    if (!s.read.pending) throw Win32Exception(ERROR_INVALID_FUNCTION);
    DWORD bytes = 0;
    if (!GetOverlappedResult(s.handle, &s.read.overlapped, &bytes, FALSE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return false;
        if (error != ERROR_MORE_DATA) {
            s.read.pending = false;
            throw Win32Exception(static_cast<int>(error));
        }
        // The rest of an oversize message is already in the pipe: read and drop it.
        int total = static_cast<int>(bytes);
        std::vector<char> scratch(s.readBuffer.size());
        for (;;) {
            OVERLAPPED *ov = s.read.Begin();
            DWORD status = ReadFile(s.handle, scratch.data(), static_cast<DWORD>(scratch.size()), nullptr, ov)
                               ? ERROR_SUCCESS
                               : GetLastError();
            if (status == ERROR_IO_PENDING && WaitForSingleObject(s.read.event, kSettleBoundMs) != WAIT_OBJECT_0) {
                CancelIoEx(s.handle, ov);
                s.Settle(s.read);
                break;
            }
            if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA && status != ERROR_IO_PENDING) {
                s.read.pending = false;
                throw Win32Exception(static_cast<int>(status));
            }
            DWORD got = 0;
            status = GetOverlappedResult(s.handle, ov, &got, FALSE) ? ERROR_SUCCESS : GetLastError();
            total += static_cast<int>(got);
            if (status == ERROR_SUCCESS) break;
            if (status != ERROR_MORE_DATA) {
                s.read.pending = false;
                throw Win32Exception(static_cast<int>(status));
            }
        }
        s.read.pending = false;
        bytes = static_cast<DWORD>(s.readBuffer.size());
        messageBytes = total;
    } else {
        s.read.pending = false;
        messageBytes = static_cast<int>(bytes);
    }
    const size_t take = std::min<size_t>(bytes, static_cast<size_t>(std::max(s.readCount, 0)));
    if (take > 0 && s.readTarget != nullptr) std::memcpy(s.readTarget, s.readBuffer.data(), take);
    return true;
}

share::Waitable CNamedPipe::Write(const void *buffer, int count) {
    State &s = *state_;
    if (s.write.pending) throw Win32Exception(ERROR_BUSY);
    const char *bytes = static_cast<const char *>(buffer);
    s.writeBuffer.assign(bytes, bytes + std::max(count, 0));
    OVERLAPPED *ov = s.write.Begin();
    if (!WriteFile(s.handle, s.writeBuffer.data(), static_cast<DWORD>(s.writeBuffer.size()), nullptr, ov)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            s.write.pending = false;
            throw Win32Exception(static_cast<int>(error));
        }
    }
    return s.write.AsWaitable();
}

bool CNamedPipe::IsWritePending() {
    State &s = *state_;
    if (!s.write.pending) return false;
    DWORD bytes = 0;
    if (GetOverlappedResult(s.handle, &s.write.overlapped, &bytes, FALSE)) {
        s.write.pending = false;
        return false;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return true;
    s.write.pending = false;
    throw Win32Exception(static_cast<int>(error));
}

share::Waitable CNamedPipe::WriteWaitable() const {
    return state_->write.AsWaitable();
}

bool CNamedPipe::IsServed(const std::string &name) {
    // Waiting a moment for a free instance connects nothing: an instance exists, free or busy.
    return WaitNamedPipeA(PipePath(name).c_str(), 1) != FALSE || GetLastError() != ERROR_FILE_NOT_FOUND;
}

void CNamedPipe::Cancel() {
    State &s = *state_;
    if (s.handle == INVALID_HANDLE_VALUE) return;
    // Every pending operation of the handle, whichever thread started it.
    CancelIoEx(s.handle, nullptr);
    s.Settle(s.connect);
    s.Settle(s.read);
    s.Settle(s.write);
}

namespace {

DWORD WINAPI FlushThread(LPVOID pipe) {
    return FlushFileBuffers(static_cast<HANDLE>(pipe)) ? 0 : 1;
}

// FlushFileBuffers returns once the client has read everything in the pipe, and waits for ever for
// one that stopped reading: it runs on a thread of its own, which is cancelled past the deadline.
void FlushUntil(HANDLE pipe, ULONGLONG deadline) {
    HANDLE thread = CreateThread(nullptr, 0, &FlushThread, pipe, 0, nullptr);
    if (thread == nullptr) return;
    const ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(thread, now < deadline ? static_cast<DWORD>(deadline - now) : 0) != WAIT_OBJECT_0) {
        CancelSynchronousIo(thread);
        if (WaitForSingleObject(thread, kSettleBoundMs) != WAIT_OBJECT_0) {
            // Disconnecting ends every wait on the pipe, the flush's as well.
            DisconnectNamedPipe(pipe);
            WaitForSingleObject(thread, INFINITE);
        }
    }
    CloseHandle(thread);
}

} // namespace

void CNamedPipe::Disconnect() {
    State &s = *state_;
    if (!connected_) return;
    // The client takes what is still in the pipe (a reply, the last notice) before it is
    // disconnected, which would discard it; one that stopped reading is not waited for past the bound.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(flushBoundMs_);
    if (s.write.pending && WaitForSingleObject(s.write.event, static_cast<DWORD>(flushBoundMs_)) == WAIT_OBJECT_0) {
        try {
            IsWritePending();
        } catch (const Win32Exception &) {
        }
    }
    if (s.server && !s.write.pending && !s.connect.pending) FlushUntil(s.handle, deadline);
    Cancel();
    if (s.server) DisconnectNamedPipe(s.handle);
    connected_ = 0;
}

void CNamedPipe::Close() {
    State &s = *state_;
    Disconnect();
    if (s.handle != INVALID_HANDLE_VALUE) {
        Cancel();
        CloseHandle(s.handle);
        s.handle = INVALID_HANDLE_VALUE;
    }
    s.server = false;
    name_.clear();
}

} // namespace kestcam
