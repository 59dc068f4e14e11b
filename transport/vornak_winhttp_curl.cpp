// The WinHTTP transport's platform seam over libcurl, for platforms without WinHTTP.
//
// One exchange drives one easy handle through a private multi handle, so that the transport can
// stop after the response head (to look at the status and decide on the authentication retry)
// and then stream the body from curl's write callback. Nothing is shared between exchanges: a
// fresh handle and a fresh connection each time, no proxy, no .netrc, no environment; curl's
// global set-up runs once for the process.
//
// Time-outs mean "no bytes moved for that long": the transfer-info callback measures the time
// since the last byte went out or came in, against the send time-out while the body is still
// going out and the receive time-out otherwise; curl's own connect time-out covers connecting.
// A time-out is reported as one, whatever curl makes of the abort.
//
// Failures carry WinHTTP's step and error number for the same situation, so a host reads one
// error language on every platform: the table below turns curl's results into WinHTTP's
// numbers, and how far the exchange got picks the step (vornak_winhttp_curl.h).
//
// https is always verified: the peer's chain against the trusted authorities (the system's
// store, or the PEM file of vornak_winhttp_trust_ca_file in tests) and the host name against
// the certificate. Nothing in a request record or the environment turns that off.
#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "vornak_alloc.h"
#include "vornak_http.h"
#include "vornak_winhttp_curl.h"
#include "vornak_winhttp_errors.h"
#include "vornak_winhttp_internal.h"
#include "vornak_winhttp_platform.h"

namespace werr = vornak_winhttp_error;

struct wplat {
    CURL *easy;
    CURLM *multi;
    CURLU *url;
    curl_slist *headers;  // caller lines and the suppressed defaults; kept for a repeated send
    bool attached;        // easy is in multi
    bool has_body;
    bool is_head;  // a HEAD answer ends with its head

    // The answer of the latest send.
    vornak_buf head;  // raw head of the final response
    bool head_lost;      // memory ran out while collecting it: no headers
    bool head_overflow;  // the head passed its bound
    bool head_done;      // the final head is complete
    bool done;           // the transfer ended, with `result`
    CURLcode result;
    char message[CURL_ERROR_SIZE];  // curl's words for `result`
    bool paused;  // body bytes wait inside curl for wplat_read_body

    int requests;           // requests curl started in this send
    bool followup_refused;  // curl wanted to answer a challenge by itself

    // Body delivery.
    wplat_chunk_fn chunk;
    void *chunk_ctx;
    bool stopped;

    // Idle watchdog.
    int32_t send_ms, recv_ms;
    bool connected;  // the request is about to go out or went out
    bool sending;    // body bytes are still going out
    bool timed_out;
    int64_t last_move;  // steady clock, milliseconds
    curl_off_t last_dl, last_ul;
};

