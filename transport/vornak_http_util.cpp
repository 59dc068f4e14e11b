// Shared pieces of the transport library: the growable buffer, the text duplicators, the
// response collector and its header block, header look-ups, the method and header-line checks
// and the acceptance of io handles.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "vornak_alloc.h"
#include "vornak_http.h"

// The records are shared with hosts and other modules by memory layout, not by source: a
// change here would make every party misread the others.
static_assert(sizeof(vornak_http) == 32, "transport record is 32 bytes");
static_assert(sizeof(vornak_http_request) == VORNAK_REQUEST_SIZE, "request record is 112 bytes");
static_assert(sizeof(vornak_io_ctx) == 24, "io context is 24 bytes");
static_assert(offsetof(vornak_http_request, size) == 0, "request layout");
static_assert(offsetof(vornak_http_request, method) == 8, "request layout");
static_assert(offsetof(vornak_http_request, url) == 16, "request layout");
static_assert(offsetof(vornak_http_request, headers) == 24, "request layout");
static_assert(offsetof(vornak_http_request, header_count) == 32, "request layout");
static_assert(offsetof(vornak_http_request, body) == 40, "request layout");
static_assert(offsetof(vornak_http_request, body_len) == 48, "request layout");
static_assert(offsetof(vornak_http_request, user) == 56, "request layout");
static_assert(offsetof(vornak_http_request, password) == 64, "request layout");
static_assert(offsetof(vornak_http_request, timeout_ms) == 72, "request layout");
static_assert(offsetof(vornak_http_request, connect_timeout_ms) == 76, "request layout");
static_assert(offsetof(vornak_http_request, flags) == 80, "request layout");
static_assert(offsetof(vornak_http_request, recv_timeout_ms) == 84, "request layout");
static_assert(offsetof(vornak_http_request, on_header) == 88, "request layout");
static_assert(offsetof(vornak_http_request, on_body) == 96, "request layout");
static_assert(offsetof(vornak_http_request, sink_ctx) == 104, "request layout");

