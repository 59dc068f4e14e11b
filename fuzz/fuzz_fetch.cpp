// Bodies served by a host transport of this target (installed through an io handle and
// filmo_set_io) to the home page, collections, person and popular fetches, then every accessor
// of every view. The input is a list of rounds; each round picks a view, the arguments, the
// answer (status, headers, body, chunking, transport failure) and an allocation that fails.
//
// Round layout: 8 header bytes, a 2-byte little-endian body length, the body.
//   h0 view (low 2 bits), bit 7: invalidate that view first
//   h1 HTTP status (table below)
//   h2 bit 0 transport fails, bit 1 with an error text, bit 2 zlib-compress the body,
//      bit 3 send "ContentHash", bit 4 its value is the body's stable hash, bit 5 extra headers,
//      bit 6 no ":status" header
//   h3 allocations that succeed before the heap fails (0xFF: none fail)
//   h4 body chunk size (0: one piece)
//   h5, h6 argument choices, h7 the host's known home page hash
#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filmo.h"
#include "filmo_internal.h"
#include "view_walk.h"

namespace {

struct Answer {
    int32_t rc = 0;
    int32_t status = 200;
    const char *err = nullptr;
    std::vector<std::pair<std::string, std::string>> headers;
    bool status_header = true;
    std::string body;
    size_t chunk = 0;
};

Answer g_answer;
int g_requests = 0;

int32_t request(void *, const vornak_http_request *req, int32_t *status, char **err) {
    ++g_requests;
    *status = 0;
    *err = nullptr;
    FUZZ_REQUIRE(req && req->size >= VORNAK_REQUEST_SIZE && req->url && req->method);
    FUZZ_REQUIRE(std::strcmp(req->method, "GET") == 0);
    for (uint64_t i = 0; req->headers && i < req->header_count; ++i)
        filmo_fuzz::touch(req->headers[i]);
    const Answer &a = g_answer;
    if (a.err) *err = strdup(a.err);
    if (a.rc != 0) return a.rc;
    *status = a.status;
    if (req->on_header) {
        std::string code = std::to_string(a.status);
        if (a.status_header) req->on_header(req->sink_ctx, ":status", code.c_str());
        for (const auto &h : a.headers)
            req->on_header(req->sink_ctx, h.first.c_str(), h.second.c_str());
    }
    // Sinks may ask to stop; a transport may go on calling them, so this one does.
    const size_t step = a.chunk ? a.chunk : (a.body.empty() ? 1 : a.body.size());
    for (size_t off = 0; req->on_body && off < a.body.size(); off += step)
        req->on_body(req->sink_ctx, a.body.data() + off, std::min(step, a.body.size() - off));
    return 0;
}

void free_text(void *, char *text) { std::free(text); }

vornak_http g_http{sizeof(vornak_http), 1, nullptr, request, free_text};
vornak_io_ctx g_ctx{VORNAK_IO_TAG, sizeof(vornak_io_ctx), &g_http, nullptr};
vornak_io g_io{&g_ctx, nullptr, nullptr, nullptr};

std::string compress(const std::string &text) {
    uLongf cap = compressBound(text.size());
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef *>(&out[0]), &cap,
                  reinterpret_cast<const Bytef *>(text.data()), text.size(), 6) != Z_OK)
        std::abort();
    out.resize(cap);
    return out;
}

const int32_t kStatuses[16] = {200, 200, 200, 200, 201, 204, 299, 300,
                               302, 304, 400, 404, 404, 500, 0,   -1};
const char *const kUsers[3] = {"", "u-1", "é &=/?#%"};
const int32_t kProfiles[4] = {0, 1, -1, INT32_MAX};
const char *const kIds[7] = {"nm0000138", "12345", "nm", "", "n1", "x", "NM7"};
const int32_t kPageIndex[4] = {1, 2, 0, -3};
const int32_t kPageNumbers[4] = {1, 2, 1000, 1001};
const int32_t kPageSize[4] = {0, 20, 100000, -1};
const char *const kLangs[7] = {nullptr, "", "en-US", "fr-FR", "a b&c", "xx", "de-DE"};
const char *const kViews[4] = {"home", "collections", "person", "popular"};

// Long texts: keys and URLs are cut at fixed widths, which must hold for any length.
std::string long_text(char c, size_t n) { return std::string(n, c); }