namespace {

// Longest response head taken in: WinHTTP's default bound (64 KB), past which it refuses the
// head with ERROR_WINHTTP_HEADER_SIZE_OVERFLOW. curl refuses a single header line longer than
// its own bound (100 KB) first, as if memory ran out.
constexpr uint64_t k_head_bound = 64 * 1024;

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void touch(wplat *x) { x->last_move = now_ms(); }

int64_t idle_limit(const wplat *x) { return x->sending ? x->send_ms : x->recv_ms; }

bool idle_expired(const wplat *x) {
    return x->connected && now_ms() - x->last_move >= idle_limit(x);
}

// The PEM file the test seam put in place of the system's store; null: the system's store.
std::mutex g_trust_lock;
char *g_trust_file = nullptr;

// Holds g_trust_lock for a scope; a broken lock ends the process instead of throwing.
struct trust_hold {
    trust_hold() noexcept { g_trust_lock.lock(); }
    ~trust_hold() { g_trust_lock.unlock(); }
    trust_hold(const trust_hold &) = delete;
    trust_hold &operator=(const trust_hold &) = delete;
};

CURLcode global_init() noexcept {
    static std::once_flag once;
    static CURLcode rc = CURLE_OK;
    try {
        std::call_once(once, [] { rc = curl_global_init(CURL_GLOBAL_DEFAULT); });
    } catch (...) {
        return CURLE_FAILED_INIT;
    }
    return rc;
}

size_t on_head(char *bytes, size_t size, size_t count, void *p) {
    wplat *x = static_cast<wplat *>(p);
    size_t n = size * count;
    touch(x);
    if (x->head_done) return n;  // trailers of a chunked body are not part of the head
    if (n >= 5 && std::memcmp(bytes, "HTTP/", 5) == 0) {
        // A new response begins (after an interim 1xx): only the final head counts.
        x->head.len = 0;
        if (x->head.data) x->head.data[0] = 0;
        x->head_lost = false;
    }
    if (x->head.len + n > k_head_bound) {
        x->head_overflow = true;
        return 0;
    }
    if (!x->head_lost && vornak_buf_add(&x->head, bytes, n) != 0) x->head_lost = true;
    if (n > 0 && (bytes[0] == '\r' || bytes[0] == '\n')) {
        long code = 0;
        curl_easy_getinfo(x->easy, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 200) x->head_done = true;
    }
    return n;
}

size_t on_body(char *bytes, size_t size, size_t count, void *p) {
    wplat *x = static_cast<wplat *>(p);
    size_t n = size * count;
    touch(x);
    x->head_done = true;
    if (!x->chunk) {
        // Still in the head phase: curl keeps the bytes until wplat_read_body asks for them.
        x->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (n == 0) return 0;
    int stop = x->chunk(x->chunk_ctx, bytes, n);
    touch(x);
    if (stop) {
        x->stopped = true;
        return 0;  // ends the transfer: nothing further is read
    }
    return n;
}

int on_progress(void *p, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    wplat *x = static_cast<wplat *>(p);
    if (dlnow != x->last_dl || ulnow != x->last_ul) {
        x->last_dl = dlnow;
        x->last_ul = ulnow;
        touch(x);
    }
    x->sending = x->has_body && ultotal > 0 && ulnow < ultotal;
    if (!idle_expired(x)) return 0;
    x->timed_out = true;
    return 1;
}

// Called before each request curl sends. One send is one request: curl's wish to answer a
// challenge again by itself (a second Digest round) is refused, and the answer it wanted to
// answer stays the answer of this send.
int on_connected(void *p, char *, char *, int, int) {
    wplat *x = static_cast<wplat *>(p);
    if (++x->requests > 1) {
        x->followup_refused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    x->connected = true;
    x->sending = x->has_body;
    touch(x);
    return CURL_PREREQFUNC_OK;
}

void finish(wplat *x, CURLcode rc) {
    x->done = true;
    x->result = x->followup_refused && rc == CURLE_ABORTED_BY_CALLBACK ? CURLE_OK : rc;
}

void harvest(wplat *x) {
    int left = 0;
    while (CURLMsg *m = curl_multi_info_read(x->multi, &left))
        if (m->msg == CURLMSG_DONE && m->easy_handle == x->easy) finish(x, m->data.result);
}

int poll_wait_ms(const wplat *x) {
    if (!x->connected) return 1000;  // curl wakes itself for its connect time-out
    int64_t left = idle_limit(x) - (now_ms() - x->last_move);
    return left < 1 ? 1 : left > 1000 ? 1000 : static_cast<int>(left);
}

// Runs the transfer until `until` holds or it ends. The watchdog also runs here, so a time-out
// is met even when curl has no reason to call back.
void drive(wplat *x, bool (*until)(const wplat *)) {
    while (!x->done && !until(x)) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(x->multi, &running);
        if (mc == CURLM_OK) harvest(x);
        if (mc != CURLM_OK) {
            finish(x, mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT);
        } else if (!x->done && !until(x) && idle_expired(x)) {
            x->timed_out = true;
            finish(x, CURLE_OPERATION_TIMEDOUT);
        } else if (!x->done && !until(x)) {
            mc = curl_multi_poll(x->multi, nullptr, 0, poll_wait_ms(x), nullptr);
            if (mc != CURLM_OK) finish(x, CURLE_FAILED_INIT);
        }
    }
}

bool head_arrived(const wplat *x) { return x->head_done; }
bool reading_stopped(const wplat *x) { return x->stopped; }

// How far the exchange got: the time-out and the step of a failure follow from it.
wcurl_phase phase_of(const wplat *x) {
    if (!x->connected) return wcurl_phase::connecting;
    if (x->sending) return wcurl_phase::sending;
    return x->head_done ? wcurl_phase::reading_body : wcurl_phase::awaiting_head;
}

// The transfer's failure as WinHTTP reports it. Two of curl's results say less than WinHTTP's
// numbers do: a head that passed its bound, or a header line curl refused as too long (it says
// "out of memory" for that, and only the head is in hand), is WinHTTP's oversized head; a
// chunked body that cannot be parsed (curl says "receive error", and names the chunk in its
// message) is an answer WinHTTP cannot parse.
wplat_fail transfer_failure(const wplat *x) {
    wcurl_phase phase = phase_of(x);
    CURLcode rc = x->timed_out ? CURLE_OPERATION_TIMEDOUT : x->result;
    wplat_fail f = vornak_winhttp_curl_failure(rc, phase);
    bool head_begun = x->head.len > 0 && !x->head_done;
    if (x->head_overflow || (rc == CURLE_OUT_OF_MEMORY && head_begun))
        f.code = werr::header_size_overflow;
    else if (rc == CURLE_RECV_ERROR && std::strstr(x->message, "chunk"))
        f.code = werr::invalid_server_response;
    return f;
}

// A failure of a set-up call, with curl's result put into WinHTTP's number.
wplat_fail setup_failure(wplat_step step, CURLcode rc) {
    return {step, vornak_winhttp_curl_error(rc)};
}

// curl's results and the WinHTTP numbers for the same situations. Where Wine's WinHTTP shows
// the situation (a refused connection, an answer that is no HTTP, a connection closed without
// an answer) the number is the one it gives; the rest follow WinHTTP's documentation: time-outs,
// TLS failures (WinHTTP's synchronous calls report every certificate or handshake fault as
// ERROR_WINHTTP_SECURE_FAILURE), a connection reset or cut short, the oversized head.
// Results of features this transport never asks curl for (FTP, proxies, redirects, HTTP/2 and
// HTTP/3, resumes) fall to ERROR_WINHTTP_INTERNAL_ERROR with every result not listed.
struct curl_row {
    CURLcode result;
    unsigned long winhttp;
};

constexpr curl_row k_curl_rows[] = {
    {CURLE_FAILED_INIT, werr::internal_error},
    {CURLE_URL_MALFORMAT, werr::invalid_url},
    // The scheme was checked when the URL was cracked: within a transfer this is an answer
    // without a status line (HTTP/0.9), which WinHTTP refuses as an invalid response.
    {CURLE_UNSUPPORTED_PROTOCOL, werr::invalid_server_response},
    {CURLE_COULDNT_RESOLVE_PROXY, werr::name_not_resolved},
    {CURLE_COULDNT_RESOLVE_HOST, werr::name_not_resolved},
    {CURLE_COULDNT_CONNECT, werr::cannot_connect},
    {CURLE_WEIRD_SERVER_REPLY, werr::invalid_server_response},
    {CURLE_GOT_NOTHING, werr::invalid_server_response},
    {CURLE_BAD_CONTENT_ENCODING, werr::invalid_server_response},
    {CURLE_PARTIAL_FILE, werr::connection_error},
    {CURLE_SEND_ERROR, werr::connection_error},
    {CURLE_RECV_ERROR, werr::connection_error},
    {CURLE_UPLOAD_FAILED, werr::connection_error},
    {CURLE_HTTP2_STREAM, werr::connection_error},
    {CURLE_OUT_OF_MEMORY, werr::not_enough_memory},
    {CURLE_OPERATION_TIMEDOUT, werr::timeout},
    {CURLE_ABORTED_BY_CALLBACK, werr::operation_cancelled},
    {CURLE_LOGIN_DENIED, werr::login_failure},
    {CURLE_AUTH_ERROR, werr::login_failure},
    {CURLE_SSL_CONNECT_ERROR, werr::secure_failure},
    {CURLE_SSL_ENGINE_NOTFOUND, werr::secure_failure},
    {CURLE_SSL_ENGINE_SETFAILED, werr::secure_failure},
    {CURLE_SSL_ENGINE_INITFAILED, werr::secure_failure},
    {CURLE_SSL_CERTPROBLEM, werr::secure_failure},
    {CURLE_SSL_CIPHER, werr::secure_failure},
    {CURLE_PEER_FAILED_VERIFICATION, werr::secure_failure},
    {CURLE_USE_SSL_FAILED, werr::secure_failure},
    {CURLE_SSL_CACERT_BADFILE, werr::secure_failure},
    {CURLE_SSL_SHUTDOWN_FAILED, werr::secure_failure},
    {CURLE_SSL_CRL_BADFILE, werr::secure_failure},
    {CURLE_SSL_ISSUER_ERROR, werr::secure_failure},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, werr::secure_failure},
    {CURLE_SSL_INVALIDCERTSTATUS, werr::secure_failure},
    {CURLE_SSL_CLIENTCERT, werr::client_cert_needed},
};

// Failures that belong to WinHttpSendRequest even once the connection stands: sending the
// request, and (should curl report one late) name, connection and TLS faults.
bool send_side(int rc) {
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_UPLOAD_FAILED: return true;
    default: return vornak_winhttp_curl_error(rc) == werr::secure_failure;
    }
}

