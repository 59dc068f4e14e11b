// The keeping host transport: a vornak_http record of its own whose request hands the library's
// request to the real transport with the sinks teed, so that the library sees the answer as
// ever and the command keeps the very bytes the server sent. Installed through an io handle
// (vornak_io_over_http) and filmo_set_io, like any host's transport.
#include "filmo_hostio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace filmo_cli {

namespace {

bool same_name(const std::string &a, const char *b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The library's own choice of real transport (filmo_use_curl): curl's when built, else WinHTTP.
const vornak_http *real_transport() {
    const vornak_http *t = vornak_http_curl();
    return t ? t : vornak_http_winhttp();
}

}  // namespace

const std::string *exchange::header(const char *name) const {
    for (const auto &h : headers)
        if (same_name(h.first, name)) return &h.second;
    return nullptr;
}

std::string what_came(const exchange &e) {
    if (!e.answered()) return "transport: " + e.error;
    return "HTTP " + std::to_string(e.status) + " with " + std::to_string(e.body.size()) +
           (e.body.size() == 1 ? " byte" : " bytes");
}

keeping_transport::keeping_transport(int32_t timeout_ms)
    : real_(real_transport()), timeout_ms_(timeout_ms) {
    http_.size = sizeof(vornak_http);
    http_.version = 1;
    http_.user_data = this;
    http_.request = &keeping_transport::request;
    http_.free_buf = &keeping_transport::free_buf;
}

bool keeping_transport::install() {
    return filmo_set_io(vornak_io_over_http(&http_, this)) == 0;
}

// Called by the library through a C function pointer: nothing may be thrown out of here.
int32_t keeping_transport::request(void *self, const vornak_http_request *req, int32_t *status,
                                   char **err) {
    auto *t = static_cast<keeping_transport *>(self);
    const vornak_http *real = t->real_;
    t->last_ = exchange();
    if (!req || req->size < VORNAK_REQUEST_SIZE)
        return real->request(real->user_data, req, status, err);
    try {
        t->last_.url = req->url ? req->url : "";
    } catch (const std::bad_alloc &) {
        t->last_.kept = false;
    }
    vornak_http_request teed = *req;
    t->lib_header_ = req->on_header;
    t->lib_body_ = req->on_body;
    t->lib_ctx_ = req->sink_ctx;
    teed.on_header = &keeping_transport::on_header;
    teed.on_body = &keeping_transport::on_body;
    teed.sink_ctx = t;
    if (t->timeout_ms_ > 0) {
        teed.timeout_ms = teed.connect_timeout_ms = teed.recv_timeout_ms = t->timeout_ms_;
        teed.flags &= ~VORNAK_FLAG_NO_RECV_TIMEOUT;
    }
    int32_t got = 0;
    int32_t rc = real->request(real->user_data, &teed, &got, err);
    if (status) *status = got;
    t->last_.rc = rc;
    if (rc == 0) {
        t->last_.status = got;
    } else {
        try {
            t->last_.error = err && *err ? *err : "failed without a message";
        } catch (const std::bad_alloc &) {
            t->last_.kept = false;
        }
    }
    return rc;
}

// The error texts the library releases came from the real transport.
void keeping_transport::free_buf(void *self, char *text) {
    const vornak_http *real = static_cast<keeping_transport *>(self)->real_;
    if (real->free_buf) real->free_buf(real->user_data, text);
}

int32_t keeping_transport::on_header(void *self, const char *name, const char *value) {
    auto *t = static_cast<keeping_transport *>(self);
    if (name && std::strcmp(name, ":status") != 0) {
        try {
            t->last_.headers.emplace_back(name, value ? value : "");
        } catch (const std::bad_alloc &) {
            t->last_.kept = false;
        }
    }
    return t->lib_header_ ? t->lib_header_(t->lib_ctx_, name, value) : 0;
}

int32_t keeping_transport::on_body(void *self, const void *bytes, uint64_t n) {
    auto *t = static_cast<keeping_transport *>(self);
    int32_t verdict = t->lib_body_ ? t->lib_body_(t->lib_ctx_, bytes, n) : 0;
    // Bytes the library refused are no part of the answer it judged.
    if (verdict != 0) {
        t->last_.body_whole = false;
        return verdict;
    }
    if (n == 0) return 0;
    try {
        t->last_.body.append(static_cast<const char *>(bytes), static_cast<size_t>(n));
    } catch (const std::bad_alloc &) {
        t->last_.kept = false;
        return 1;
    } catch (const std::length_error &) {
        t->last_.kept = false;
        return 1;
    }
    return 0;
}

host_session::host_session(const char *host, int32_t timeout_s)
    : transport_(timeout_s > 0 ? timeout_s * 1000 : 0) {
    filmo_shutdown();
    filmo_set_host(host);
    ready_ = transport_.install();
}

host_session::~host_session() {
    filmo_shutdown();
}

}  // namespace filmo_cli
