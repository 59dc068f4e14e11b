// The WinHTTP transport: one synchronous HTTP or HTTPS exchange per call, on the caller's thread.
//
// This file holds the transport's own logic, the same on every platform: the request record
// checks and defaults, which caller header lines go out, the Content-Length line, the single
// authentication retry, turning the final response head into ":status" and header pairs, the
// delivery to the sinks and the failure texts. The platform's HTTP service is reached through
// the seam of vornak_winhttp_platform.h. Nothing lives between calls: every exchange opens and
// closes its own session, connection and request, so several threads may use g_winhttp at once.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vornak_alloc.h"
#include "vornak_http.h"
#include "vornak_winhttp_internal.h"
#include "vornak_winhttp_platform.h"

namespace {

// Response state of one exchange.
struct wresp {
    const vornak_http_request *req;
    vornak_buf block;  // name, 0, value, 0 for each header of the final head
    int32_t status;    // 0 until read
    bool delivered;    // ":status" and the headers went to on_header
    bool stopped;      // a sink asked to stop
};

struct buf_release {
    vornak_buf *buf;
    ~buf_release() { vornak_buf_free(buf); }
};

// Error texts are formatted into 128 bytes and handed out as a heap copy; a text set before is
// replaced and released.
void set_text(char **err, const char *format, unsigned long code) {
    char text[128];
    std::snprintf(text, sizeof text, format, code);
    std::free(*err);
    *err = vornak_strdup(text);
}

int32_t fail(char **err, const char *text) {
    std::free(*err);
    *err = vornak_strdup(text);
    return -1;
}

const char *step_format(wplat_step step) {
    switch (step) {
    case WPLAT_UTF8_URL: return "utf-8 url";
    case WPLAT_CRACK: return "WinHttpCrackUrl failed: %lu";
    case WPLAT_OOM: return "oom";
    case WPLAT_OPEN: return "WinHttpOpen failed: %lu";
    case WPLAT_CONNECT: return "WinHttpConnect failed: %lu";
    case WPLAT_METHOD: return "bad method";
    case WPLAT_OPEN_REQUEST: return "WinHttpOpenRequest failed: %lu";
    case WPLAT_HEADERS: return "utf-8 headers";
    case WPLAT_SEND: return "WinHttpSendRequest failed: %lu";
    case WPLAT_RECEIVE: return "WinHttpReceiveResponse failed: %lu";
    case WPLAT_QUERY_DATA: return "WinHttpQueryDataAvailable failed: %lu";
    case WPLAT_READ: return "WinHttpReadData failed: %lu";
    case WPLAT_OK: break;
    }
    return "";
}

int32_t fail_step(char **err, wplat_fail f) {
    set_text(err, step_format(f.step), f.code);
    return -1;
}

// ASCII-only case folding: header names are compared the same way in every locale.
bool same_name(const char *a, const char *b) {
    for (;; ++a, ++b) {
        unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
        if (x == 0) return true;
    }
}

// Host and Content-Length are the transport's to write, Accept-Encoding follows the
// decompression flag, and with a user the credentials of the retry replace the caller's.
bool dropped(const char *name, bool has_user) {
    return same_name(name, "host") || same_name(name, "content-length") ||
           same_name(name, "accept-encoding") || (has_user && same_name(name, "authorization"));
}

// The request header text: the caller's acceptable lines, then the Content-Length line, each
// ended by CR LF. -1 when memory runs out.
int wwork_headers(const vornak_http_request *req, vornak_buf *text) {
    char line[2048];
    for (uint64_t i = 0; req->headers && i < req->header_count; ++i) {
        const char *h = req->headers[i];
        if (!h) continue;
        const char *colon = std::strchr(h, ':');
        if (!colon) continue;
        size_t name_len = static_cast<size_t>(colon - h);
        if (name_len < 1 || name_len > 127) continue;
        char name[128];
        std::memcpy(name, h, name_len);
        name[name_len] = 0;
        if (dropped(name, req->user != nullptr)) continue;
        const char *value = colon + 1;
        while (*value == ' ') ++value;  // tabs stay, and the line check refuses them
        if (vornak_header_line(name, value, line, sizeof line) != 0) continue;
        if (vornak_buf_adds(text, line) != 0 || vornak_buf_add(text, "\r\n", 2) != 0) return -1;
    }
    bool put_or_post =
        std::strcmp(req->method, "PUT") == 0 || std::strcmp(req->method, "POST") == 0;
    if (req->body || put_or_post) {
        // Bodies travel as 32-bit counts: the low 32 bits of body_len are what is sent.
        unsigned long n = req->body ? static_cast<uint32_t>(req->body_len) : 0;
        std::snprintf(line, sizeof line, "Content-Length: %lu\r\n", n);
        if (vornak_buf_adds(text, line) != 0) return -1;
    }
    return 0;
}

// True when the text is well-formed UTF-8: no overlong form, no encoded surrogate, nothing above
// U+10FFFF, no sequence cut short. Windows refuses anything else when it converts to UTF-16, and
// no platform may put a replacement in: the URL, the header lines and the credentials go out
// exactly as the host gave them, or not at all, on every platform alike.
bool utf8_ok(const char *text, size_t len) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *end = p + len;
    while (p < end) {
        unsigned c = *p++;
        if (c < 0x80) continue;
        int more;
        unsigned lo = 0x80, hi = 0xBF;  // the bounds of the byte after the lead
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0) lo = 0xA0;  // overlong below U+0800
            if (c == 0xED) hi = 0x9F;  // U+D800..U+DFFF
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0) lo = 0x90;  // overlong below U+10000
            if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
        } else {
            return false;  // a continuation byte, C0, C1 or F5..FF as a lead
        }
        if (end - p < more) return false;
        if (*p < lo || *p > hi) return false;
        for (int i = 1; i < more; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += more;
    }
    return true;
}