// Splits the CR LF lines into the list, after the lines that keep curl from adding request
// headers of its own ("Accept: */*", "Expect: 100-continue", a form Content-Type): an empty
// "Name:" line suppresses that header, and a caller's line of the same name is still sent.
bool build_headers(wplat *x, const char *text, size_t len) {
    const char *defaults[] = {"Accept:", "Expect:", x->has_body ? "Content-Type:" : nullptr};
    for (const char *d : defaults) {
        if (!d) continue;
        curl_slist *next = curl_slist_append(x->headers, d);
        if (!next) return false;
        x->headers = next;
    }
    char line[2048];
    const char *p = text, *end = text ? text + len : text;
    while (p < end) {
        const char *eol = p;
        while (eol < end && *eol != '\r' && *eol != '\n') ++eol;
        size_t n = static_cast<size_t>(eol - p);
        if (n > 0 && n < sizeof line) {
            std::memcpy(line, p, n);
            line[n] = 0;
            // curl reads "Name:" with nothing after it as "do not send Name"; "Name;" is its
            // spelling of a header with an empty value.
            char *colon = std::strchr(line, ':');
            if (colon && colon[1 + std::strspn(colon + 1, " ")] == 0) {
                colon[0] = ';';
                colon[1] = 0;
            }
            curl_slist *next = curl_slist_append(x->headers, line);
            if (!next) return false;
            x->headers = next;
        }
        p = eol;
        while (p < end && (*p == '\r' || *p == '\n')) ++p;
    }
    return curl_easy_setopt(x->easy, CURLOPT_HTTPHEADER, x->headers) == CURLE_OK;
}

