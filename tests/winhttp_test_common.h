// What the real-transport tests share: a request record built from owned strings, and one
// exchange through vornak_http_winhttp() with sinks that record every call in order.
#ifndef FILMO_WINHTTP_TEST_COMMON_H
#define FILMO_WINHTTP_TEST_COMMON_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "loopback_server.h"
#include "vornak_http.h"

namespace winhttp_test {

// A request with its texts kept alive for the exchange.
struct Call {
    int32_t size = VORNAK_REQUEST_SIZE;
    std::string method = "GET";
    std::string url;
    std::vector<std::optional<std::string>> headers;  // nullopt: a null entry
    std::optional<std::string> body, user, password;
    int32_t timeout_ms = 0, connect_timeout_ms = 0, flags = 0, recv_timeout_ms = 0;
    bool sinks = true;
};

// Everything the transport did in one exchange.
struct Outcome {
    int32_t rc = -2;
    int32_t status = -1;
    bool has_err = false;
    std::string err;
    std::vector<std::pair<std::string, std::string>> headers;  // ":status" included
    std::string body;
    std::vector<std::string> events;       // "h:<name>" and "b:<bytes>" in call order
    int stop_at_header = -1;               // answer 1 to that header call (0-based)
    int stop_at_chunk = -1;                // answer 1 to that body call (0-based)
    std::function<void(size_t)> on_chunk;  // told the size of each chunk

    int body_calls() const {
        int n = 0;
        for (auto &e : events) n += e[0] == 'b';
        return n;
    }
    // Value of the first delivered header of that exact name, or "<none>".
    std::string header(const std::string &name) const {
        for (auto &h : headers)
            if (h.first == name) return h.second;
        return "<none>";
    }
    long long elapsed_ms = 0;
};

inline int32_t record_header(void *ctx, const char *name, const char *value) {
    auto *o = static_cast<Outcome *>(ctx);
    int index = static_cast<int>(o->headers.size());
    o->headers.emplace_back(name, value);
    o->events.push_back(std::string("h:") + name);
    return index == o->stop_at_header ? 1 : 0;
}

inline int32_t record_body(void *ctx, const void *bytes, uint64_t n) {
    auto *o = static_cast<Outcome *>(ctx);
    int index = o->body_calls();
    o->body.append(static_cast<const char *>(bytes), static_cast<size_t>(n));
    o->events.push_back("b:" + std::to_string(n));
    if (o->on_chunk) o->on_chunk(static_cast<size_t>(n));
    return index == o->stop_at_chunk ? 1 : 0;
}

// Runs one exchange; the error text goes back through the record's free_buf.
inline void perform(const Call &c, Outcome &o, bool null_record = false) {
    std::vector<const char *> lines;
    for (auto &h : c.headers) lines.push_back(h ? h->c_str() : nullptr);
    vornak_http_request r{};
    r.size = c.size;
    r.method = c.method.c_str();
    r.url = c.url.c_str();
    r.headers = lines.empty() ? nullptr : lines.data();
    r.header_count = lines.size();
    if (c.body) {
        r.body = c.body->data();
        r.body_len = c.body->size();
    }
    r.user = c.user ? c.user->c_str() : nullptr;
    r.password = c.password ? c.password->c_str() : nullptr;
    r.timeout_ms = c.timeout_ms;
    r.connect_timeout_ms = c.connect_timeout_ms;
    r.flags = c.flags;
    r.recv_timeout_ms = c.recv_timeout_ms;
    if (c.sinks) {
        r.on_header = record_header;
        r.on_body = record_body;
        r.sink_ctx = &o;
    }
    const vornak_http *h = vornak_http_winhttp();
    char *err = reinterpret_cast<char *>(1);  // the transport must reset it
    o.status = -1;
    auto start = std::chrono::steady_clock::now();
    o.rc = h->request(h->user_data, null_record ? nullptr : &r, &o.status, &err);
    o.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
    o.has_err = err != nullptr;
    if (err) {
        o.err = err;
        h->free_buf(h->user_data, err);
    }
}

inline Outcome perform(const Call &c) {
    Outcome o;
    perform(c, o);
    return o;
}

// A server that answers every request with the same bytes.
inline filmo_test::HttpServer answering(std::string response) {
    return filmo_test::HttpServer(
        [response](filmo_test::Conn &c, const filmo_test::HttpRequest &) { c.send(response); });
}

}  // namespace winhttp_test

#endif
