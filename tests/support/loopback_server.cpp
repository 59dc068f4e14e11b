// The portable half of the test servers: request parsing, the HTTP server over a loopback
// server, canned answers and scratch directories. Sockets, processes and the directory's
// creation are the platform's (posix/, win32/).
#include "loopback_server.h"

#include <cstdio>
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