bool utf8_ok(const char *text) { return utf8_ok(text, std::strlen(text)); }

// Digest when offered, else Basic; no other scheme is ever used.
uint32_t choose_scheme(uint32_t offered) {
    if (offered & WPLAT_AUTH_DIGEST) return WPLAT_AUTH_DIGEST;
    if (offered & WPLAT_AUTH_BASIC) return WPLAT_AUTH_BASIC;
    return 0;
}

// Appends one name/value pair; a failed append is not reported, and takes back what it wrote so
// the block always ends on a whole entry.
void add_header(vornak_buf *block, const char *name, size_t name_len, const char *value,
                size_t value_len) {
    uint64_t start = block->len;
    if (vornak_buf_add(block, name, name_len) == 0 && vornak_buf_addc(block, 0) == 0 &&
        vornak_buf_add(block, value, value_len) == 0 && vornak_buf_addc(block, 0) == 0)
        return;
    if (block->data) {
        block->len = start;
        block->data[start] = 0;
    }
}

}  // namespace

void vornak_winhttp_head_block(const char *head, size_t len, vornak_buf *block) {
    if (!head || len == 0) return;
    const char *nul = static_cast<const char *>(std::memchr(head, 0, len));
    const char *end = nul ? nul : head + len;
    const char *p = head;
    while (p < end && *p != '\r' && *p != '\n') ++p;  // the status line
    for (;;) {
        while (p < end && (*p == '\r' || *p == '\n')) ++p;
        if (p >= end) break;
        const char *line = p;
        while (p < end && *p != '\r' && *p != '\n') ++p;
        const char *colon =
            static_cast<const char *>(std::memchr(line, ':', static_cast<size_t>(p - line)));
        if (!colon) continue;
        const char *value = colon + 1;
        while (value < p && (*value == ' ' || *value == '\t')) ++value;
        if (colon == line || value == p) continue;
        add_header(block, line, static_cast<size_t>(colon - line), value,
                   static_cast<size_t>(p - value));
    }
}

bool vornak_winhttp_flush_headers(const vornak_http_request *req, int32_t status,
                                  const vornak_buf *block) {
    char code[24];
    std::snprintf(code, sizeof code, "%ld", static_cast<long>(status));
    if (req->on_header(req->sink_ctx, ":status", code) != 0) return true;
    const char *p = block->data;
    const char *end = p ? p + block->len : p;
    while (p < end) {
        const char *value = p + std::strlen(p) + 1;
        if (req->on_header(req->sink_ctx, p, value) != 0) return true;
        p = value + std::strlen(value) + 1;
    }
    return false;
}