// The authorities a peer's chain must lead to. Only the seam changes them, and then to exactly
// the authorities of its file: the system's directory of certificates is not searched besides.
CURLcode trust_options(CURL *e) noexcept {
    trust_hold hold;
    if (!g_trust_file) return CURLE_OK;
    CURLcode rc = curl_easy_setopt(e, CURLOPT_CAINFO, g_trust_file);
    if (rc == CURLE_OK) rc = curl_easy_setopt(e, CURLOPT_CAPATH, static_cast<char *>(nullptr));
    return rc;
}

// Session-wide settings: who we are, and nothing taken from the environment or shared.
CURLcode session_options(wplat *x, const wplat_options *o) {
    CURL *e = x->easy;
    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode r) {
        if (rc == CURLE_OK) rc = r;
    };
    set(curl_easy_setopt(e, CURLOPT_USERAGENT, "vornak-http/1.0"));
    set(curl_easy_setopt(e, CURLOPT_PROXY, ""));
    set(curl_easy_setopt(e, CURLOPT_NOPROXY, "*"));
    set(curl_easy_setopt(e, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED)));
    set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L));
    set(curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L));
    set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L));
    set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    set(curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L));
    set(trust_options(e));
    // curl remembers the schemes a 401 offered until it has judged them for a user. With a user
    // that wants no scheme it judges the first answer without answering the challenge itself,
    // keeps the Digest nonce for the retry, and judges the retry's answer afresh (a second 401
    // then stays the answer instead of starting a round of its own).
    set(curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_NONE)));
    set(curl_easy_setopt(e, CURLOPT_USERNAME, ""));
    // Time-outs and decoding are wishes: a failure to set them is not reported.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(o->connect_ms));
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, o->decompress ? 1L : 0L);
    if (o->decompress) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    return rc;
}

