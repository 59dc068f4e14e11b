// The io-over-HTTP adapter: one process-wide io handle over a transport record, whose get and
// post perform plain text requests through that transport. It is also how a host builds the
// handle that filmo_set_io accepts.
#include <cstdlib>
#include <cstring>

#include "vornak_http.h"

namespace {

// The one handle and its context. Filling and re-pointing are plain writes: the host must not
// re-point the handle while another thread uses it.
vornak_io_ctx g_ctx;
vornak_io g_io;
bool g_filled = false;

// The collected body, and whether an append ran out of memory (a stopped exchange still
// returns 0 from the transport, so the reason has to be kept here).
struct str_sink {
    vornak_buf buf;
    bool oom;
};

int32_t str_body(void *ctx, const void *bytes, uint64_t n) {
    auto *s = static_cast<str_sink *>(ctx);
    if (vornak_buf_add(&s->buf, bytes, static_cast<size_t>(n)) == 0) return 0;
    s->oom = true;
    return 1;
}

void say(char **err, const char *text) {
    if (err) *err = vornak_strdup(text);
}

// Hands a transport's error text back to the transport that made it.
void drop_err(const vornak_http *http, char *text) {
    if (text && http->free_buf) http->free_buf(http->user_data, text);
}

int32_t io_do(const vornak_http *http, const char *method, const char *url, const char *body,
              const char *content_type, char **out, int32_t *status, char **err) {
    if (!http) {
        say(err, "io_over_http: no transport installed");
        return -1;
    }
    vornak_http_request req;
    std::memset(&req, 0, sizeof req);
    req.size = VORNAK_REQUEST_SIZE;
    req.method = method;
    req.url = url;

    char line[256];
    const char *headers[1] = {line};
    if (body) {
        if (vornak_header_line("Content-Type",
                               content_type ? content_type : "application/x-www-form-urlencoded",
                               line, sizeof line) != 0) {
            say(err, "bad content type");
            return -1;
        }
        req.headers = headers;
        req.header_count = 1;
        req.body = body;
        req.body_len = std::strlen(body);
    }
    if (out) *out = nullptr;

    str_sink sink{};
    req.on_body = str_body;
    req.sink_ctx = &sink;

    // The transport writes the caller's outs itself; scratch ones stand in for missing outs.
    int32_t st = 0;
    char *e = nullptr;
    char **errp = err ? err : &e;
    int32_t rc = http->request(http->user_data, &req, status ? status : &st, errp);
    if (!err) drop_err(http, e);
    if (rc != 0) {
        vornak_buf_free(&sink.buf);
        return rc;
    }
    // A body cut short by exhausted memory is a failure, never a shorter success.
    if (sink.oom || vornak_buf_addc(&sink.buf, 0) != 0) {
        vornak_buf_free(&sink.buf);
        if (err) {
            drop_err(http, *err);
            *err = vornak_strdup("oom");
        }
        return -1;
    }
    if (out)
        *out = sink.buf.data;
    else
        vornak_buf_free(&sink.buf);
    return 0;
}

int32_t io_get(vornak_io_ctx *ctx, const char *url, char **body, int32_t *status, char **err) {
    return io_do(vornak_http_from_ctx(ctx), "GET", url, nullptr, nullptr, body, status, err);
}

int32_t io_post(vornak_io_ctx *ctx, const char *url, const char *body, const char *content_type,
                char **body_out, int32_t *status, char **err) {
    return io_do(vornak_http_from_ctx(ctx), "POST", url, body ? body : "", content_type,
                 body_out, status, err);
}

void io_free_buf(vornak_io_ctx *, char *text) { std::free(text); }

}  // namespace

extern "C" vornak_io *vornak_io_over_http(const vornak_http *http, void *user) {
    if (!http) return nullptr;
    if (!g_filled) {
        g_ctx.tag = VORNAK_IO_TAG;
        g_ctx.size = sizeof(vornak_io_ctx);
        g_io.ctx = &g_ctx;
        g_io.get = io_get;
        g_io.post = io_post;
        g_io.free_buf = io_free_buf;
        g_filled = true;
    }
    g_ctx.http = http;
    g_ctx.user = user;
    return &g_io;
}
