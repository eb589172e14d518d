// The POSIX form of the sharing pipe as outside clients find it: a socket in a directory of mode
// 0700, a stale socket file that a crashed server left is replaced, a live server keeps its name.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "share/named_pipe.h"
#include "share/win32_exception.h"

namespace kestcam {
namespace {

std::string UniqueName() {
    static std::atomic<int> counter{0};
    return "kcpipe-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007) +
           "-" + std::to_string(counter++);
}

// A socket file with nobody listening, as a server that crashed leaves it.
void LeaveStaleSocket(const std::string &path) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0) << std::strerror(errno);
    close(fd);
}

TEST(NamedPipePosix, AStaleSocketFileIsReplacedAndALiveServerKeepsItsName) {
    const std::string name = UniqueName();
    const std::string path = CNamedPipe::PathFor(name);
    {
        CNamedPipe first; // makes the directory
        first.Create(name);
    }
    struct stat dir {};
    ASSERT_EQ(stat(path.substr(0, path.rfind('/')).c_str(), &dir), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
    ASSERT_NO_FATAL_FAILURE(LeaveStaleSocket(path));

    CNamedPipe server;
    server.Create(name);
    CNamedPipe client;
    // Bound, not yet taking clients: refused until the server listens.
    try {
        client.Open(name);
        ADD_FAILURE() << "a client got in before the server listened";
    } catch (const Win32Exception &e) {
        EXPECT_EQ(e.GetErrorCode(), ECONNREFUSED);
    }
    server.Listen();
    client.Open(name);
    CNamedPipe rival;
    try {
        rival.Create(name);
        ADD_FAILURE() << "a second server took the name";
    } catch (const Win32Exception &e) {
        EXPECT_EQ(e.GetErrorCode(), EADDRINUSE);
    }
    client.Close();
    server.Close();
    EXPECT_NE(access(path.c_str(), F_OK), 0); // the server removes its socket
}

} // namespace
} // namespace kestcam
