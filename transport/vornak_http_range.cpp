// Byte-range helpers for hosts and transports: the Content-Range parser and the ranged GET that
// copes with a server which ignores the Range header and sends the whole resource.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vornak_http.h"

namespace {

// One decimal position as the C conversion reads it (leading white space and a sign allowed).
// False when no digit was read. An overlong number saturates instead of wrapping.
bool num(const char *&p, int64_t *out) {
    char *end = nullptr;
    long long v = std::strtoll(p, &end, 10);
    if (end == p) return false;
    p = end;
    *out = static_cast<int64_t>(v);
    return true;
}

// Step 7 of the parse: the optional "/total" part after the positions.
int32_t total_part(const char *p, int64_t first, int64_t last, int64_t *total) {
    if (*p == '\0') return 0;
    if (*p != '/') return -1;
    ++p;
    if (*p == '*') return 0;
    int64_t t = 0;
    if (!num(p, &t) || t < 0 || *p != '\0') return -1;
    if (first >= 0 && last >= 0 && t < first) return -1;
    *total = t;
    return 0;
}

}  // namespace

extern "C" int32_t vornak_content_range(const char *value, int64_t *first, int64_t *last,
                                        int64_t *total) {
    // The outs are optional; a missing one is written to a scratch value.
    int64_t scratch[3];
    if (!first) first = &scratch[0];
    if (!last) last = &scratch[1];
    if (!total) total = &scratch[2];
    *first = *last = *total = -1;
    if (!value || std::strncmp(value, "bytes", 5) != 0) return -1;
    const char *p = value + 5;
    while (*p == ' ') ++p;
    if (*p == '*') return total_part(p + 1, -1, -1, total);
    if (*p == '\0') return 0;

    int64_t f = 0;
    if (!num(p, &f) || *p != '-' || f < 0) return -1;
    *first = f;
    ++p;
    if (*p == '*') return total_part(p + 1, f, -1, total);
    int64_t l = 0;
    if (!num(p, &l) || l < 0 || (*p != '/' && *p != '\0')) return -1;
    *last = l;
    if (l < f) return -1;
    return total_part(p, f, l, total);
}

extern "C" int32_t vornak_http_range(const vornak_http *http, const char *url, int64_t first,
                                     int64_t last, vornak_collect *c, int32_t *status,
                                     char **err) {
    // A record without a request callback cannot be called at all: refuse it like a missing one.
    if (!http || !http->request || !url || !c || first < 0 || first > last) {
        if (err) *err = vornak_strdup("bad range args");
        return -1;
    }
    char line[128];
    std::snprintf(line, sizeof line, "Range: bytes=%" PRId64 "-%" PRId64, first, last);
    const char *headers[1] = {line};

    vornak_http_request req;
    std::memset(&req, 0, sizeof req);
    req.size = VORNAK_REQUEST_SIZE;
    req.method = "GET";
    req.url = url;
    req.headers = headers;
    req.header_count = 1;
    req.on_header = vornak_collect_header;
    req.on_body = vornak_collect_body;
    req.sink_ctx = c;

    // The transport writes both outs on entry; give it scratch ones when the caller has none,
    // and hand an unwanted error text straight back to the transport.
    int32_t st = 0;
    char *e = nullptr;
    int32_t rc = http->request(http->user_data, &req, status ? status : &st, err ? err : &e);
    if (e && http->free_buf) http->free_buf(http->user_data, e);
    if (status) st = *status;
    if (rc != 0 || st != 200 || first == 0) return rc;

    // A 200 carries the whole resource: keep everything from the first byte on.
    vornak_buf *b = &c->body;
    uint64_t skip = static_cast<uint64_t>(first);
    if (b->len > skip) {
        std::memmove(b->data, b->data + skip, b->len - skip);
        b->len -= skip;
        b->data[b->len] = '\0';
    }
    return rc;
}
