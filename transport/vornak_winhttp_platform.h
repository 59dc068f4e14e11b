// The seam between the WinHTTP transport's own logic (vornak_http_winhttp.cpp: request checks,
// header rules, the authentication decision, head parsing, delivery, failure texts) and the
// platform's HTTP service. One file realises it per platform: over libcurl on Linux
// (vornak_winhttp_curl.cpp), over WinHTTP on Windows. Nothing here is exported.
//
// One exchange owns one wplat, opened by wplat_open and released by wplat_close on every path.
// Texts are UTF-8; a platform that speaks UTF-16 converts inside its own file and reports a
// failed conversion through the step it belongs to.
#ifndef VORNAK_WINHTTP_PLATFORM_H
#define VORNAK_WINHTTP_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>

// The step that failed; the transport turns it into its text (the error number goes where a text
// ends in ": %lu"). The step and the number are WinHTTP's for the same situation on every
// platform: a platform without WinHTTP translates its own failures (vornak_winhttp_errors.h).
enum wplat_step : int {
    WPLAT_OK = 0,
    WPLAT_UTF8_URL,      // "utf-8 url"
    WPLAT_CRACK,         // "WinHttpCrackUrl failed: %lu" (also a scheme other than http/https)
    WPLAT_OOM,           // "oom"
    WPLAT_OPEN,          // "WinHttpOpen failed: %lu"
    WPLAT_CONNECT,       // "WinHttpConnect failed: %lu"
    WPLAT_METHOD,        // "bad method"
    WPLAT_OPEN_REQUEST,  // "WinHttpOpenRequest failed: %lu"
    WPLAT_HEADERS,       // "utf-8 headers"
    WPLAT_SEND,          // "WinHttpSendRequest failed: %lu": no connection, TLS or send failure
    WPLAT_RECEIVE,       // "WinHttpReceiveResponse failed: %lu": no response head
    WPLAT_QUERY_DATA,    // "WinHttpQueryDataAvailable failed: %lu"
    WPLAT_READ,          // "WinHttpReadData failed: %lu"
};

struct wplat_fail {
    wplat_step step;
    unsigned long code;  // WinHTTP's error number
};

// Server authentication schemes, with WinHTTP's numbers.
enum : uint32_t {
    WPLAT_AUTH_BASIC = 1,
    WPLAT_AUTH_NTLM = 2,
    WPLAT_AUTH_PASSPORT = 4,
    WPLAT_AUTH_DIGEST = 8,
    WPLAT_AUTH_NEGOTIATE = 16,
};

// What the exchange is set up with; the transport has applied the defaults already.
struct wplat_options {
    const char *method;  // a token vornak_method_ok accepts
    const char *url;     // absolute http or https URL
    int32_t connect_ms;  // connect time-out
    int32_t send_ms;     // send time-out
    int32_t recv_ms;     // receive time-out
    bool decompress;     // decode gzip and deflate content encodings
};

// Receives each body chunk as it arrives; non-zero asks to stop reading at once.
using wplat_chunk_fn = int (*)(void *ctx, const void *bytes, size_t n);

struct wplat;

// Cracks the URL and sets up session, connection and request. On failure *x stays null.
wplat_fail wplat_open(wplat **x, const wplat_options *o);

// Sends the request and waits for the final response head. `headers` holds the extra request
// header lines, each ended by CR LF (null or empty: none); given once, they stay with the
// request for a repeated send, which passes null. The body (null: none) is sent in whole with
// each send. A send replaces the answer of the one before.
wplat_fail wplat_send(wplat *x, const char *headers, size_t headers_len, const void *body,
                      uint32_t body_len);

// The status of the received answer; false when it cannot be had.
bool wplat_status(wplat *x, int32_t *status);

// The raw head of the received answer: status line first, lines ended by CR LF, UTF-8. Valid
// until the next send or close; null when it cannot be had.
const char *wplat_raw_head(wplat *x, size_t *len);

// WPLAT_AUTH_* schemes the server offered with its 401 answer; 0 when none or unknown.
uint32_t wplat_auth_schemes(wplat *x);

// Credentials for the next send, for one scheme; false when they cannot be set.
bool wplat_set_credentials(wplat *x, uint32_t scheme, const char *user, const char *password);

// Reads the body of the received answer to its end, handing each chunk to `chunk` in order. A
// chunk that asks to stop ends the reading with WPLAT_OK; nothing further is read.
wplat_fail wplat_read_body(wplat *x, wplat_chunk_fn chunk, void *ctx);

// Closes whatever the exchange holds; null does nothing.
void wplat_close(wplat *x);

struct wplat_closer {
    void operator()(wplat *x) const noexcept { wplat_close(x); }
};
using wplat_ptr = std::unique_ptr<wplat, wplat_closer>;

#endif
