// The catalogue GET: the one place where the client talks to the installed transport. It
// collects one answer under the 32 MB bound and hands the body over without copying it; the
// endpoints judge the status themselves.
#include <cstdarg>
#include <cstdio>

#include "filmo_internal.h"

namespace {

constexpr uint32_t kBoundMb = 32;
constexpr uint64_t kBodyBound = uint64_t{kBoundMb} * 1048576u;
// Up to 15 caller lines and the terminating null entry.
constexpr size_t kHeaderSlots = 16;

static_assert(sizeof(void *) != 8 || sizeof(vornak_http_request) == VORNAK_REQUEST_SIZE,
              "the request record is laid out for 112 bytes");

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void say(char *err, size_t err_size, const char *format, ...) {
    if (err == nullptr || err_size == 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(err, err_size, format, args);
    va_end(args);
}

// The collector plus what its sinks cannot tell afterwards: that an append ran out of memory.
// The collector then asks the transport to stop, and the transport still reports an answer, so
// without this mark a cut body would pass for the whole answer.
struct sink {
    vornak_collect c;
    int32_t oom;
};

int32_t collect_header(void *ctx, const char *name, const char *value) {
    auto *s = static_cast<sink *>(ctx);
    const int32_t stop = vornak_collect_header(&s->c, name, value);
    if (stop != 0) s->oom = 1;
    return stop;
}

int32_t collect_body(void *ctx, const void *bytes, uint64_t n) {
    auto *s = static_cast<sink *>(ctx);
    const int32_t stop = vornak_collect_body(&s->c, bytes, n);
    if (stop != 0 && s->c.truncated == 0) s->oom = 1;
    return stop;
}

// Moves a buffer's block out of the collector, leaving it empty.
vornak_buf take(vornak_buf *b) {
    vornak_buf out = *b;
    *b = vornak_buf{};
    return out;
}

}  // namespace

int32_t filmo_http_get(const char *url, const char *const *headers, char **body_out,
                       size_t *len_out, vornak_buf *headers_out, int32_t *status_out,
                       char *err, size_t err_size) {
    if (body_out != nullptr) *body_out = nullptr;
    if (len_out != nullptr) *len_out = 0;
    int32_t spare_status = 0;
    int32_t *status = status_out != nullptr ? status_out : &spare_status;

    sink s{};
    vornak_collect_init(&s.c, kBodyBound);
    // Whatever the outcome, the collector's remains go with it.
    struct collect_guard {
        vornak_collect *c;
        ~collect_guard() { vornak_collect_free(c); }
    } guard{&s.c};

    vornak_http_request req{};
    req.size = VORNAK_REQUEST_SIZE;
    req.method = "GET";
    req.url = url;

    // The table holds the caller's pointers, not copies; lines past the fifteenth are dropped.
    vornak_cptr<const char *> table;
    if (headers != nullptr) {
        table.reset(static_cast<const char **>(vornak_malloc(kHeaderSlots * sizeof(char *))));
        if (!table) {
            say(err, err_size, "oom: header table");
            return -1;
        }
        size_t n = 0;
        while (n < kHeaderSlots - 1 && headers[n] != nullptr) {
            table.get()[n] = headers[n];
            ++n;
        }
        table.get()[n] = nullptr;
        req.headers = table.get();
        req.header_count = n;
    }

    req.timeout_ms = 120000;
    req.connect_timeout_ms = 15000;
    req.flags = 0;
    req.recv_timeout_ms = 0;
    req.on_header = collect_header;
    req.on_body = collect_body;
    req.sink_ctx = &s;

    const vornak_http *transport = g_client.transport;
    if (transport == nullptr || transport->request == nullptr) {
        // Callers check has_transport first; this only keeps a broken record from crashing us.
        say(err, err_size, "%s", FILMO_MSG_NO_TRANSPORT);
        return -1;
    }
    char *text = nullptr;
    const int32_t rc = transport->request(transport->user_data, &req, status, &text);
    table.reset();

    // The bound wins over whatever the transport returned: a cut body is never handed out.
    bool ok = false;
    if (s.c.truncated != 0) {
        say(err, err_size, "body exceeds %u MB bound", kBoundMb);
    } else if (rc != 0) {
        if (text != nullptr)
            say(err, err_size, "transport: %s", text);
        else
            say(err, err_size, "transport failure");
    } else if (s.oom != 0) {
        say(err, err_size, "oom: response");
    } else {
        ok = true;
    }
    // The transport's text is the transport's, after success as after failure.
    if (text != nullptr && transport->free_buf != nullptr)
        transport->free_buf(transport->user_data, text);
    g_client.last_http_code = *status;
    if (!ok) return -1;

    vornak_buf body = take(&s.c.body);
    if (body.len == 0) {
        vornak_buf_free(&body);  // an empty answer is handed over as no body at all
    } else if (body_out != nullptr) {
        *body_out = body.data;
        if (len_out != nullptr) *len_out = static_cast<size_t>(body.len);
    } else {
        vornak_buf_free(&body);
    }
    if (headers_out != nullptr) *headers_out = take(&s.c.headers);
    return 0;
}