namespace {

// ":status" first, then each collected header. True when a sink asked to stop.
bool flush_headers(wresp *rs) {
    if (!vornak_winhttp_flush_headers(rs->req, rs->status, &rs->block)) return false;
    rs->stopped = true;
    return true;
}

// One body chunk: the headers go first, then the chunk; a stop ends the reading.
int on_chunk(void *ctx, const void *bytes, size_t n) {
    wresp *rs = static_cast<wresp *>(ctx);
    const vornak_http_request *req = rs->req;
    if (n == 0) return 0;
    if (!rs->delivered) {
        rs->delivered = true;
        if (req->on_header && flush_headers(rs)) return 1;
    } else if (rs->stopped) {
        return 1;
    }
    if (req->on_body && req->on_body(req->sink_ctx, bytes, n) != 0) {
        rs->stopped = true;
        return 1;
    }
    return 0;
}

int32_t exchange(const vornak_http_request *req, int32_t *status, char **err) {
    if (!req || static_cast<uint32_t>(req->size) <= 111 || !req->method || !req->url)
        return fail(err, "bad request");
    if (!vornak_method_ok(req->method)) return fail(err, "bad method");

    int32_t t = req->timeout_ms < 1 ? 60000 : req->timeout_ms;
    wplat_options o{};
    o.method = req->method;
    o.url = req->url;
    o.connect_ms = req->connect_timeout_ms < 1 ? 15000 : req->connect_timeout_ms;
    o.send_ms = t;
    o.recv_ms = (req->flags & VORNAK_FLAG_NO_RECV_TIMEOUT) ? t
                : req->recv_timeout_ms < 1                 ? 60000
                                                           : req->recv_timeout_ms;
    o.decompress = (req->flags & VORNAK_FLAG_DECOMPRESS) != 0;

    // The URL is checked where a platform converts it, before it is cracked.
    if (!utf8_ok(req->url)) return fail_step(err, {WPLAT_UTF8_URL, 0});
    wplat *opened = nullptr;
    wplat_fail f = wplat_open(&opened, &o);
    wplat_ptr x(opened);
    if (f.step != WPLAT_OK) return fail_step(err, f);

    vornak_buf text{};
    buf_release text_release{&text};
    if (wwork_headers(req, &text) != 0) return fail(err, "oom");
    if (!utf8_ok(text.data, static_cast<size_t>(text.len)))
        return fail_step(err, {WPLAT_HEADERS, 0});

    wresp rs{};
    rs.req = req;
    buf_release block_release{&rs.block};
    uint32_t body_len = req->body ? static_cast<uint32_t>(req->body_len) : 0;

    f = wplat_send(x.get(), text.data, static_cast<size_t>(text.len), req->body, body_len);
    vornak_buf_free(&text);
    if (f.step != WPLAT_OK) return fail_step(err, f);
    int32_t code = 0;
    if (wplat_status(x.get(), &code)) rs.status = code;

    // One retry with credentials, only for a 401 and only when the caller gave a user whose name
    // and password are UTF-8 (others would go out altered, so the 401 is the answer). A retry
    // whose send or head fails ends the exchange with that step's failure: the request handle
    // holds no answer then, and reading on would only report the handle's state instead.
    const char *password = req->password ? req->password : "";
    if (rs.status == 401 && req->user && utf8_ok(req->user) && utf8_ok(password)) {
        uint32_t scheme = choose_scheme(wplat_auth_schemes(x.get()));
        if (scheme && wplat_set_credentials(x.get(), scheme, req->user, password)) {
            f = wplat_send(x.get(), nullptr, 0, req->body, body_len);
            if (f.step != WPLAT_OK) return fail_step(err, f);
            if (wplat_status(x.get(), &code)) rs.status = code;
        }
    }

    size_t head_len = 0;
    const char *head = wplat_raw_head(x.get(), &head_len);
    vornak_winhttp_head_block(head, head_len, &rs.block);

    f = wplat_read_body(x.get(), on_chunk, &rs);
    if (f.step != WPLAT_OK) return fail_step(err, f);
    if (!rs.delivered) {  // empty body: the headers still go out once
        rs.delivered = true;
        if (req->on_header) flush_headers(&rs);
    }
    *status = rs.status;
    return 0;
}

int32_t winhttp_request(void *, const vornak_http_request *req, int32_t *status,
                        char **err) noexcept {
    int32_t spare_status = 0;
    char *spare_err = nullptr;
    if (!status) status = &spare_status;
    bool keep_text = err != nullptr;
    if (!err) err = &spare_err;
    *status = 0;
    *err = nullptr;
    int32_t rc = exchange(req, status, err);
    if (!keep_text) std::free(spare_err);
    return rc;
}

void winhttp_free_buf(void *, char *text) noexcept { std::free(text); }

const vornak_http g_winhttp = {32, 1, nullptr, winhttp_request, winhttp_free_buf};

}  // namespace

extern "C" const vornak_http *vornak_http_winhttp(void) { return &g_winhttp; }