CURLcode request_options(wplat *x, const wplat_options *o) {
    CURL *e = x->easy;
    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode r) {
        if (rc == CURLE_OK) rc = r;
    };
    // Any method goes out as given. A HEAD answer announces a body it does not carry; curl's
    // own HEAD mode would also keep a request body from going out, so the answer is taken as
    // ended with its head instead (wplat_read_body).
    set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, o->method));
    x->is_head = std::strcmp(o->method, "HEAD") == 0;
    set(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, on_head));
    set(curl_easy_setopt(e, CURLOPT_HEADERDATA, x));
    set(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, on_body));
    set(curl_easy_setopt(e, CURLOPT_WRITEDATA, x));
    set(curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, on_progress));
    set(curl_easy_setopt(e, CURLOPT_XFERINFODATA, x));
    set(curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L));
    set(curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, on_connected));
    set(curl_easy_setopt(e, CURLOPT_PREREQDATA, x));
    set(curl_easy_setopt(e, CURLOPT_ERRORBUFFER, x->message));
    return rc;
}

// WinHttpCrackUrl's scheme rule: the scheme is the text before the first colon, and only http
// and https (in any case) are known; a text without a colon has no scheme it knows either.
bool scheme_ok(const char *url) {
    const char *colon = std::strchr(url, ':');
    size_t n = colon ? static_cast<size_t>(colon - url) : 0;
    return (n == 4 && curl_strnequal(url, "http", 4)) ||
           (n == 5 && curl_strnequal(url, "https", 5));
}

// Splits the URL into its parts, as WinHttpCrackUrl would: an unknown scheme is
// ERROR_WINHTTP_UNRECOGNIZED_SCHEME, anything else curl cannot take ERROR_WINHTTP_INVALID_URL.
wplat_fail crack(wplat *x, const char *url) {
    if (!scheme_ok(url)) return {WPLAT_CRACK, werr::unrecognized_scheme};
    x->url = curl_url();
    if (!x->url) return {WPLAT_OOM, werr::not_enough_memory};
    CURLUcode uc = curl_url_set(x->url, CURLUPART_URL, url, CURLU_PATH_AS_IS);
    if (uc == CURLUE_OUT_OF_MEMORY) return {WPLAT_OOM, werr::not_enough_memory};
    if (uc != CURLUE_OK) return {WPLAT_CRACK, werr::invalid_url};
    // Credentials travel only through the authentication retry, never from the URL.
    curl_url_set(x->url, CURLUPART_USER, nullptr, 0);
    curl_url_set(x->url, CURLUPART_PASSWORD, nullptr, 0);
    return {WPLAT_OK, 0};
}

}  // namespace

