// The in-memory fake transport: scripted answers keyed by (method, url), served from memory.
// A host registers canned answers, byte resources with range support, dripping bodies and
// injected failures, points code that speaks HTTP at g_fake_http, and afterwards reads what
// was asked. One lock guards the table; it is never held while a sink runs or a drip sleeps.
#include <atomic>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vornak_alloc.h"
#include "vornak_http.h"
#include "vornak_thread.h"

namespace {

enum route_kind : int { KIND_CANNED = 0, KIND_FILE = 1, KIND_FAIL = 2, KIND_DRIP = 3 };

constexpr int MAX_ROUTES = 256;
constexpr int FIRST_CAP = 16;
constexpr size_t DRIP_CHUNK = 64;
constexpr uint64_t PIECE = 65536;
constexpr const char *DEFAULT_FAIL = "fake: transport failure";
constexpr const char *DRIP_HEADERS = "Content-Type: application/octet-stream\n";

struct route {
    char *method;
    char *url;
    int kind;
    int status;
    char *headers;
    char *body;
    uint64_t body_len;
    int range_mode;
    int drip_limit;
    char *fail_text;
    int hits;
};

route *g_routes = nullptr;
int g_n = 0;
int g_cap = 0;
int g_total = 0;
int g_writes = 0;
// Read without the lock by vornak_fake_last_request; atomic so that the pointer itself is never
// torn, while the text's lifetime stays the reader's affair.
std::atomic<char *> g_last_req{nullptr};

// Counters saturate rather than overflow.
void bump(int &counter) {
    if (counter < INT_MAX) ++counter;
}

bool writes(const char *method) {
    static const char *const kWriting[] = {"PUT",  "MKCOL",     "DELETE", "MOVE", "COPY",
                                           "PROPPATCH", "LOCK", "UNLOCK", "POST"};
    for (const char *m : kWriting)
        if (std::strcmp(method, m) == 0) return true;
    return false;
}

// ---- route table (callers hold the lock) --------------------------------------------------------

route *find(const char *method, const char *url) {
    for (int i = 0; i < g_n; ++i)
        if (std::strcmp(g_routes[i].method, method) == 0 && std::strcmp(g_routes[i].url, url) == 0)
            return &g_routes[i];
    return nullptr;
}

void release_payload(route *r) {
    std::free(r->headers);
    std::free(r->body);
    std::free(r->fail_text);
    r->headers = nullptr;
    r->body = nullptr;
    r->fail_text = nullptr;
    r->body_len = 0;
}

// The route of (method, url) with its payload released, added when new; null when the table
// is full or memory runs out. Counters of an existing route survive.
route *upsert(const char *method, const char *url) {
    if (route *r = find(method, url)) {
        release_payload(r);
        return r;
    }
    if (g_n >= MAX_ROUTES) return nullptr;
    if (g_n == g_cap) {
        int cap = g_cap ? g_cap * 2 : FIRST_CAP;
        void *grown = vornak_realloc(g_routes, static_cast<size_t>(cap) * sizeof(route));
        if (!grown) return nullptr;
        g_routes = static_cast<route *>(grown);
        g_cap = cap;
    }
    vornak_cptr<char> m(vornak_strdup(method));
    vornak_cptr<char> u(vornak_strdup(url));
    if (!m || !u) return nullptr;
    route *r = &g_routes[g_n++];
    std::memset(r, 0, sizeof *r);
    r->method = m.release();
    r->url = u.release();
    return r;
}

// ---- registration ----------------------------------------------------------------------------

// Heap copies into out; true also when there is nothing to copy (out stays null).
bool copy_text(const char *src, vornak_cptr<char> *out) {
    if (!src) return true;
    out->reset(vornak_strdup(src));
    return *out != nullptr;
}

bool copy_bytes(const void *src, uint64_t n, vornak_cptr<char> *out) {
    if (!src || n == 0) return true;
    out->reset(static_cast<char *>(vornak_malloc(static_cast<size_t>(n))));
    if (!*out) return false;
    std::memcpy(out->get(), src, static_cast<size_t>(n));
    return true;
}

// What one registration puts into its route. The copies are made before the lock is taken, so
// a registration that runs out of memory leaves the table as it was.
struct payload {
    int kind;
    int status;
    int range_mode;
    int drip_limit;
    const char *headers;
    const char *fail_text;
    const void *body;
    uint64_t body_len;
};

int32_t reg(const char *method, const char *url, const payload &p) {
    if (!method || !url) return -1;
    // A missing body is an empty one, whatever length came with it.
    uint64_t body_len = p.body ? p.body_len : 0;
    vornak_cptr<char> headers, fail_text, body;
    if (!copy_text(p.headers, &headers) || !copy_text(p.fail_text, &fail_text) ||
        !copy_bytes(p.body, body_len, &body))
        return -1;

    vornak_lock_guard lock;
    route *r = upsert(method, url);
    if (!r) return -1;
    r->kind = p.kind;
    if (p.kind != KIND_FAIL) r->status = p.status;
    if (p.kind == KIND_FILE) r->range_mode = p.range_mode;
    if (p.kind == KIND_DRIP) r->drip_limit = p.drip_limit;
    r->headers = headers.release();
    r->fail_text = fail_text.release();
    r->body = body.release();
    r->body_len = body_len;
    return 0;
}

// ---- the last request as JSON ----------------------------------------------------------------

int32_t json_escape(vornak_buf *b, const char *s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int32_t rc;
        if (c == '"' || c == '\\') {
            rc = vornak_buf_addc(b, '\\');
            if (rc == 0) rc = vornak_buf_addc(b, c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            rc = vornak_buf_adds(b, esc);
        } else {
            rc = vornak_buf_addc(b, c);
        }
        if (rc != 0) return -1;
    }
    return 0;
}

int32_t json_string(vornak_buf *b, const char *s) {
    if (!s) s = "";
    if (vornak_buf_addc(b, '"') != 0 || json_escape(b, s, std::strlen(s)) != 0) return -1;
    return vornak_buf_addc(b, '"');
}

// The description of one request; null when memory runs out.
char *describe(const vornak_http_request *req) {
    vornak_buf b{};
    bool ok = vornak_buf_adds(&b, "{\"method\":") == 0 && json_string(&b, req->method) == 0 &&
              vornak_buf_adds(&b, ",\"url\":") == 0 && json_string(&b, req->url) == 0 &&
              vornak_buf_adds(&b, ",\"headers\":[") == 0;
    for (uint64_t i = 0; ok && req->headers && i < req->header_count; ++i)
        ok = (i == 0 || vornak_buf_addc(&b, ',') == 0) && json_string(&b, req->headers[i]) == 0;
    if (ok) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "],\"body_len\":%" PRIu32 ",\"credentials\":%s}",
                      static_cast<uint32_t>(req->body_len), req->user ? "true" : "false");
        ok = vornak_buf_adds(&b, tail) == 0;
    }
    if (!ok) {
        vornak_buf_free(&b);
        return nullptr;
    }
    return b.data;
}

