#include "test_support.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "filmo_internal.h"
#include "vornak_winhttp_internal.h"

namespace filmo_test {

ScriptedTransport::ScriptedTransport() {
    http_.size = sizeof(vornak_http);
    http_.version = 1;
    http_.user_data = this;
    http_.request = &ScriptedTransport::request;
    http_.free_buf = &ScriptedTransport::free_buf;
    ctx_.tag = VORNAK_IO_TAG;
    ctx_.size = sizeof(vornak_io_ctx);
    ctx_.http = &http_;
    io_.ctx = &ctx_;
}

ScriptedTransport &ScriptedTransport::push(Answer a) {
    answers_.push_back(std::move(a));
    return *this;
}

ScriptedTransport &ScriptedTransport::ok(std::string body, int32_t status) {
    Answer a;
    a.status = status;
    a.body = std::move(body);
    return push(std::move(a));
}

ScriptedTransport &ScriptedTransport::fail(const char *err) {
    Answer a;
    a.rc = -1;
    a.err = err;
    return push(std::move(a));
}

void ScriptedTransport::install() {
    if (filmo_set_io(&io_) != 0) throw std::runtime_error("filmo_set_io refused the handle");
}

int32_t ScriptedTransport::request(void *user, const vornak_http_request *req, int32_t *status,
                                   char **err) {
    auto *self = static_cast<ScriptedTransport *>(user);
    *status = 0;
    *err = nullptr;
    Seen s;
    s.method = req->method ? req->method : "";
    s.url = req->url ? req->url : "";
    s.header_count = req->header_count;
    s.headers_null = req->headers == nullptr;
    for (uint64_t i = 0; req->headers && i < req->header_count; ++i)
        s.headers.emplace_back(req->headers[i] ? req->headers[i] : "");
    s.timeout_ms = req->timeout_ms;
    s.connect_timeout_ms = req->connect_timeout_ms;
    s.flags = req->flags;
    s.recv_timeout_ms = req->recv_timeout_ms;
    self->seen_.push_back(std::move(s));

    Answer a;
    if (self->answers_.empty()) {
        a.status = 599;
    } else {
        a = std::move(self->answers_.front());
        self->answers_.pop_front();
    }
    if (a.err) *err = strdup(a.err);
    if (a.rc != 0) return a.rc;
    *status = a.status;
    if (req->on_header) {
        std::string code = std::to_string(a.status);
        if (req->on_header(req->sink_ctx, ":status", code.c_str()) != 0) return 0;
        for (auto &h : a.headers)
            if (req->on_header(req->sink_ctx, h.first.c_str(), h.second.c_str()) != 0) return 0;
    }
    if (req->on_body && !a.body.empty()) {
        size_t step = a.chunk ? a.chunk : a.body.size();
        for (size_t off = 0; off < a.body.size(); off += step) {
            size_t n = std::min(step, a.body.size() - off);
            if (req->on_body(req->sink_ctx, a.body.data() + off, n) != 0) break;
        }
    }
    return 0;
}

void ScriptedTransport::free_buf(void *user, char *text) {
    ++static_cast<ScriptedTransport *>(user)->freed_;
    std::free(text);
}

std::string zlib_compress(const std::string &text, int level) {
    uLongf cap = compressBound(text.size());
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef *>(&out[0]), &cap,
                  reinterpret_cast<const Bytef *>(text.data()), text.size(), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(cap);
    return out;
}

void reset_client() {
    vornak_alloc_fail_after(-1);
    filmo_set_clock(nullptr);
    filmo_shutdown();
    g_client = filmo_state{};
    filmo_fake_reset();
    filmo_fake_mode(0);
    vornak_fake_reset();
    vornak_winhttp_trust_ca_file(nullptr);
}

int64_t ManualClock::now = 0;
ManualClock::ManualClock(int64_t start) {
    now = start;
    filmo_set_clock(&ManualClock::read);
}
ManualClock::~ManualClock() { filmo_set_clock(nullptr); }

}  // namespace filmo_test
