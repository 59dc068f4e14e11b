// The transport library's parsers and byte handling, each against a small reference model:
// vornak_content_range, vornak_header_line, vornak_method_ok, the response collector fed any
// sequence of headers and body chunks, and the in-memory fake transport's range handling (a byte
// resource asked for with any Range header, directly and through vornak_http_range).
//
// The first byte picks the operation; the rest is its input (layouts at each operation).
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filmo_internal.h"
#include "fuzz_check.h"
#include "vornak_http.h"

namespace {

// The input left for an operation, read front to back.
struct Input {
    const uint8_t *p;
    const uint8_t *end;
    size_t left() const { return static_cast<size_t>(end - p); }
    uint8_t byte() { return p < end ? *p++ : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
    // n bytes as a text; a 0 byte among them ends the text, as it would for any C caller.
    std::string text(size_t n) {
        n = std::min(n, left());
        std::string s(reinterpret_cast<const char *>(p), n);
        p += n;
        return s.c_str();
    }
    std::string rest() { return text(left()); }
};

bool token_char(unsigned char c) {
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// ---- vornak_content_range -----------------------------------------------------------------------

void content_range(Input in) {
    const std::string value = in.rest();
    int64_t first = 7, last = 7, total = 7;
    int32_t rc = vornak_content_range(value.c_str(), &first, &last, &total);
    FUZZ_REQUIRE(rc == 0 || rc == -1);
    if (value.compare(0, 5, "bytes") != 0) FUZZ_REQUIRE(rc == -1);
    if (rc != 0) return;
    FUZZ_REQUIRE(first == -1 || first >= 0);
    FUZZ_REQUIRE(last == -1 || (last >= 0 && (first == -1 || last >= first)));
    FUZZ_REQUIRE(total == -1 || total >= 0);
    if (first >= 0 && last >= 0 && total >= 0) FUZZ_REQUIRE(total >= first);
}

// ---- vornak_header_line -------------------------------------------------------------------------
// Layout: buffer size, then name and value separated by the first line feed (no line feed: the
// value is missing).

void header_line(Input in) {
    const size_t size = in.byte();
    std::string all = in.rest();
    const size_t nl = all.find('\n');
    const bool has_value = nl != std::string::npos;
    const std::string name = all.substr(0, nl), value = has_value ? all.substr(nl + 1) : "";

    bool ok = size >= 4 && !name.empty();
    for (unsigned char c : name) ok = ok && token_char(c);
    for (unsigned char c : value) ok = ok && c >= 32 && c != 127;
    const std::string line = name + ": " + value;
    ok = ok && line.size() < size;

    std::vector<char> out(std::max<size_t>(size, 1), '#');  // exact size for ASan
    int32_t rc = vornak_header_line(name.c_str(), has_value ? value.c_str() : nullptr,
                                    size ? out.data() : nullptr, size);
    FUZZ_REQUIRE(rc == (ok ? 0 : -1));
    if (ok) FUZZ_REQUIRE(line == out.data());
}

// ---- vornak_method_ok ---------------------------------------------------------------------------

void method_ok(Input in) {
    const std::string m = in.rest();
    bool ok = !m.empty() && m.size() <= 32;
    for (unsigned char c : m) ok = ok && token_char(c);
    FUZZ_REQUIRE(vornak_method_ok(m.c_str()) == (ok ? 1 : 0));
    FUZZ_REQUIRE(vornak_method_ok(nullptr) == 0);
}

// ---- the response collector ---------------------------------------------------------------------
// Layout: body bound (u16, 0: none), allocations before the heap fails (0xFF: none), then events:
// a kind byte (0 header, 1 body chunk, 2 ":status"), a length byte and that many bytes (a header
// has a second length and its value).

std::string bytes_of(const vornak_buf &b) {
    return b.data ? std::string(b.data, b.len) : std::string();
}

void buffer_shape(const vornak_buf &b) {
    FUZZ_REQUIRE((b.data == nullptr) == (b.cap == 0));
    if (!b.data) {
        FUZZ_REQUIRE(b.len == 0);
        return;
    }
    FUZZ_REQUIRE(b.len < b.cap && b.data[b.len] == '\0');
    FUZZ_REQUIRE(b.cap >= 64 && b.cap % 64 == 0 && ((b.cap / 64) & (b.cap / 64 - 1)) == 0);
}

void collector(Input in) {
    const uint64_t limit = in.u16();
    const uint8_t fail = in.byte();
    vornak_collect c;
    vornak_collect_init(&c, limit);
    FUZZ_REQUIRE(c.limit == limit && c.status == 0 && c.truncated == 0 && !c.body.data);

    std::string body;  // the model
    std::vector<std::pair<std::string, std::string>> headers;
    bool truncated = false, status_known = true;
    const bool complete = fail == 0xFF;  // with a failing heap only the shape is checked
    int32_t status = 0;
    vornak_alloc_fail_after(fail == 0xFF ? -1 : fail % 16);
    while (in.left()) {
        const uint8_t kind = in.byte() % 3;
        if (kind == 1) {
            const size_t n = std::min<size_t>(in.byte(), in.left());
            const char *bytes = reinterpret_cast<const char *>(in.p);
            in.p += n;
            int32_t rc = vornak_collect_body(&c, bytes, n);
            if (limit && body.size() + n > limit) {
                body.append(bytes, limit - std::min<uint64_t>(limit, body.size()));
                truncated = true;
                FUZZ_REQUIRE(rc == 1 || !complete);
            } else {
                FUZZ_REQUIRE(rc == 0 || !complete);
                if (rc == 0) body.append(bytes, n);
            }
        } else {
            std::string name = kind == 2 ? ":status" : in.text(in.byte());
            std::string value = in.text(in.byte());
            int32_t rc = vornak_collect_header(&c, name.c_str(), value.c_str());
            if (name == ":status") {
                FUZZ_REQUIRE(rc == 0);
                // Plain short numbers only: overflow and exotic blanks are not settled.
                status_known = value.size() < 10 && value.find_first_of("\t\n\v\f\r") ==
                                                        std::string::npos;
                if (status_known)
                    status = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 10));
            } else {
                FUZZ_REQUIRE(rc == 0 || !complete);
                if (rc == 0) headers.emplace_back(name, value);
            }
        }
        buffer_shape(c.body);
        buffer_shape(c.headers);
        FUZZ_REQUIRE(!limit || c.body.len <= limit);
        FUZZ_REQUIRE(c.truncated == (truncated ? 1 : 0));
    }
    vornak_alloc_fail_after(-1);
    if (status_known) FUZZ_REQUIRE(c.status == status);