namespace {

constexpr uint64_t k_first_cap = 64;
constexpr size_t k_method_max = 32;
constexpr uint32_t k_http_min_size = 32;
constexpr uint32_t k_ctx_min_size = 24;

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Same bytes after folding A-Z to a-z; n bytes of each side.
bool same_folded(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// RFC 7230 token characters: digits, letters and !#$%&'*+-.^_`|~
bool tchar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Reads the ":status" value the way a C runtime reads a decimal integer (leading blanks, one
// sign, digits up to the first non-digit), but saturating instead of overflowing.
int32_t read_status(const char *value) {
    if (!value) return 0;
    const char *p = value;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool neg = false;
    if (*p == '+' || *p == '-') neg = (*p++ == '-');
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (v <= INT32_MAX) v = v * 10 + (*p - '0');
    if (neg) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

extern "C" {

int32_t vornak_buf_add(vornak_buf *b, const void *src, size_t n) {
    if (!b || (!src && n != 0)) return -1;
    // Room for the terminator as well, so data always reads as a text.
    uint64_t needed = 0;
    if (__builtin_add_overflow(b->len, static_cast<uint64_t>(n), &needed) ||
        __builtin_add_overflow(needed, uint64_t{1}, &needed))
        return -1;
    if (needed > b->cap) {
        uint64_t cap = b->cap ? b->cap : k_first_cap;
        while (cap < needed) {
            if (cap > UINT64_MAX / 2) return -1;
            cap *= 2;
        }
        if (cap > SIZE_MAX) return -1;
        // An append of the buffer's own bytes must survive the move of the block.
        const char *s = static_cast<const char *>(src);
        bool inside = b->data && s >= b->data && s < b->data + b->cap;
        size_t offset = inside ? static_cast<size_t>(s - b->data) : 0;
        char *grown = static_cast<char *>(vornak_realloc(b->data, static_cast<size_t>(cap)));
        if (!grown) return -1;
        b->data = grown;
        b->cap = cap;
        if (inside) src = grown + offset;
    }
    if (n) std::memmove(b->data + b->len, src, n);
    b->len += n;
    b->data[b->len] = '\0';
    return 0;
}

int32_t vornak_buf_addc(vornak_buf *b, int c) {
    const char byte = static_cast<char>(c);
    return vornak_buf_add(b, &byte, 1);
}

int32_t vornak_buf_adds(vornak_buf *b, const char *text) {
    if (!text) return -1;
    return vornak_buf_add(b, text, std::strlen(text));
}

void vornak_buf_free(vornak_buf *b) {
    if (!b) return;
    std::free(b->data);
    b->data = nullptr;
    b->len = 0;
    b->cap = 0;
}

char *vornak_strndup(const void *src, size_t n) {
    if (!src && n != 0) return nullptr;
    if (n == SIZE_MAX) return nullptr;
    char *copy = static_cast<char *>(vornak_malloc(n + 1));
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, src, n);
    copy[n] = '\0';
    return copy;
}

char *vornak_strdup(const char *text) {
    if (!text) return nullptr;
    return vornak_strndup(text, std::strlen(text));
}

void vornak_collect_init(vornak_collect *c, uint64_t limit) {
    if (!c) return;
    *c = vornak_collect{};
    c->limit = limit;
}

int32_t vornak_collect_header(void *ctx, const char *name, const char *value) {
    auto *c = static_cast<vornak_collect *>(ctx);
    if (!c) return 1;
    if (!name) return 0;  // nothing that could be stored or looked up later
    if (std::strcmp(name, ":status") == 0) {
        c->status = read_status(value);
        return 0;
    }
    if (vornak_buf_adds(&c->headers, name) != 0 || vornak_buf_addc(&c->headers, 0) != 0)
        return 1;
    if (value && vornak_buf_adds(&c->headers, value) != 0) return 1;
    return vornak_buf_addc(&c->headers, 0) != 0 ? 1 : 0;
}

int32_t vornak_collect_body(void *ctx, const void *bytes, uint64_t n) {
    auto *c = static_cast<vornak_collect *>(ctx);
    if (!c || (!bytes && n != 0)) return 1;
    vornak_buf &body = c->body;
    if (c->limit != 0 && (body.len > c->limit || n > c->limit - body.len)) {
        // Keep what fits and refuse the rest; every later chunk lands here too, so the bound
        // holds against a transport that keeps calling after being asked to stop.
        if (body.len < c->limit)
            (void)vornak_buf_add(&body, bytes, static_cast<size_t>(c->limit - body.len));
        c->truncated = 1;
        return 1;
    }
    if (n == 0) return 0;
    if (n > SIZE_MAX) return 1;
    return vornak_buf_add(&body, bytes, static_cast<size_t>(n)) != 0 ? 1 : 0;
}

void vornak_collect_free(vornak_collect *c) {
    if (!c) return;
    vornak_buf_free(&c->body);
    vornak_buf_free(&c->headers);
}

const char *vornak_hdrs_get(const vornak_buf *block, const char *name) {
    if (!block || !name || !block->data || block->len == 0) return nullptr;
    const size_t want = std::strlen(name);
    const char *data = block->data;
    const size_t len = static_cast<size_t>(block->len);
    size_t pos = 0;
    while (pos < len) {
        // An entry cut short by a failed append has no closing 0 inside len: it ends the walk.
        const char *key = data + pos;
        const char *key_end = static_cast<const char *>(std::memchr(key, 0, len - pos));
        if (!key_end) return nullptr;
        const size_t value_at = static_cast<size_t>(key_end - data) + 1;
        if (value_at >= len) return nullptr;
        const char *value = data + value_at;
        const char *value_end =
            static_cast<const char *>(std::memchr(value, 0, len - value_at));
        if (!value_end) return nullptr;
        if (static_cast<size_t>(key_end - key) == want && same_folded(key, name, want))
            return value;
        pos = static_cast<size_t>(value_end - data) + 1;
    }
    return nullptr;
}

const char *vornak_header_get(const vornak_http_request *req, const char *name) {
    if (!req || !name || !*name || req->header_count == 0 || !req->headers) return nullptr;
    const size_t want = std::strlen(name);
    for (uint64_t i = 0; i < req->header_count; ++i) {
        const char *line = req->headers[i];
        if (!line) continue;
        // strnlen keeps the comparison inside a line shorter than the name.
        if (strnlen(line, want + 1) <= want || line[want] != ':') continue;
        if (!same_folded(line, name, want)) continue;
        const char *value = line + want + 1;
        while (*value == ' ' || *value == '\t') ++value;
        return value;
    }
    return nullptr;
}

int32_t vornak_method_ok(const char *method) {
    if (!method || !*method) return 0;
    size_t n = 0;
    for (; method[n]; ++n)
        if (n >= k_method_max || !tchar(static_cast<unsigned char>(method[n]))) return 0;
    return 1;
}

int32_t vornak_header_line(const char *name, const char *value, char *out, size_t out_size) {
    if (!name || !*name || !out || out_size < 4) return -1;
    for (const char *p = name; *p; ++p)
        if (!tchar(static_cast<unsigned char>(*p))) return -1;
    if (!value) value = "";
    // Control bytes (tab included) and DEL would let a value split or smuggle header lines.
    for (const char *p = value; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 32 || c == 127) return -1;
    }
    const int n = std::snprintf(out, out_size, "%s: %s", name, value);
    if (n < 0 || static_cast<size_t>(n) >= out_size) return -1;
    return 0;
}

const vornak_http *vornak_http_from_ctx(const vornak_io_ctx *ctx) {
    if (!ctx || ctx->tag != VORNAK_IO_TAG || ctx->size < k_ctx_min_size) return nullptr;
    const vornak_http *http = ctx->http;
    if (!http || http->size < k_http_min_size || http->version != 1 || !http->request)
        return nullptr;
    return http;
}

const vornak_http *vornak_http_of(const vornak_io *io) {
    if (!io) return nullptr;
    return vornak_http_from_ctx(io->ctx);
}

}  // extern "C"