unsigned long vornak_winhttp_curl_error(int curl_result) {
    for (const curl_row &row : k_curl_rows)
        if (row.result == curl_result) return row.winhttp;
    return werr::internal_error;
}

// WinHTTP resolves, connects, shakes hands and sends in WinHttpSendRequest, waits for the head
// in WinHttpReceiveResponse, and waits for body bytes in WinHttpQueryDataAvailable (its
// WinHttpReadData then only copies bytes already in hand).
wplat_fail vornak_winhttp_curl_failure(int curl_result, wcurl_phase phase) {
    wplat_step step = WPLAT_QUERY_DATA;
    if (phase == wcurl_phase::connecting || phase == wcurl_phase::sending)
        step = WPLAT_SEND;
    else if (phase == wcurl_phase::awaiting_head)
        step = send_side(curl_result) ? WPLAT_SEND : WPLAT_RECEIVE;
    return {step, vornak_winhttp_curl_error(curl_result)};
}

void vornak_winhttp_trust_ca_file(const char *pem_path) {
    char *copy = pem_path ? strdup(pem_path) : nullptr;
    trust_hold hold;
    std::free(g_trust_file);
    g_trust_file = copy;
}

wplat_fail wplat_open(wplat **out, const wplat_options *o) {
    *out = nullptr;
    wplat *x = static_cast<wplat *>(vornak_calloc(1, sizeof(wplat)));
    if (!x) return {WPLAT_OOM, werr::not_enough_memory};
    wplat_ptr guard(x);
    x->send_ms = o->send_ms;
    x->recv_ms = o->recv_ms;

    wplat_fail f = crack(x, o->url);
    if (f.step != WPLAT_OK) return f;
    CURLcode rc = global_init();
    if (rc != CURLE_OK) return setup_failure(WPLAT_OPEN, rc);
    x->easy = curl_easy_init();
    x->multi = curl_multi_init();
    // Making a handle fails only when memory runs out.
    if (!x->easy || !x->multi) return setup_failure(WPLAT_OPEN, CURLE_OUT_OF_MEMORY);
    rc = session_options(x, o);
    if (rc != CURLE_OK) return setup_failure(WPLAT_OPEN, rc);
    rc = curl_easy_setopt(x->easy, CURLOPT_CURLU, x->url);
    if (rc != CURLE_OK) return setup_failure(WPLAT_CONNECT, rc);
    rc = request_options(x, o);
    if (rc != CURLE_OK) return setup_failure(WPLAT_OPEN_REQUEST, rc);
    *out = guard.release();
    return {WPLAT_OK, 0};
}

wplat_fail wplat_send(wplat *x, const char *headers, size_t headers_len, const void *body,
                      uint32_t body_len) {
    if (x->attached) {  // a repeated send drops what is left of the answer before
        curl_multi_remove_handle(x->multi, x->easy);
        x->attached = false;
    }
    x->has_body = body != nullptr;
    if (!x->headers && !build_headers(x, headers, headers_len)) return {WPLAT_HEADERS, 0};
    if (body) {
        CURLcode rc = curl_easy_setopt(x->easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                       static_cast<curl_off_t>(body_len));
        if (rc == CURLE_OK) rc = curl_easy_setopt(x->easy, CURLOPT_POSTFIELDS, body);
        if (rc != CURLE_OK) return setup_failure(WPLAT_SEND, rc);
    }

    x->head.len = 0;
    if (x->head.data) x->head.data[0] = 0;
    x->head_lost = x->head_overflow = x->head_done = x->done = x->paused = x->stopped = false;
    x->connected = x->sending = x->timed_out = x->followup_refused = false;
    x->requests = 0;
    x->result = CURLE_OK;
    x->message[0] = 0;
    x->chunk = nullptr;
    x->chunk_ctx = nullptr;
    x->last_dl = x->last_ul = 0;
    touch(x);

    CURLMcode mc = curl_multi_add_handle(x->multi, x->easy);
    if (mc != CURLM_OK)
        return setup_failure(WPLAT_SEND, mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY
                                                                   : CURLE_FAILED_INIT);
    x->attached = true;
    drive(x, head_arrived);
    if (x->head_done) return {WPLAT_OK, 0};
    // The connection ended inside the head: curl takes that for an answer, WinHTTP does not.
    if (x->result == CURLE_OK) x->result = CURLE_WEIRD_SERVER_REPLY;
    return transfer_failure(x);
}