    if (complete) {
        FUZZ_REQUIRE(bytes_of(c.body) == body);
        // The header block is name, 0, value, 0 for every header in arrival order.
        std::string block;
        for (const auto &h : headers) block += h.first + '\0' + h.second + '\0';
        FUZZ_REQUIRE(bytes_of(c.headers) == block);
        // Look-up finds the first entry whose name matches in any ASCII case.
        for (const auto &h : headers) {
            std::string upper = h.first;
            for (char &ch : upper)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            const char *found = vornak_hdrs_get(&c.headers, upper.c_str());
            const std::pair<std::string, std::string> *first = nullptr;
            for (const auto &g : headers)
                if (!first && g.first.size() == h.first.size() &&
                    strcasecmp(g.first.c_str(), h.first.c_str()) == 0)
                    first = &g;
            FUZZ_REQUIRE(found && first && first->second == found);
        }
    }
    vornak_collect_free(&c);
    FUZZ_REQUIRE(!c.body.data && !c.headers.data && c.body.len == 0 && c.headers.len == 0);
}

// ---- the in-memory fake transport's byte resources ----------------------------------------------

const char kUrl[] = "http://127.0.0.1/resource";

std::string make_resource(size_t n) {
    std::string r(n, '\0');
    for (size_t i = 0; i < n; ++i) r[i] = static_cast<char>('a' + i * 7 % 26);
    return r;
}

int64_t number_header(const vornak_buf &block, const char *name) {
    const char *v = vornak_hdrs_get(&block, name);
    return v ? std::strtoll(v, nullptr, 10) : -1;
}

// Layout: range mode, method (bit 0: HEAD), resource size (u16, below 4096), then the whole
// Range request line as a host would send it (any name, any value).
void fake_range(Input in) {
    const int32_t mode = in.byte() % 4;
    const bool head = in.byte() & 1;
    const size_t n = in.u16() % 4096;
    const std::string line = in.rest();
    const std::string res = make_resource(n);

    vornak_fake_reset();
    FUZZ_REQUIRE(vornak_fake_file(kUrl, res.data(), res.size(), mode) == 0);
    const char *lines[2] = {line.c_str(), nullptr};
    vornak_collect c;
    vornak_collect_init(&c, 0);
    vornak_http_request req{};
    req.size = VORNAK_REQUEST_SIZE;
    req.method = head ? "HEAD" : "GET";
    req.url = kUrl;
    req.headers = lines;
    req.header_count = 2;
    req.on_header = vornak_collect_header;
    req.on_body = vornak_collect_body;
    req.sink_ctx = &c;
    if (const char *range = vornak_header_get(&req, "range"))  // points into the caller's line
        FUZZ_REQUIRE(range >= line.c_str() && range <= line.c_str() + line.size());

    const vornak_http *fake = vornak_http_fake();
    int32_t status = -7;
    char *err = nullptr;
    int32_t rc = fake->request(fake->user_data, &req, &status, &err);
    FUZZ_REQUIRE(rc == 0 && err == nullptr);
    FUZZ_REQUIRE(status == 200 || status == 206 || status == 416);
    if (mode == 0) FUZZ_REQUIRE(status == 200);
    const std::string got = bytes_of(c.body);
    if (status == 200) {
        FUZZ_REQUIRE(number_header(c.headers, "Content-Length") == static_cast<int64_t>(n));
        FUZZ_REQUIRE(got == (head ? std::string() : res));
    } else if (status == 416) {
        FUZZ_REQUIRE(got.empty());
    } else {
        long long s = -1, e = -1, total = -1;
        const char *cr = vornak_hdrs_get(&c.headers, "Content-Range");
        FUZZ_REQUIRE(cr && std::sscanf(cr, "bytes %lld-%lld/%lld", &s, &e, &total) == 3);
        FUZZ_REQUIRE(total == static_cast<long long>(n) && s >= 0 && s < total);
        const size_t want = e >= s ? static_cast<size_t>(e - s + 1) : 0;
        FUZZ_REQUIRE(head ? got.empty() : got.size() == want);
        if (!got.empty())
            FUZZ_REQUIRE(e < total && got == res.substr(static_cast<size_t>(s), want));
    }
    vornak_collect_free(&c);
    vornak_fake_reset();
}

// vornak_http_range over the fake: whatever the server does with the range, the collector ends
// up with the bytes from the first one asked for. Layout: first and last byte (signed 16-bit),
// range mode, resource size (u16, below 4096).
void ranged_get(Input in) {
    const int64_t first = static_cast<int16_t>(in.u16());
    const int64_t last = static_cast<int16_t>(in.u16());
    const int32_t mode = in.byte() % 4;
    const size_t n = in.u16() % 4096;
    const std::string res = make_resource(n);

    vornak_fake_reset();
    FUZZ_REQUIRE(vornak_fake_file(kUrl, res.data(), res.size(), mode) == 0);
    const vornak_http *fake = vornak_http_fake();
    vornak_collect c;
    vornak_collect_init(&c, 0);
    int32_t status = -7;
    char *err = nullptr;
    int32_t rc = vornak_http_range(fake, kUrl, first, last, &c, &status, &err);
    if (first < 0 || first > last) {
        FUZZ_REQUIRE(rc == -1 && status == -7 && err && std::strcmp(err, "bad range args") == 0);
    } else {
        FUZZ_REQUIRE(rc == 0 && err == nullptr);
        const std::string got = bytes_of(c.body);
        const size_t from = static_cast<size_t>(first);
        if (status == 200)
            FUZZ_REQUIRE(got == (n > from ? res.substr(from) : res));
        else if (status == 206)
            FUZZ_REQUIRE(got == res.substr(from, static_cast<size_t>(
                                                     std::min<int64_t>(last, n - 1) - first + 1)));
        else
            FUZZ_REQUIRE(status == 416 && got.empty());
    }
    if (err) fake->free_buf(fake->user_data, err);
    vornak_collect_free(&c);
    vornak_fake_reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    Input in{data + 1, data + size};
    switch (data[0] % 6) {
    case 0: content_range(in); break;
    case 1: header_line(in); break;
    case 2: method_ok(in); break;
    case 3: collector(in); break;
    case 4: fake_range(in); break;
    default: ranged_get(in); break;
    }
    return 0;
}
