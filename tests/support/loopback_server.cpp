#include "loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace filmo_test {

namespace {

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---- HttpRequest -------------------------------------------------------------------------

std::string HttpRequest::header(const std::string &name) const {
    for (auto &h : headers)
        if (lower(h.first) == lower(name)) return h.second;
    return "";
}

bool HttpRequest::has(const std::string &name) const { return count(name) > 0; }

size_t HttpRequest::count(const std::string &name) const {
    size_t n = 0;
    for (auto &h : headers)
        if (lower(h.first) == lower(name)) ++n;
    return n;
}

// ---- Conn --------------------------------------------------------------------------------

bool Conn::fill(int timeout_ms) {
    int64_t deadline = now_ms() + timeout_ms;
    while (!stopping_->load()) {
        int64_t left = deadline - now_ms();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left < 50 ? left : 50));
        if (r < 0 && errno != EINTR) return false;
        if (r <= 0) continue;
        char buf[16384];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }
    return false;
}

bool Conn::read_request(HttpRequest &r, int timeout_ms) {
    size_t end;
    while ((end = pending_.find("\r\n\r\n")) == std::string::npos)
        if (!fill(timeout_ms)) return false;
    std::string head = pending_.substr(0, end);
    pending_.erase(0, end + 4);
    r = HttpRequest{};
    size_t eol = head.find("\r\n");
    std::string first = head.substr(0, eol);
    size_t s1 = first.find(' '), s2 = first.rfind(' ');
    if (s1 == std::string::npos || s2 == s1) return false;
    r.method = first.substr(0, s1);
    r.target = first.substr(s1 + 1, s2 - s1 - 1);
    r.version = first.substr(s2 + 1);
    size_t pos = eol == std::string::npos ? head.size() : eol + 2;
    while (pos < head.size()) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos) next = head.size();
        std::string line = head.substr(pos, next - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t v = colon + 1;
            while (v < line.size() && (line[v] == ' ' || line[v] == '\t')) ++v;
            r.headers.emplace_back(line.substr(0, colon), line.substr(v));
        }
        pos = next + 2;
    }
    size_t want =
        r.has("Content-Length") ? std::strtoul(r.header("Content-Length").c_str(), nullptr, 10) : 0;
    while (pending_.size() < want)
        if (!fill(timeout_ms)) return false;
    r.body = pending_.substr(0, want);
    pending_.erase(0, want);
    return true;
}

bool Conn::send(const std::string &bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
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
        pollfd p{fd_, POLLRDHUP, 0};
        int r = ::poll(&p, 1, static_cast<int>(left < 20 ? left : 20));
        if (r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return false;
    }
    return false;
}

// ---- LoopbackServer ----------------------------------------------------------------------

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(listen_fd_, 64) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        ::close(listen_fd_);
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
        for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto &t : workers_) t.join();
    ::close(listen_fd_);
}

std::string LoopbackServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::accept_loop() {
    while (!stopping_.load()) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
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
            ::close(fd);
        });
    }
}

// ---- HttpServer --------------------------------------------------------------------------

HttpServer::HttpServer(Respond respond)
    : respond_(std::move(respond)), server_([this](Conn &c) {
          HttpRequest r;
          if (!c.read_request(r)) return;
          {
              std::lock_guard<std::mutex> lock(mu_);
              seen_.push_back(r);
          }
          respond_(c, r);
      }) {}

std::vector<HttpRequest> HttpServer::requests() const {
    std::lock_guard<std::mutex> lock(mu_);
    return seen_;
}

std::string http_response(int status, const std::string &reason,
                          const std::vector<std::string> &headers, const std::string &body) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (auto &h : headers) out += h + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return out + body;
}

std::string http_chunked(int status, const std::vector<std::string> &headers,
                         const std::vector<std::string> &pieces) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " OK\r\n";
    for (auto &h : headers) out += h + "\r\n";
    out += "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    char size[32];
    for (auto &p : pieces) {
        std::snprintf(size, sizeof size, "%zx\r\n", p.size());
        out += size + p + "\r\n";
    }
    return out + "0\r\n\r\n";
}

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

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void ScratchDir::write(const std::string &name, const std::string &bytes) const {
    std::ofstream f(path_ + "/" + name, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + name);
}

}  // namespace filmo_test
