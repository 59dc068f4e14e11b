// The WinHTTP transport's platform seam over WinHTTP itself, for Windows.
//
// One exchange owns one work record: the UTF-16 copies of the URL's host and path, the session,
// connection and request handles, the request header text for the repeated send and the UTF-8
// raw head of the latest answer. wwork_free releases all of it; every path ends there. The
// session is synchronous, and the error numbers in the failure texts are GetLastError's.
#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "vornak_alloc.h"
#include "vornak_winhttp_errors.h"
#include "vornak_winhttp_internal.h"
#include "vornak_winhttp_platform.h"

// The numbers other platforms put in the failure texts are WinHTTP's own.
namespace werr = vornak_winhttp_error;
static_assert(werr::not_enough_memory == ERROR_NOT_ENOUGH_MEMORY, "");
static_assert(werr::timeout == ERROR_WINHTTP_TIMEOUT, "");
static_assert(werr::internal_error == ERROR_WINHTTP_INTERNAL_ERROR, "");
static_assert(werr::invalid_url == ERROR_WINHTTP_INVALID_URL, "");
static_assert(werr::unrecognized_scheme == ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "");
static_assert(werr::name_not_resolved == ERROR_WINHTTP_NAME_NOT_RESOLVED, "");
static_assert(werr::login_failure == ERROR_WINHTTP_LOGIN_FAILURE, "");
static_assert(werr::operation_cancelled == ERROR_WINHTTP_OPERATION_CANCELLED, "");
static_assert(werr::cannot_connect == ERROR_WINHTTP_CANNOT_CONNECT, "");
static_assert(werr::connection_error == ERROR_WINHTTP_CONNECTION_ERROR, "");
static_assert(werr::client_cert_needed == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, "");
static_assert(werr::invalid_server_response == ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "");
static_assert(werr::secure_failure == ERROR_WINHTTP_SECURE_FAILURE, "");
static_assert(werr::header_size_overflow == ERROR_WINHTTP_HEADER_SIZE_OVERFLOW, "");

namespace {

// Option and flag numbers, spelled out: older SDK headers lack the decompression option.
constexpr DWORD k_option_connect_timeout = 3;
constexpr DWORD k_option_send_timeout = 5;
constexpr DWORD k_option_receive_timeout = 6;
constexpr DWORD k_option_receive_response_timeout = 7;
constexpr DWORD k_option_disable_feature = 63;
constexpr DWORD k_disable_redirects = 2;
constexpr DWORD k_option_decompression = 118;
constexpr DWORD k_decompress_gzip_deflate = 3;
constexpr DWORD k_option_autologon_policy = 77;
constexpr DWORD k_autologon_high = 2;  // never log on with the signed-in user's credentials

struct wide_free {
    void operator()(wchar_t *p) const noexcept { std::free(p); }
};
using wide_ptr = std::unique_ptr<wchar_t, wide_free>;

// A new NUL-terminated UTF-16 copy of a UTF-8 text; null for a missing text, bytes that are not
// UTF-8, or no memory.
wchar_t *utf8_to_utf16(const char *text) {
    if (!text) return nullptr;
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    size_t bytes = sizeof(wchar_t) * static_cast<size_t>(units);
    wide_ptr out(static_cast<wchar_t *>(vornak_malloc(bytes)));
    if (!out) return nullptr;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out.get(), units) != units)
        return nullptr;
    return out.release();
}

// A new NUL-terminated UTF-8 text of n UTF-16 units; null for none, n = 0, or a failure.
char *utf16_to_utf8n(const wchar_t *units, int n) {
    if (!units || n <= 0) return nullptr;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, units, n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return nullptr;
    vornak_cptr<char> out(static_cast<char *>(vornak_malloc(static_cast<size_t>(bytes) + 1)));
    if (!out) return nullptr;
    if (WideCharToMultiByte(CP_UTF8, 0, units, n, out.get(), bytes, nullptr, nullptr) != bytes)
        return nullptr;
    out.get()[bytes] = 0;
    return out.release();
}

wchar_t *copy_units(const wchar_t *from, DWORD n) {
    wchar_t *out = static_cast<wchar_t *>(vornak_malloc(sizeof(wchar_t) * (n + 1)));
    if (!out) return nullptr;
    if (n) std::memcpy(out, from, sizeof(wchar_t) * n);
    out[n] = 0;
    return out;
}

wplat_fail failed(wplat_step step) { return {step, static_cast<unsigned long>(GetLastError())}; }

void set_dword(HINTERNET h, DWORD option, DWORD value) {
    WinHttpSetOption(h, option, &value, sizeof value);  // a wish: failures are not reported
}

}  // namespace

struct wplat {
    wchar_t *host;
    wchar_t *path;  // path followed by the query
    INTERNET_PORT port;
    bool secure;
    HINTERNET session, connection, request;
    wchar_t *headers;  // request header text, kept for the repeated send
    DWORD header_units;
    char *head;  // UTF-8 raw head of the latest answer, null until asked for
    size_t head_len;
};