int32_t fetch(int view, uint8_t a, uint8_t b) {
    const std::string long_lang = long_text('l', 40 + (b >> 3));
    const std::string long_arg = long_text('7', 60 + a);
    const char *lang = (b & 7) == 7 ? long_lang.c_str() : kLangs[b & 7];
    switch (view) {
    case 0: {
        const char *user = (a & 3) == 3 ? long_arg.c_str() : kUsers[a & 3];
        return filmo_get_homepage(user, kProfiles[(a >> 2) & 3], lang, (b >> 4) & 3u);
    }
    case 1:
        return filmo_get_collections(lang);
    case 2: {
        const char *id = (a & 7) == 7 ? long_arg.c_str() : kIds[a & 7];
        return filmo_get_people_detail(id, lang);
    }
    default:
        return filmo_get_people_popular(kPageIndex[a & 3], kPageSize[(a >> 2) & 3],
                                        kPageNumbers[(a >> 4) & 3], lang);
    }
}

// The "ContentHash" the client must record: the first such header in any letter case, read as
// strtoll reads it; -1 without one or with an empty value.
int64_t stated_hash(const std::vector<std::pair<std::string, std::string>> &headers) {
    for (const auto &h : headers)
        if (strcasecmp(h.first.c_str(), "ContentHash") == 0)
            return h.second.c_str()[0] ? std::strtoll(h.second.c_str(), nullptr, 10) : -1;
    return -1;
}

// One round; false when the input has run out.
bool round(const uint8_t *&p, const uint8_t *end) {
    if (end - p < 10) return false;
    const uint8_t *h = p;
    size_t len = static_cast<size_t>(p[8]) | static_cast<size_t>(p[9]) << 8;
    p += 10;
    if (len > static_cast<size_t>(end - p)) len = static_cast<size_t>(end - p);
    std::string body(reinterpret_cast<const char *>(p), len);
    p += len;

    const int view = h[0] & 3;
    if (h[0] & 0x80) filmo_cache_invalidate(kViews[view], nullptr);

    Answer a;
    a.rc = (h[2] & 1) ? -1 : 0;
    if (h[2] & 2) a.err = "socket closed \"mid-answer\"";
    a.status = kStatuses[h[1] & 15];
    a.status_header = !(h[2] & 0x40);
    const int64_t body_hash = filmo_stable_hash(body.data(), body.size());
    std::string content_hash = std::to_string(body_hash);
    if (!(h[2] & 0x10)) content_hash = body.substr(0, 24);
    if (h[2] & 8) a.headers.emplace_back("ContentHash", content_hash);
    if (h[2] & 0x20) {
        a.headers.emplace_back("X-Empty", "");
        a.headers.emplace_back("contenthash", "12");
        a.headers.emplace_back("ContentSize", std::to_string(body.size()));
    }
    a.body = (h[2] & 4) ? compress(body) : body;
    a.chunk = h[4];
    g_answer = std::move(a);

    if (h[7] == 1) filmo_set_homepage_hash(body_hash);
    if (h[7] == 2) filmo_set_homepage_hash(-5);

    filmo_fuzz::Fingerprint held[4];
    for (int v = 0; v < 4; ++v) held[v] = filmo_fuzz::fingerprint(v);
    const int before = g_requests;

    vornak_alloc_fail_after(h[3] == 0xFF ? -1 : h[3] % 64);
    const int32_t st = fetch(view, h[5], h[6]);
    vornak_alloc_fail_after(-1);

    FUZZ_REQUIRE(st >= FILMO_OK && st <= FILMO_HOME_UNCHANGED);
    FUZZ_REQUIRE((st == FILMO_OK) == (filmo_last_error()[0] == '\0'));
    // A fetch touches only its own view, and that one only when it succeeds.
    for (int v = 0; v < 4; ++v)
        if (v != view || st != FILMO_OK) FUZZ_REQUIRE(filmo_fuzz::fingerprint(v) == held[v]);
    const bool asked = g_requests != before;
    FUZZ_REQUIRE(filmo_last_http_code() == (asked && g_answer.rc == 0 ? g_answer.status : 0));
    if (view == 0 && asked && g_answer.rc == 0 && h[3] == 0xFF)
        FUZZ_REQUIRE(filmo_last_content_hash() == stated_hash(g_answer.headers));
    if (view == 0 && st == FILMO_OK && asked) {
        // The page just retained carries the stable hash of its text; 0 (no hash) only when the
        // hash itself found no memory.
        const int64_t held_hash = filmo_homepage_hash();
        FUZZ_REQUIRE(filmo_home_json() != nullptr);
        FUZZ_REQUIRE(held_hash == filmo_stable_hash(g_client.home_json, g_client.home_json_len) ||
                     (held_hash == 0 && h[3] != 0xFF));
    }
    filmo_fuzz::walk_all();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (filmo_set_io(&g_io) != 0) std::abort();
    const uint8_t *p = data, *end = data + size;
    for (int n = 0; n < 6; ++n)
        if (!round(p, end)) break;
    filmo_shutdown();
    return 0;
}
