// The platform half of the test support over Winsock and the C runtime: sockets, scratch
// directories and heap block sizes. Child processes are not offered here: the tests that run
// the Python server or the command-line host stay on POSIX hosts.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <malloc.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "loopback_server.h"
#include "socket_ops.h"
#include "test_support.h"

namespace filmo_test {

namespace {

// Winsock is started once for the process and left running.
void start_winsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

// Socket handles are kept as int by the portable half; Windows hands out small values.
SOCKET handle(int fd) { return static_cast<SOCKET>(fd); }

sockaddr_in loopback_any_port() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

// ---- sockets -----------------------------------------------------------------------------

namespace sock {

int listen_loopback(uint16_t *port) {
    start_winsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    sockaddr_in a = loopback_any_port();
    int len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s, 64) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        closesocket(s);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    *port = ntohs(a.sin_port);
    return static_cast<int>(s);
}

int wait_readable(int fd, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(handle(fd), &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    int r = select(0, &set, nullptr, nullptr, &tv);
    return r == SOCKET_ERROR ? -1 : r > 0 ? 1 : 0;
}

int accept_one(int listen_fd) {
    SOCKET s = accept(handle(listen_fd), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

long recv_some(int fd, char *buf, size_t n) {
    return recv(handle(fd), buf, static_cast<int>(n > 65536 ? 65536 : n), 0);
}

long send_some(int fd, const char *bytes, size_t n) {
    return ::send(handle(fd), bytes, static_cast<int>(n > 65536 ? 65536 : n), 0);
}

bool peer_gone(int fd, int ms) {
    int r = wait_readable(fd, ms);
    if (r < 0) return true;
    if (r == 0) return false;
    char byte;
    if (recv(handle(fd), &byte, 1, MSG_PEEK) <= 0) return true;
    Sleep(static_cast<DWORD>(ms));  // bytes wait unread: keep waiting without spinning
    return false;
}

void shutdown_both(int fd) { shutdown(handle(fd), SD_BOTH); }

void close_fd(int fd) { closesocket(handle(fd)); }

}  // namespace sock

uint16_t unused_port() {
    start_winsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback_any_port();
    int len = sizeof a;
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    closesocket(s);  // bound but never listening: connections are refused
    return ntohs(a.sin_port);
}

// ---- ScratchDir --------------------------------------------------------------------------

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> serial{0};
    std::filesystem::path tmp = std::filesystem::temp_directory_path();
    for (int tries = 0; tries < 100; ++tries) {
        std::string name = "filmo-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(serial.fetch_add(1)) + "-" +
                           std::to_string(GetTickCount64());
        std::error_code ec;
        if (std::filesystem::create_directory(tmp / name, ec)) {
            path_ = (tmp / name).string();
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch directory");
}

// ---- heap ---------------------------------------------------------------------------------

size_t heap_block_size(void *block) { return _msize(block); }

}  // namespace filmo_test