namespace {

void wwork_free(wplat *x) {
    if (x->request) WinHttpCloseHandle(x->request);
    if (x->connection) WinHttpCloseHandle(x->connection);
    if (x->session) WinHttpCloseHandle(x->session);
    std::free(x->host);
    std::free(x->path);
    std::free(x->headers);
    std::free(x->head);
    std::free(x);
}

wplat_fail crack(wplat *x, const char *url) {
    wide_ptr wide(utf8_to_utf16(url));
    if (!wide) return {WPLAT_UTF8_URL, 0};
    // A fragment is the client's own and never goes out (libcurl drops it too); WinHTTP would
    // send it, escaped into the path or as part of the query.
    if (wchar_t *hash = std::wcschr(wide.get(), L'#')) *hash = 0;
    URL_COMPONENTS uc{};
    uc.dwStructSize = sizeof uc;
    uc.dwHostNameLength = static_cast<DWORD>(-1);
    uc.dwUrlPathLength = static_cast<DWORD>(-1);
    uc.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.get(), 0, 0, &uc)) return failed(WPLAT_CRACK);
    if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS)
        return {WPLAT_CRACK, ERROR_WINHTTP_UNRECOGNIZED_SCHEME};
    x->secure = uc.nScheme == INTERNET_SCHEME_HTTPS;
    x->port = uc.nPort;
    x->host = copy_units(uc.lpszHostName, uc.lpszHostName ? uc.dwHostNameLength : 0);
    DWORD path_n = uc.lpszUrlPath ? uc.dwUrlPathLength : 0;
    DWORD extra_n = uc.lpszExtraInfo ? uc.dwExtraInfoLength : 0;
    x->path = static_cast<wchar_t *>(vornak_malloc(sizeof(wchar_t) * (path_n + extra_n + 2)));
    if (!x->host || !x->path) return {WPLAT_OOM, werr::not_enough_memory};
    wchar_t *p = x->path;
    if (path_n == 0) *p++ = L'/';  // a URL that ends after the host asks for "/"
    if (path_n) std::memcpy(p, uc.lpszUrlPath, sizeof(wchar_t) * path_n);
    p += path_n;
    if (extra_n) std::memcpy(p, uc.lpszExtraInfo, sizeof(wchar_t) * extra_n);
    p[extra_n] = 0;
    return {WPLAT_OK, 0};
}

}  // namespace

wplat_fail wplat_open(wplat **out, const wplat_options *o) {
    *out = nullptr;
    wplat *x = static_cast<wplat *>(vornak_calloc(1, sizeof(wplat)));
    if (!x) return {WPLAT_OOM, ERROR_NOT_ENOUGH_MEMORY};
    wplat_ptr guard(x);

    wplat_fail f = crack(x, o->url);
    if (f.step != WPLAT_OK) return f;

    x->session = WinHttpOpen(L"vornak-http/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!x->session) return failed(WPLAT_OPEN);
    set_dword(x->session, k_option_connect_timeout, static_cast<DWORD>(o->connect_ms));
    set_dword(x->session, k_option_receive_timeout, static_cast<DWORD>(o->send_ms));
    set_dword(x->session, k_option_send_timeout, static_cast<DWORD>(o->send_ms));

    x->connection = WinHttpConnect(x->session, x->host, x->port, 0);
    if (!x->connection) return failed(WPLAT_CONNECT);

    wide_ptr method(utf8_to_utf16(o->method));
    if (!method) return {WPLAT_METHOD, 0};
    x->request = WinHttpOpenRequest(x->connection, method.get(), x->path, nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                    x->secure ? WINHTTP_FLAG_SECURE : 0);
    if (!x->request) return failed(WPLAT_OPEN_REQUEST);

    set_dword(x->request, k_option_disable_feature, k_disable_redirects);
    if (o->decompress) set_dword(x->request, k_option_decompression, k_decompress_gzip_deflate);
    // The request's receive time-out, as the transport worked it out: with flags bit 1 set the
    // overall time-out (the session's); else the caller's own, or 60000 ms when it is below 1.
    // The wait for the response head has a time-out of its own, which follows the same value.
    set_dword(x->request, k_option_receive_timeout, static_cast<DWORD>(o->recv_ms));
    set_dword(x->request, k_option_receive_response_timeout, static_cast<DWORD>(o->recv_ms));
    // Under the default policy WinHTTP may answer an NTLM or Negotiate challenge by itself with
    // the signed-in user's credentials; only the host's own credentials, for Digest or Basic,
    // ever go out.
    set_dword(x->request, k_option_autologon_policy, k_autologon_high);

    *out = guard.release();
    return {WPLAT_OK, 0};
}

namespace {

// The header text as UTF-16, one unit per byte at most, kept in the work record.
bool convert_headers(wplat *x, const char *text, size_t len) {
    if (!text || len == 0) return true;
    if (len > static_cast<size_t>(INT32_MAX) - 1) return false;
    int n = static_cast<int>(len);
    x->headers = static_cast<wchar_t *>(vornak_malloc(sizeof(wchar_t) * (len + 1)));
    if (!x->headers) return false;
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, n, x->headers, n);
    if (units <= 0) return false;
    x->headers[units] = 0;
    x->header_units = static_cast<DWORD>(units);
    return true;
}

wplat_fail wwork_send(wplat *x, bool with_headers, const void *body, uint32_t body_len) {
    std::free(x->head);  // the answer before is replaced
    x->head = nullptr;
    x->head_len = 0;
    bool add = with_headers && x->headers;
    const wchar_t *headers = add ? x->headers : WINHTTP_NO_ADDITIONAL_HEADERS;
    DWORD units = add ? x->header_units : 0;
    LPVOID data = body ? const_cast<void *>(body) : WINHTTP_NO_REQUEST_DATA;
    DWORD n = body ? body_len : 0;
    if (!WinHttpSendRequest(x->request, headers, units, data, n, n, 0)) return failed(WPLAT_SEND);
    if (!WinHttpReceiveResponse(x->request, nullptr)) return failed(WPLAT_RECEIVE);
    return {WPLAT_OK, 0};
}

}  // namespace