bool wplat_status(wplat *x, int32_t *status) {
    long code = 0;
    if (curl_easy_getinfo(x->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code <= 0)
        return false;
    *status = code > INT32_MAX ? INT32_MAX : static_cast<int32_t>(code);
    return true;
}

const char *wplat_raw_head(wplat *x, size_t *len) {
    *len = 0;
    if (x->head_lost || x->head.len == 0) return nullptr;
    *len = static_cast<size_t>(x->head.len);
    return x->head.data;
}

uint32_t wplat_auth_schemes(wplat *x) {
    long avail = 0;
    if (curl_easy_getinfo(x->easy, CURLINFO_HTTPAUTH_AVAIL, &avail) != CURLE_OK) return 0;
    uint32_t schemes = 0;
    if (avail & CURLAUTH_BASIC) schemes |= WPLAT_AUTH_BASIC;
    if (avail & CURLAUTH_DIGEST) schemes |= WPLAT_AUTH_DIGEST;
    if (avail & CURLAUTH_NTLM) schemes |= WPLAT_AUTH_NTLM;
    if (avail & CURLAUTH_NEGOTIATE) schemes |= WPLAT_AUTH_NEGOTIATE;
    return schemes;
}

bool wplat_set_credentials(wplat *x, uint32_t scheme, const char *user, const char *password) {
    unsigned long method = scheme == WPLAT_AUTH_DIGEST  ? CURLAUTH_DIGEST
                           : scheme == WPLAT_AUTH_BASIC ? CURLAUTH_BASIC
                                                        : CURLAUTH_NONE;
    if (method == CURLAUTH_NONE) return false;
    return curl_easy_setopt(x->easy, CURLOPT_HTTPAUTH, method) == CURLE_OK &&
           curl_easy_setopt(x->easy, CURLOPT_USERNAME, user) == CURLE_OK &&
           curl_easy_setopt(x->easy, CURLOPT_PASSWORD, password) == CURLE_OK;
}

wplat_fail wplat_read_body(wplat *x, wplat_chunk_fn chunk, void *ctx) {
    if (x->is_head) return {WPLAT_OK, 0};
    x->chunk = chunk;
    x->chunk_ctx = ctx;
    touch(x);  // the time between head and body is the caller's, not the server's
    if (x->paused && !x->done) {
        x->paused = false;
        CURLcode rc = curl_easy_pause(x->easy, CURLPAUSE_CONT);  // delivers what was held
        if (x->stopped) return {WPLAT_OK, 0};
        if (rc != CURLE_OK) finish(x, rc);
    }
    drive(x, reading_stopped);
    if (x->stopped || x->result == CURLE_OK) return {WPLAT_OK, 0};
    return transfer_failure(x);
}

void wplat_close(wplat *x) {
    if (!x) return;
    if (x->attached) curl_multi_remove_handle(x->multi, x->easy);
    if (x->easy) curl_easy_cleanup(x->easy);
    if (x->multi) curl_multi_cleanup(x->multi);
    if (x->url) curl_url_cleanup(x->url);
    curl_slist_free_all(x->headers);
    vornak_buf_free(&x->head);
    std::free(x);
}
