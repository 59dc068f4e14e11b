// The platform half of the test support over Winsock and the C runtime: sockets, scratch
// directories and heap block sizes. Child processes are not offered here:
// the tests that run the Python server or the command-line host stay on POSIX hosts.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "loopback_server.h"
#include "test_support.h"

namespace filmo_test {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Winsock is started once for the process and left running.
void start_winsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
}

// Socket handles are kept as int by the portable half; Windows hands out small values.
SOCKET sock(int fd) { return static_cast<SOCKET>(fd); }

// Readable within ms milliseconds: 1, not yet: 0, failure: -1.
int wait_readable(int fd, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock(fd), &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &tv) == SOCKET_ERROR ? -1
           : FD_ISSET(sock(fd), &set)                             ? 1
                                                                  : 0;
}

sockaddr_in loopback_any_port() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

// ---- Conn --------------------------------------------------------------------------------

bool Conn::fill(int timeout_ms) {
    int64_t deadline = now_ms() + timeout_ms;
    while (!stopping_->load()) {
        int64_t left = deadline - now_ms();
        if (left <= 0) return false;
        int r = wait_readable(fd_, static_cast<int>(left < 50 ? left : 50));
        if (r < 0) return false;
        if (r == 0) continue;
        char buf[16384];
        int n = recv(sock(fd_), buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }
    return false;
}

bool Conn::send(const std::string &bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        size_t left = bytes.size() - off;
        int n = ::send(sock(fd_), bytes.data() + off, static_cast<int>(left > 65536 ? 65536 : left),
                       0);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool Conn::pause_ms(int ms) {
    int64_t deadline = now_ms() + ms;
    while (!stopping_->load()) {
        int64_t left = deadline - now_ms();
        if (left <= 0) return true;
        int r = wait_readable(fd_, static_cast<int>(left < 20 ? left : 20));
        if (r < 0) return false;
        if (r > 0) {
            char byte;
            if (recv(sock(fd_), &byte, 1, MSG_PEEK) <= 0) return false;  // the peer closed
            Sleep(20);  // bytes wait unread; keep pausing without spinning
        }
    }
    return false;
}

// ---- LoopbackServer ----------------------------------------------------------------------

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    start_winsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    listen_fd_ = static_cast<int>(s);
    sockaddr_in a = loopback_any_port();
    int len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(s, 64) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        closesocket(s);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_.store(true);
    acceptor_.join();
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (int fd : open_fds_)
            if (fd >= 0) shutdown(sock(fd), SD_BOTH);
    }
    for (auto &t : workers_) t.join();
    closesocket(sock(listen_fd_));
}

void LoopbackServer::accept_loop() {
    while (!stopping_.load()) {
        if (wait_readable(listen_fd_, 20) <= 0) continue;
        SOCKET s = accept(sock(listen_fd_), nullptr, nullptr);
        if (s == INVALID_SOCKET) continue;
        int fd = static_cast<int>(s);
        accepted_.fetch_add(1);
        std::lock_guard<std::mutex> lock(mu_);
        open_fds_.push_back(fd);
        workers_.emplace_back([this, fd] {
            Conn c(fd, &stopping_);
            try {
                handler_(c);
            } catch (...) {
            }
            std::lock_guard<std::mutex> inner(mu_);
            for (auto &open : open_fds_)
                if (open == fd) open = -1;
            closesocket(sock(fd));
        });
    }
}

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