wplat_fail wplat_send(wplat *x, const char *headers, size_t headers_len, const void *body,
                      uint32_t body_len) {
    bool first = headers != nullptr;
    if (first && !x->headers && !convert_headers(x, headers, headers_len)) {
        std::free(x->headers);
        x->headers = nullptr;
        return {WPLAT_HEADERS, 0};
    }
    return wwork_send(x, first, body, body_len);
}

bool wplat_status(wplat *x, int32_t *status) {
    DWORD code = 0, size = sizeof code;
    if (!WinHttpQueryHeaders(x->request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    *status = code > INT32_MAX ? INT32_MAX : static_cast<int32_t>(code);
    return true;
}

const char *wplat_raw_head(wplat *x, size_t *len) {
    *len = 0;
    if (!x->head) {
        DWORD size = 0;
        WinHttpQueryHeaders(x->request, WINHTTP_QUERY_RAW_HEADERS_CRLF,
                            WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                            WINHTTP_NO_HEADER_INDEX);
        if (size == 0) return nullptr;
        wide_ptr raw(static_cast<wchar_t *>(vornak_malloc(size + sizeof(wchar_t))));
        if (!raw) return nullptr;
        if (!WinHttpQueryHeaders(x->request, WINHTTP_QUERY_RAW_HEADERS_CRLF,
                                 WINHTTP_HEADER_NAME_BY_INDEX, raw.get(), &size,
                                 WINHTTP_NO_HEADER_INDEX))
            return nullptr;
        // The head comes back as text; the reported size counts bytes, without the terminator.
        x->head = utf16_to_utf8n(raw.get(), static_cast<int>(size / sizeof(wchar_t)));
        if (!x->head) return nullptr;
        x->head_len = std::strlen(x->head);
    }
    *len = x->head_len;
    return x->head;
}

uint32_t wplat_auth_schemes(wplat *x) {
    DWORD supported = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(x->request, &supported, &first, &target)) return 0;
    return static_cast<uint32_t>(supported);  // WinHTTP's numbers are the seam's
}

bool wplat_set_credentials(wplat *x, uint32_t scheme, const char *user, const char *password) {
    wide_ptr wuser(utf8_to_utf16(user));
    wide_ptr wpassword(utf8_to_utf16(password));
    if (!wuser || !wpassword) return false;
    return WinHttpSetCredentials(x->request, WINHTTP_AUTH_TARGET_SERVER, scheme, wuser.get(),
                                 wpassword.get(), nullptr) != FALSE;
}

wplat_fail wplat_read_body(wplat *x, wplat_chunk_fn chunk, void *ctx) {
    for (;;) {
        DWORD ready = 0;
        if (!WinHttpQueryDataAvailable(x->request, &ready)) return failed(WPLAT_QUERY_DATA);
        if (ready == 0) return {WPLAT_OK, 0};
        vornak_cptr<char> bytes(static_cast<char *>(vornak_malloc(ready)));
        if (!bytes) return {WPLAT_OOM, ERROR_NOT_ENOUGH_MEMORY};
        DWORD got = 0;
        if (!WinHttpReadData(x->request, bytes.get(), ready, &got)) return failed(WPLAT_READ);
        if (got == 0) return {WPLAT_OK, 0};
        if (chunk(ctx, bytes.get(), got) != 0) return {WPLAT_OK, 0};
    }
}

void wplat_close(wplat *x) {
    if (x) wwork_free(x);
}

// WinHTTP checks certificates against the system store only; trusting a PEM file of test
// authorities would mean verifying the chain by hand, which no test on this platform needs (the
// TLS tests run where libcurl is the platform). The path is ignored: verification stays on.
void vornak_winhttp_trust_ca_file(const char *) {}