// ---- answers -----------------------------------------------------------------------------------

// One answer copied out of the table, so that it can be delivered without the lock.
struct answer {
    int status = 404;
    char head[192] = "";        // computed header text of a byte resource
    vornak_cptr<char> headers;  // copied header text of a canned answer or drip
    vornak_cptr<char> body;
    uint64_t body_len = 0;
    bool drip = false;
    int drip_limit = 0;

    const char *header_text() const { return headers ? headers.get() : head; }
    void take_body(const char *src, uint64_t n) {
        // Without memory the answer still goes out, with its headers and an empty body.
        if (copy_bytes(src, n, &body)) body_len = body ? n : 0;
    }
};

// Passes status, header lines and body to the sinks; false once a sink asked to stop.
bool deliver(const vornak_http_request *req, int status, const char *headers, const char *body,
             uint64_t body_len) {
    if (req->on_header) {
        char code[16];
        std::snprintf(code, sizeof code, "%d", status);
        if (req->on_header(req->sink_ctx, ":status", code) != 0) return false;
        for (const char *line = headers; line && *line;) {
            const char *end = std::strchr(line, '\n');
            size_t len = end ? static_cast<size_t>(end - line) : std::strlen(line);
            const char *next = end ? end + 1 : line + len;
            const char *colon = static_cast<const char *>(std::memchr(line, ':', len));
            if (colon) {
                size_t name_len = static_cast<size_t>(colon - line);
                const char *v = colon + 1;
                const char *v_end = line + len;
                while (v < v_end && *v == ' ') ++v;
                if (v < v_end && v_end[-1] == '\r') --v_end;
                size_t value_len = static_cast<size_t>(v_end - v);
                if (name_len <= 127 && value_len <= 511) {
                    char name[128], value[512];
                    std::memcpy(name, line, name_len);
                    name[name_len] = '\0';
                    std::memcpy(value, v, value_len);
                    value[value_len] = '\0';
                    if (req->on_header(req->sink_ctx, name, value) != 0) return false;
                }
            }
            line = next;
        }
    }
    if (req->on_body) {
        for (uint64_t off = 0; off < body_len; off += PIECE) {
            uint64_t n = body_len - off < PIECE ? body_len - off : PIECE;
            if (req->on_body(req->sink_ctx, body + off, n) != 0) return false;
        }
    }
    return true;
}

