// Servers on 127.0.0.1 for the real-transport tests: a raw-socket server whose connections are
// scripted by the test (well-behaved HTTP or deliberately broken), and a child process runner
// for the Python catalogue server and the command-line host.
#ifndef FILMO_LOOPBACK_SERVER_H
#define FILMO_LOOPBACK_SERVER_H

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace filmo_test {

// One HTTP request as it arrived.
struct HttpRequest {
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers;  // name as sent, value trimmed
    std::string body;
    // First value of a header (name compared ignoring ASCII case), or "" when absent.
    std::string header(const std::string &name) const;
    bool has(const std::string &name) const;
    size_t count(const std::string &name) const;
};

// One accepted connection, handed to the server's handler on its own thread.
class Conn {
public:
    explicit Conn(int fd, const std::atomic<bool> *stopping) : fd_(fd), stopping_(stopping) {}
    // Reads one request (head, then a Content-Length body). False on close, time-out or stop.
    bool read_request(HttpRequest &r, int timeout_ms = 5000);
    // Writes all bytes; false when the peer is gone.
    bool send(const std::string &bytes);
    // Waits, but returns early (false) when the server stops or the peer closes.
    bool pause_ms(int ms);
    int fd() const { return fd_; }

private:
    bool fill(int timeout_ms);
    int fd_;
    const std::atomic<bool> *stopping_;
    std::string pending_;
};

// A listening socket on 127.0.0.1 with an ephemeral port. Every connection runs `handler` on a
// thread of its own; the destructor wakes and joins them all.
class LoopbackServer {
public:
    using Handler = std::function<void(Conn &)>;
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    uint16_t port() const { return port_; }
    std::string url(const std::string &path = "/") const;
    int connections() const { return accepted_.load(); }

private:
    void accept_loop();
    Handler handler_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::mutex mu_;
    std::vector<int> open_fds_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// An HTTP server over LoopbackServer: reads one request per connection, records it, and lets
// `respond` write the answer.
class HttpServer {
public:
    using Respond = std::function<void(Conn &, const HttpRequest &)>;
    explicit HttpServer(Respond respond);
    std::string url(const std::string &path = "/") const { return server_.url(path); }
    uint16_t port() const { return server_.port(); }
    std::vector<HttpRequest> requests() const;

private:
    mutable std::mutex mu_;
    std::vector<HttpRequest> seen_;
    Respond respond_;
    LoopbackServer server_;
};

// "HTTP/1.1 <status> <reason>" with the given header lines, Content-Length and the body.
std::string http_response(int status, const std::string &reason,
                          const std::vector<std::string> &headers, const std::string &body);
// The same with a chunked body, one chunk per piece.
std::string http_chunked(int status, const std::vector<std::string> &headers,
                         const std::vector<std::string> &pieces);

// A port on 127.0.0.1 that nobody listens on (bound once, then released).
uint16_t unused_port();

// A child process with its stdout on a pipe; killed and reaped by the destructor.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string> &argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    bool started() const { return pid_ > 0; }
    // One line of stdout without its end, waiting at most timeout_ms; false at EOF or time-out.
    bool read_line(std::string &line, int timeout_ms);

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string pending_;
};

// Runs a command to its end; its exit status (or -1) and everything it wrote to stdout and
// stderr.
int run_command(const std::vector<std::string> &argv, std::string &out);

// A fresh directory under the system's temporary directory, removed with its files at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    void write(const std::string &name, const std::string &bytes) const;

private:
    std::string path_;
};

}  // namespace filmo_test

#endif
