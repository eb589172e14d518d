// named_pipe.h - one end of a camera's sharing pipe: a duplex, message-type pipe with overlapped
// I/O. Windows: "\\.\pipe\NAME", one instance per server. POSIX: a SOCK_SEQPACKET Unix socket at
// $XDG_RUNTIME_DIR/kestcam/NAME (else /tmp/kestcam-$UID/NAME) in a directory of mode 0700.
//
// Operations start I/O and hand back what to wait for; the Finish calls collect the outcome once
// that is ready. The pipe keeps its own copies of the bytes in flight, so a caller's buffer is
// never written after the call that collects it. Failures throw Win32Exception with the error of
// the call that failed.
#pragma once

#include <memory>
#include <string>

#include "share/waitable.h"

namespace kestcam {

class CNamedPipe {
public:
    static constexpr int kBufferSize = 4096; // in and out buffer sizes, and the largest message read whole
    // How long Disconnect waits for the client to take what is still in the pipe.
    static constexpr int kFlushBoundMs = 250;

    CNamedPipe();
    ~CNamedPipe();
    CNamedPipe(const CNamedPipe &) = delete;
    CNamedPipe &operator=(const CNamedPipe &) = delete;

    // Server end: creates the pipe instance, which holds the share name: a second server of the
    // name is refused (IsNameTaken). POSIX: clients are refused until Listen.
    void Create(const std::string &name);
    // Server end: clients may connect from now on; they wait until Connect takes them. (A Windows
    // instance takes them from its creation.)
    void Listen();
    // Client end: opens the existing pipe of a server, in message read mode. A pipe whose one
    // instance is busy with another client is refused at once.
    void Open(const std::string &name);

    // Server end: starts waiting for a client. A client that is already there makes the wait
    // ready at once.
    share::Waitable Connect();
    // Once Connect's waitable is ready: true when a client is connected, false when the wait must
    // go on.
    bool FinishConnect();

    // Starts reading one message; at most count bytes of it reach buffer when FinishRead collects it.
    share::Waitable Read(void *buffer, int count);
    bool IsReadPending() const;
    // Once Read's waitable is ready: false when the read is still running; else true with the
    // message's full length in messageBytes (more than the count given to Read for an oversize
    // message, whose surplus is discarded).
    bool FinishRead(int &messageBytes);

    // Starts writing one message. Only when no write is pending.
    share::Waitable Write(const void *buffer, int count);
    // True while the last write has not been taken by the pipe; throws when it has failed.
    bool IsWritePending();
    share::Waitable WriteWaitable() const;

    // Ends the connection to the client, if one was started. The client takes what is still in the
    // pipe first (waited for at most the flush bound where disconnecting would discard it); then
    // everything pending is cancelled.
    void Disconnect();
    void SetFlushBound(int ms) { flushBoundMs_ = ms; }
    // Disconnect, then close the pipe.
    void Close();
    // Cancels the pending I/O of the pipe.
    void Cancel();

    // Where the pipe of a share lives: "\\.\pipe\NAME", or the socket's path.
    static std::string PathFor(const std::string &name);
    // A live server holds the share name (its pipe exists; POSIX: its lock file is held).
    static bool IsServed(const std::string &name);

    bool IsConnected() const { return connected_ != 0; }
    bool IsOpen() const;
    const std::string &Name() const { return name_; }

private:
    struct State; // the platform's handles, events and buffers
    std::string name_;
    std::unique_ptr<State> state_;
    int connected_ = 0;
    int bufferSize_ = kBufferSize;
    int flushBoundMs_ = kFlushBoundMs;
};

} // namespace kestcam