void drip(const vornak_http_request *req, const answer &a) {
    if (!deliver(req, a.status, a.header_text(), nullptr, 0)) return;
    uint64_t chunks = 0;
    for (uint64_t off = 0; off < a.body_len; off += DRIP_CHUNK) {
        uint64_t n = a.body_len - off < DRIP_CHUNK ? a.body_len - off : DRIP_CHUNK;
        ++chunks;
        if (req->on_body && req->on_body(req->sink_ctx, a.body.get() + off, n) != 0) return;
        if (a.drip_limit > 0 && chunks >= static_cast<uint64_t>(a.drip_limit)) return;
        vornak_sleep_ms(10);
    }
}

// The value of the request's Range line, or null.
const char *range_value(const vornak_http_request *req) {
    for (uint64_t i = 0; req->headers && i < req->header_count; ++i) {
        const char *h = req->headers[i];
        if (!h) continue;
        static const char kName[] = "range";
        size_t k = 0;
        while (k < 5 && h[k] && (h[k] | 0x20) == kName[k]) ++k;
        if (k == 5 && h[5] == ':') {
            const char *v = h + 6;
            while (*v == ' ') ++v;
            return v;
        }
    }
    return nullptr;
}

// The answer of a byte resource (lock held). A range that starts before the first byte
// ("bytes=-N") or ends before it starts is unsatisfiable (416), so no selection ever reaches
// outside the resource.
void file_answer(const route &r, const vornak_http_request *req, answer *a) {
    const uint64_t n = r.body_len;
    const uint32_t n32 = static_cast<uint32_t>(n);
    a->status = 200;
    std::snprintf(a->head, sizeof a->head, "Content-Length: %" PRIu32 "\nAccept-Ranges: bytes\n",
                  n32);
    uint64_t from = 0, count = n;

    const char *v = r.range_mode != 0 ? range_value(req) : nullptr;
    if (v && std::strncmp(v, "bytes=", 6) == 0) {
        const char *p = v + 6;
        char *end = nullptr;
        int64_t s = std::strtoll(p, &end, 10);
        p = end;
        int64_t e = 0;
        bool satisfiable;
        if (s < 0 || static_cast<uint64_t>(s) >= n) {
            satisfiable = false;
        } else if (p[0] == '-' && p[1] == '\0') {
            e = static_cast<int64_t>(n - 1);
            satisfiable = true;
        } else {
            e = static_cast<int64_t>(n - 1);
            if (p[0] == '-') e = std::strtoll(p + 1, nullptr, 10);
            satisfiable = e >= s && !(r.range_mode == 2 && static_cast<uint64_t>(e) >= n);
            if (satisfiable && static_cast<uint64_t>(e) >= n) e = static_cast<int64_t>(n - 1);
        }
        if (satisfiable) {
            a->status = 206;
            std::snprintf(a->head, sizeof a->head,
                          "Content-Range: bytes %" PRId64 "-%" PRId64 "/%" PRIu32
                          "\nContent-Length: %" PRId64 "\n",
                          s, e, n32, e - s + 1);
            from = static_cast<uint64_t>(s);
            count = static_cast<uint64_t>(e - s) + 1;
        } else {
            a->status = 416;
            std::snprintf(a->head, sizeof a->head, "Content-Range: bytes */%" PRIu32 "\n", n32);
            count = 0;
        }
    }
    if (count && std::strcmp(req->method, "HEAD") != 0) a->take_body(r.body + from, count);
}

