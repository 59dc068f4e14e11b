// The real transport's handling of a response head: the raw head text turned into the header
// block (vornak_winhttp_head_block), delivered with ":status" to a response collector
// (vornak_winhttp_flush_headers), and looked up there with vornak_hdrs_get, each against a plain
// reference of the head rules.
//
// Layout: status (4 bytes, little-endian, signed), allocations before the heap fails while the
// block is built (0xFF: none), the header call that answers stop (0xFF: none), then the head as
// the platform would hand it over (0 bytes included).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "vornak_alloc.h"
#include "vornak_http.h"
#include "vornak_winhttp_internal.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The head rules, written out the plain way: the text ends at its first 0 byte; lines end at CR
// or LF; the first line is the status line; a header line has a colon, a non-empty name before
// it and a non-empty value after the spaces and tabs that follow it.
Pairs reference(const std::string &head) {
    const std::string text = head.substr(0, head.find('\0'));
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\r' || c == '\n')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    Pairs out;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        const size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;
        const size_t value = line.find_first_not_of(" \t", colon + 1);
        if (value == std::string::npos) continue;
        out.emplace_back(line.substr(0, colon), line.substr(value));
    }
    return out;
}

// The entries of a header block; the block must be whole entries with its terminator behind.
Pairs entries(const vornak_buf &b) {
    Pairs out;
    if (!b.data) {
        FUZZ_REQUIRE(b.len == 0);
        return out;
    }
    FUZZ_REQUIRE(b.len < b.cap && b.data[b.len] == '\0');
    const std::string all(b.data, b.len);
    size_t at = 0;
    while (at < all.size()) {
        const size_t name_end = all.find('\0', at);
        FUZZ_REQUIRE(name_end != std::string::npos && name_end + 1 < all.size());
        const size_t value_end = all.find('\0', name_end + 1);
        FUZZ_REQUIRE(value_end != std::string::npos);
        out.emplace_back(all.substr(at, name_end - at),
                         all.substr(name_end + 1, value_end - name_end - 1));
        at = value_end + 1;
    }
    return out;
}

bool is_subsequence(const Pairs &part, const Pairs &whole) {
    size_t k = 0;
    for (const auto &p : whole)
        if (k < part.size() && part[k] == p) ++k;
    return k == part.size();
}

std::string folded(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// A collector that answers stop at one header call.
struct Sink {
    vornak_collect c;
    int calls = 0;
    int stop_at = -1;
};

int32_t sink_header(void *ctx, const char *name, const char *value) {
    Sink *s = static_cast<Sink *>(ctx);
    int32_t rc = vornak_collect_header(&s->c, name, value);
    FUZZ_REQUIRE(rc == 0);
    return s->calls++ == s->stop_at ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6) return 0;
    const int32_t status = static_cast<int32_t>(static_cast<uint32_t>(data[0]) |
                                                static_cast<uint32_t>(data[1]) << 8 |
                                                static_cast<uint32_t>(data[2]) << 16 |
                                                static_cast<uint32_t>(data[3]) << 24);
    const uint8_t fail = data[4];
    const uint8_t stop = data[5];
    const std::string head(reinterpret_cast<const char *>(data + 6), size - 6);
    const Pairs want = reference(head);

    // The block: every header of the head in order; with a failing heap, some of them, each
    // whole, in the same order.
    vornak_buf block{};
    vornak_alloc_fail_after(fail == 0xFF ? -1 : fail % 32);
    vornak_winhttp_head_block(head.data(), head.size(), &block);
    vornak_alloc_fail_after(-1);
    const Pairs got = entries(block);
    if (fail == 0xFF)
        FUZZ_REQUIRE(got == want);
    else
        FUZZ_REQUIRE(is_subsequence(got, want));

    // A null head or a zero length adds nothing to a block that holds entries already.
    const vornak_buf before = block;
    vornak_winhttp_head_block(nullptr, head.size(), &block);
    vornak_winhttp_head_block(head.data(), 0, &block);
    FUZZ_REQUIRE(block.data == before.data && block.len == before.len);

    // Delivery: ":status" first, then each entry, up to and including the call that stops.
    Sink s;
    vornak_collect_init(&s.c, 0);
    s.stop_at = stop == 0xFF ? -1 : stop % (static_cast<int>(got.size()) + 2);
    vornak_http_request req{};
    req.size = VORNAK_REQUEST_SIZE;
    req.on_header = sink_header;
    req.sink_ctx = &s;
    const bool stopped = vornak_winhttp_flush_headers(&req, status, &block);
    const int total = static_cast<int>(got.size()) + 1;
    FUZZ_REQUIRE(stopped == (s.stop_at >= 0 && s.stop_at < total));
    FUZZ_REQUIRE(s.calls == (stopped ? s.stop_at + 1 : total));
    FUZZ_REQUIRE(s.c.status == status);
    const Pairs delivered = entries(s.c.headers);
    FUZZ_REQUIRE(delivered.size() == static_cast<size_t>(s.calls - 1));
    FUZZ_REQUIRE(std::equal(delivered.begin(), delivered.end(), got.begin()));

    // Look-up: the first delivered entry whose name matches ignoring ASCII case; names that
    // differ only past their length do not match.
    for (const auto &d : delivered) {
        const std::string *first = nullptr;
        for (const auto &e : delivered)
            if (folded(e.first) == folded(d.first)) {
                first = &e.second;
                break;
            }
        const char *v = vornak_hdrs_get(&s.c.headers, d.first.c_str());
        FUZZ_REQUIRE(v != nullptr && first && *first == v);
        const std::string longer = d.first + "x";
        const char *w = vornak_hdrs_get(&s.c.headers, longer.c_str());
        bool any = false;
        for (const auto &e : delivered) any = any || folded(e.first) == folded(longer);
        FUZZ_REQUIRE((w != nullptr) == any);
    }
    // A name never holds a colon, so ":status" is never stored among the headers.
    FUZZ_REQUIRE(vornak_hdrs_get(&s.c.headers, ":status") == nullptr);

    vornak_collect_free(&s.c);
    vornak_buf_free(&block);
    return 0;
}
