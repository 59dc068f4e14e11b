// The portable half of the test servers: connections, the loopback server and its workers,
// request parsing, the HTTP server, canned answers and scratch directories. The socket calls
// (socket_ops.h), processes and the directory's creation are the platform's (posix/, win32/).
#include "loopback_server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "socket_ops.h"

namespace filmo_test {

namespace {

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
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
        int r = sock::wait_readable(fd_, static_cast<int>(left < 50 ? left : 50));
        if (r < 0) return false;
        if (r == 0) continue;
        char buf[16384];
        long n = sock::recv_some(fd_, buf, sizeof buf);
        if (n <= 0) return false;
        pending_.append(buf, static_cast<size_t>(n));
        return true;
    }
    return false;
}

bool Conn::send(const std::string &bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        long n = sock::send_some(fd_, bytes.data() + off, bytes.size() - off);
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
        if (sock::peer_gone(fd_, static_cast<int>(left < 20 ? left : 20))) return false;
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

// ---- LoopbackServer ----------------------------------------------------------------------

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = sock::listen_loopback(&port_);
    acceptor_ = std::thread([this] { accept_loop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_.store(true);
    acceptor_.join();
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (int fd : open_fds_)
            if (fd >= 0) sock::shutdown_both(fd);
    }
    for (auto &t : workers_) t.join();
    sock::close_fd(listen_fd_);
}

void LoopbackServer::accept_loop() {
    while (!stopping_.load()) {
        if (sock::wait_readable(listen_fd_, 20) <= 0) continue;
        int fd = sock::accept_one(listen_fd_);
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
            sock::close_fd(fd);
        });
    }
}

std::string LoopbackServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
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

// ---- ScratchDir --------------------------------------------------------------------------

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