// Copies the answer of a route out of the table (lock held); the injected failure is returned
// through err instead.
int32_t answer_of(route *r, const vornak_http_request *req, answer *a, char **err) {
    bump(r->hits);
    switch (r->kind) {
    case KIND_FAIL:
        if (err) *err = vornak_strdup(r->fail_text ? r->fail_text : DEFAULT_FAIL);
        return -1;
    case KIND_FILE:
        file_answer(*r, req, a);
        return 0;
    default:
        a->status = r->status;
        a->headers.reset(vornak_strdup(r->headers ? r->headers : ""));
        a->take_body(r->body, r->body_len);
        a->drip = r->kind == KIND_DRIP;
        a->drip_limit = r->drip_limit;
        return 0;
    }
}

void fail(char **err, const char *text) {
    if (err) *err = vornak_strdup(text);
}

int32_t fake_request(void *, const vornak_http_request *req, int32_t *status, char **err) {
    if (status) *status = 0;
    if (err) *err = nullptr;
    if (!req || req->size < VORNAK_REQUEST_SIZE || !req->method || !req->url) {
        fail(err, "fake: bad request");
        return -1;
    }
    if (!vornak_method_ok(req->method)) {
        fail(err, "fake: bad method");
        return -1;
    }
    // Built before the lock; it only reads the caller's record.
    char *described = describe(req);

    answer a;
    {
        vornak_lock_guard lock;
        bump(g_total);
        if (writes(req->method)) bump(g_writes);
        std::free(g_last_req.exchange(described));

        route *r = find(req->method, req->url);
        if (!r && std::strcmp(req->method, "HEAD") == 0) r = find("GET", req->url);
        if (r && answer_of(r, req, &a, err) != 0) return -1;
    }
    if (a.drip)
        drip(req, a);
    else
        deliver(req, a.status, a.header_text(), a.body.get(), a.body_len);
    if (status) *status = a.status;
    return 0;
}

void fake_free(void *, char *text) { std::free(text); }

const vornak_http g_fake_http = {sizeof(vornak_http), 1, nullptr, fake_request, fake_free};

}  // namespace

extern "C" const vornak_http *vornak_http_fake(void) { return &g_fake_http; }

extern "C" int32_t vornak_fake_set(const char *method, const char *url, int32_t status,
                                   const char *headers, const void *body, size_t body_len) {
    if (!vornak_method_ok(method)) return -1;
    return reg(method, url, {KIND_CANNED, status, 0, 0, headers ? headers : "", nullptr, body,
                             body_len});
}

extern "C" int32_t vornak_fake_file(const char *url, const void *body, size_t body_len,
                                    int32_t range_mode) {
    return reg("GET", url, {KIND_FILE, 200, range_mode, 0, nullptr, nullptr, body, body_len});
}

extern "C" int32_t vornak_fake_drip(const char *url, int32_t status, const void *body,
                                    size_t body_len, int32_t chunk_limit) {
    return reg("GET", url,
               {KIND_DRIP, status, 0, chunk_limit, DRIP_HEADERS, nullptr, body, body_len});
}

extern "C" int32_t vornak_fake_fail(const char *method, const char *url, const char *text) {
    return reg(method, url,
               {KIND_FAIL, 0, 0, 0, nullptr, text ? text : DEFAULT_FAIL, nullptr, 0});
}

extern "C" int32_t vornak_fake_calls(const char *method, const char *url) {
    vornak_lock_guard lock;
    if (!method || !url) return g_total;
    const route *r = find(method, url);
    return r ? r->hits : 0;
}

extern "C" int32_t vornak_fake_calls_method(const char *method) {
    vornak_lock_guard lock;
    if (!method) return g_total;
    int64_t sum = 0;
    for (int i = 0; i < g_n; ++i)
        if (std::strcmp(g_routes[i].method, method) == 0) sum += g_routes[i].hits;
    return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

extern "C" int32_t vornak_fake_writes_sent(void) {
    vornak_lock_guard lock;
    return g_writes;
}

extern "C" const char *vornak_fake_last_request(void) {
    return g_last_req.load(std::memory_order_acquire);
}

extern "C" void vornak_fake_reset(void) {
    vornak_lock_guard lock;
    for (int i = 0; i < g_n; ++i) {
        release_payload(&g_routes[i]);
        std::free(g_routes[i].method);
        std::free(g_routes[i].url);
    }
    std::free(g_routes);
    g_routes = nullptr;
    g_n = g_cap = g_total = g_writes = 0;
    std::free(g_last_req.exchange(nullptr));
}
