// The platform half of the test support over POSIX: sockets, processes, scratch directories
// and heap block sizes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "loopback_server.h"
#include "socket_ops.h"
#include "test_support.h"

namespace filmo_test {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- sockets -----------------------------------------------------------------------------

namespace sock {

int listen_loopback(uint16_t *port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    *port = ntohs(a.sin_port);
    return fd;
}

int wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, ms);
    return r < 0 ? (errno == EINTR ? 0 : -1) : r > 0 ? 1 : 0;
}

int accept_one(int listen_fd) { return ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC); }

long recv_some(int fd, char *buf, size_t n) { return static_cast<long>(::recv(fd, buf, n, 0)); }

long send_some(int fd, const char *bytes, size_t n) {
    for (;;) {
        ssize_t sent = ::send(fd, bytes, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        return static_cast<long>(sent);
    }
}

bool peer_gone(int fd, int ms) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, ms) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void shutdown_both(int fd) { ::shutdown(fd, SHUT_RDWR); }

void close_fd(int fd) { ::close(fd); }

}  // namespace sock

uint16_t unused_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);  // bound but never listening: connections are refused
    return ntohs(a.sin_port);
}

// ---- processes ---------------------------------------------------------------------------

namespace {

std::vector<char *> argv_of(const std::vector<std::string> &argv) {
    std::vector<char *> out;
    for (auto &a : argv) out.push_back(const_cast<char *>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Starts argv with stdout (and, when asked, stderr) on a pipe; stdin from /dev/null.
pid_t spawn(const std::vector<std::string> &argv, int *out_fd, bool with_stderr) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    std::vector<char *> args = argv_of(argv);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        if (with_stderr) ::dup2(fds[1], 2);
        int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return -1;
    }
    *out_fd = fds[0];
    return pid;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string> &argv) {
    pid_ = spawn(argv, &out_fd_, false);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int st = 0;
        ::waitpid(pid_, &st, 0);
    }
    if (out_fd_ >= 0) ::close(out_fd_);
}

bool ChildProcess::read_line(std::string &line, int timeout_ms) {
    int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return true;
        }
        int64_t left = deadline - now_ms();
        if (out_fd_ < 0 || left <= 0) return false;
        pollfd p{out_fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[4096];
        ssize_t n = ::read(out_fd_, buf, sizeof buf);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
    }
}

int run_command(const std::vector<std::string> &argv, std::string &out) {
    int fd = -1;
    pid_t pid = spawn(argv, &fd, true);
    if (pid < 0) return -1;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    int st = 0;
    if (::waitpid(pid, &st, 0) != pid || !WIFEXITED(st)) return -1;
    return WEXITSTATUS(st);
}

// ---- ScratchDir --------------------------------------------------------------------------

ScratchDir::ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "filmo-XXXXXX").string();
    if (!::mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

// ---- heap ---------------------------------------------------------------------------------

size_t heap_block_size(void *block) { return malloc_usable_size(block); }

}  // namespace filmo_test
