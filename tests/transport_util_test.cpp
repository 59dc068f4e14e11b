// The transport library's shared pieces: buffer, duplicators, collector, look-ups, checks and
// the acceptance of io handles.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "vornak_alloc.h"
#include "vornak_http.h"

namespace {

class TransportUtil : public ::testing::Test {
protected:
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { vornak_alloc_fail_after(-1); }
};

std::string bytes(const vornak_buf &b) { return std::string(b.data, b.len); }

// A literal with embedded zeros, taken whole.
#define RAW(s) std::string(s, sizeof(s) - 1)

// A looked-up value as a string, so that a missing one compares unequal instead of crashing.
std::string val(const char *p) { return p ? p : "<null>"; }

// The buffer's invariant after every operation: data is null exactly when cap is 0, cap is 64
// times a power of two, and the byte after the data is 0.
void expect_sound(const vornak_buf &b) {
    if (b.cap == 0) {
        EXPECT_EQ(b.data, nullptr);
        EXPECT_EQ(b.len, 0u);
        return;
    }
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.cap % 64, 0u);
    EXPECT_EQ((b.cap / 64) & (b.cap / 64 - 1), 0u) << "cap " << b.cap;
    EXPECT_LT(b.len, b.cap);
    EXPECT_EQ(b.data[b.len], '\0');
}

// ---- buffer ------------------------------------------------------------------------------

TEST_F(TransportUtil, BufferStartsAt64BytesAndCountsTheTerminator) {
    struct Case {
        size_t n;
        uint64_t cap;
    } cases[] = {{0, 64}, {1, 64}, {63, 64}, {64, 128}, {127, 128}, {128, 256}, {1000, 1024}};
    for (const Case &c : cases) {
        vornak_buf b{};
        std::string src(c.n, 'x');
        ASSERT_EQ(vornak_buf_add(&b, src.data(), c.n), 0);
        EXPECT_EQ(b.cap, c.cap) << c.n << " bytes";
        EXPECT_EQ(bytes(b), src);
        expect_sound(b);
        vornak_buf_free(&b);
    }
}

TEST_F(TransportUtil, BufferDoublesAsItGrowsAndKeepsEveryByte) {
    vornak_buf b{};
    std::string expect;
    uint64_t last_cap = 0;
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(vornak_buf_addc(&b, 'a' + i % 26), 0);
        expect.push_back(static_cast<char>('a' + i % 26));
        if (b.cap != last_cap) {
            if (last_cap) {
                EXPECT_EQ(b.cap, last_cap * 2);
            }
            last_cap = b.cap;
        }
    }
    EXPECT_EQ(bytes(b), expect);
    EXPECT_EQ(b.cap, 8192u);
    expect_sound(b);
    vornak_buf_free(&b);
}

TEST_F(TransportUtil, BufferAppendsAZeroByteLikeAnyOther) {
    vornak_buf b{};
    ASSERT_EQ(vornak_buf_adds(&b, "ab"), 0);
    ASSERT_EQ(vornak_buf_addc(&b, 0), 0);
    EXPECT_EQ(b.len, 3u);
    EXPECT_EQ(b.data[2], '\0');
    EXPECT_EQ(b.data[3], '\0');
    ASSERT_EQ(vornak_buf_adds(&b, ""), 0);
    EXPECT_EQ(b.len, 3u);
    vornak_buf_free(&b);
}

TEST_F(TransportUtil, BufferAppendOfItsOwnBytesSurvivesTheMove) {
    vornak_buf b{};
    std::string s(60, 'q');
    s += "tail";
    ASSERT_EQ(vornak_buf_add(&b, s.data(), s.size()), 0);
    ASSERT_EQ(b.cap, 128u);
    ASSERT_EQ(vornak_buf_add(&b, b.data, b.len), 0);  // grows to 256 while reading itself
    EXPECT_EQ(bytes(b), s + s);
    vornak_buf_free(&b);
}

TEST_F(TransportUtil, BufferRefusesBadArgumentsAndOverflow) {
    EXPECT_EQ(vornak_buf_add(nullptr, "x", 1), -1);
    vornak_buf b{};
    EXPECT_EQ(vornak_buf_add(&b, nullptr, 1), -1);
    EXPECT_EQ(vornak_buf_adds(&b, nullptr), -1);
    EXPECT_EQ(b.data, nullptr);

    // Sizes that cannot be represented are refused before any allocation.
    char block[64] = "kept";
    struct Case {
        uint64_t len, cap;
        size_t n;
    } cases[] = {
        {UINT64_MAX - 1, 64, 1},          // len + n + 1 wraps
        {10, 64, SIZE_MAX},               // len + n wraps
        {uint64_t{1} << 63, uint64_t{1} << 63, 1},  // doubling the capacity wraps
    };
    for (const Case &c : cases) {
        vornak_buf fake{block, c.len, c.cap};
        vornak_alloc_fail_after(0);  // any allocation attempt would be seen as a failure
        EXPECT_EQ(vornak_buf_add(&fake, "x", c.n), -1);
        EXPECT_EQ(vornak_alloc_failures(), 0);
        vornak_alloc_fail_after(-1);
        EXPECT_EQ(fake.data, block);
        EXPECT_EQ(fake.len, c.len);
        EXPECT_EQ(fake.cap, c.cap);
        EXPECT_STREQ(block, "kept");
    }
}

TEST_F(TransportUtil, BufferOutOfMemoryLeavesItAsItWas) {
    vornak_buf b{};
    vornak_alloc_fail_after(0);
    EXPECT_EQ(vornak_buf_adds(&b, "x"), -1);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.cap, 0u);

    vornak_alloc_fail_after(1);
    std::string first(60, 'a');
    ASSERT_EQ(vornak_buf_add(&b, first.data(), first.size()), 0);
    char *before = b.data;
    EXPECT_EQ(vornak_buf_add(&b, "0123456789", 10), -1);  // needs 128: refused
    EXPECT_EQ(b.data, before);
    EXPECT_EQ(b.len, 60u);
    EXPECT_EQ(b.cap, 64u);
    EXPECT_EQ(bytes(b), first);
    EXPECT_EQ(vornak_buf_add(&b, "012", 3), 0);  // still fits: no allocation needed
    EXPECT_EQ(bytes(b), first + "012");
    vornak_buf_free(&b);
}

TEST_F(TransportUtil, BufferFreeZeroesAndTheBufferIsReusable) {
    vornak_buf_free(nullptr);
    vornak_buf b{};
    vornak_buf_free(&b);
    ASSERT_EQ(vornak_buf_adds(&b, "one"), 0);
    vornak_buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    ASSERT_EQ(vornak_buf_adds(&b, "two"), 0);
    EXPECT_STREQ(b.data, "two");
    vornak_buf_free(&b);
}

// ---- duplicators -------------------------------------------------------------------------

TEST_F(TransportUtil, DuplicatorsCopyExactlyAndFailCleanly) {
    vornak_cptr<char> a(vornak_strndup("a\0b", 3));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::string(a.get(), 4), std::string("a\0b\0", 4));
    vornak_cptr<char> e(vornak_strndup(nullptr, 0));
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e.get(), "");
    EXPECT_EQ(vornak_strndup(nullptr, 2), nullptr);

    vornak_cptr<char> d(vornak_strdup("hello"));
    EXPECT_STREQ(d.get(), "hello");
    EXPECT_EQ(vornak_strdup(nullptr), nullptr);

    vornak_alloc_fail_after(0);
    EXPECT_EQ(vornak_strdup("x"), nullptr);
    EXPECT_EQ(vornak_strndup("x", 1), nullptr);
}

// ---- collector ---------------------------------------------------------------------------

class Collector : public TransportUtil {
protected:
    void TearDown() override {
        vornak_collect_free(&c);
        TransportUtil::TearDown();
    }
    int32_t body(const std::string &s) { return vornak_collect_body(&c, s.data(), s.size()); }
    int32_t header(const char *name, const char *value) {
        return vornak_collect_header(&c, name, value);
    }
    std::string block() const { return std::string(c.headers.data, c.headers.len); }
    vornak_collect c{};
};

TEST_F(Collector, InitZeroesEverythingButTheBound) {
    c.status = 7;
    c.truncated = 1;
    vornak_collect_init(&c, 10);
    EXPECT_EQ(c.limit, 10u);
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.truncated, 0);
    EXPECT_EQ(c.body.data, nullptr);
    vornak_collect_init(nullptr, 1);
}

TEST_F(Collector, BodyNeverPassesTheBound) {
    struct Case {
        uint64_t limit;
        std::vector<std::string> chunks;
        std::vector<int32_t> results;
        std::string kept;
        int32_t truncated;
    } cases[] = {
        {10, {"abcd", "efghij"}, {0, 0}, "abcdefghij", 0},
        {10, {"abcd", "efghij", "k"}, {0, 0, 1}, "abcdefghij", 1},
        {10, {"abcdefghijkl"}, {1}, "abcdefghij", 1},
        {10, {"abcdefgh", "ijkl", "mn"}, {0, 1, 1}, "abcdefghij", 1},
        {10, {"", "abc", ""}, {0, 0, 0}, "abc", 0},
        {10, {"abcdefghij", ""}, {0, 0}, "abcdefghij", 0},
        {0, {std::string(100000, 'z'), "!"}, {0, 0}, std::string(100000, 'z') + "!", 0},
    };
    for (const Case &k : cases) {
        vornak_collect_init(&c, k.limit);
        for (size_t i = 0; i < k.chunks.size(); ++i)
            EXPECT_EQ(body(k.chunks[i]), k.results[i]) << "chunk " << i;
        EXPECT_EQ(std::string(c.body.data ? c.body.data : "", c.body.len), k.kept);
        EXPECT_EQ(c.truncated, k.truncated);
        vornak_collect_free(&c);
    }
}

TEST_F(Collector, BodyAppendFailureStopsTheExchangeAndKeepsThePartialBody) {
    vornak_collect_init(&c, 0);
    ASSERT_EQ(body("first"), 0);
    vornak_alloc_fail_after(0);
    EXPECT_EQ(body(std::string(100, 'x')), 1);
    EXPECT_EQ(std::string(c.body.data, c.body.len), "first");
    EXPECT_EQ(c.truncated, 0);
    EXPECT_EQ(vornak_collect_body(nullptr, "x", 1), 1);
    EXPECT_EQ(vornak_collect_body(&c, nullptr, 1), 1);
}

TEST_F(Collector, StatusPseudoHeaderIsReadNotStored) {
    struct Case {
        const char *value;
        int32_t status;
    } cases[] = {
        {"404 Not Found", 404}, {"200", 200}, {"  \t301", 301}, {"+7", 7},  {"-5", -5},
        {"abc", 0},             {"", 0},      {nullptr, 0},     {"99999999999", INT32_MAX},
    };
    for (const Case &k : cases) {
        vornak_collect_init(&c, 0);
        c.status = 1;
        EXPECT_EQ(header(":status", k.value), 0);
        EXPECT_EQ(c.status, k.status) << (k.value ? k.value : "(null)");
        EXPECT_EQ(c.headers.len, 0u);
    }
}

TEST_F(Collector, HeaderBlockHoldsNameAndValueWithTheirZeros) {
    vornak_collect_init(&c, 0);
    EXPECT_EQ(header(":status", "200"), 0);
    EXPECT_EQ(header("Content-Type", "text/html"), 0);
    EXPECT_EQ(header(":Status", "500"), 0);
    EXPECT_EQ(header(":status2", "x"), 0);
    EXPECT_EQ(header("Empty", nullptr), 0);
    EXPECT_EQ(header("Content-Type", "second"), 0);
    EXPECT_EQ(c.status, 200);
    EXPECT_EQ(block(), RAW("Content-Type\0text/html\0:Status\0"
                           "500\0:status2\0x\0Empty\0\0Content-Type\0second\0"));
    EXPECT_STREQ(vornak_hdrs_get(&c.headers, ":status"), "500");
    EXPECT_STREQ(vornak_hdrs_get(&c.headers, "empty"), "");
}

TEST_F(Collector, HeaderAppendFailureStopsAndLeavesNoReadableHalfEntry) {
    // Each allocation budget cuts the second entry at another place; the first entry stays
    // readable and the cut one is never found.
    for (long n = 0;; ++n) {
        vornak_collect_init(&c, 0);
        ASSERT_EQ(header("A", std::string(50, 'a').c_str()), 0);  // 54 bytes: cap 64
        vornak_alloc_fail_after(n);
        const int32_t r = header(std::string(100, 'B').c_str(), std::string(200, 'b').c_str());
        vornak_alloc_fail_after(-1);
        EXPECT_EQ(val(vornak_hdrs_get(&c.headers, "a")), std::string(50, 'a'));
        if (r == 0) {
            EXPECT_EQ(val(vornak_hdrs_get(&c.headers, std::string(100, 'b').c_str())),
                      std::string(200, 'b'));
            EXPECT_GE(n, 1);
            break;
        }
        EXPECT_EQ(r, 1);
        EXPECT_EQ(vornak_hdrs_get(&c.headers, std::string(100, 'b').c_str()), nullptr);
        vornak_collect_free(&c);
        ASSERT_LT(n, 10);
    }
}

TEST_F(Collector, FreeKeepsStatusBoundAndTruncation) {
    vornak_collect_init(&c, 2);
    header(":status", "206");
    header("X", "y");
    body("abc");
    vornak_collect_free(&c);
    EXPECT_EQ(c.body.data, nullptr);
    EXPECT_EQ(c.headers.data, nullptr);
    EXPECT_EQ(c.headers.len, 0u);
    EXPECT_EQ(c.status, 206);
    EXPECT_EQ(c.limit, 2u);
    EXPECT_EQ(c.truncated, 1);
    vornak_collect_free(nullptr);
}

// ---- look-ups ----------------------------------------------------------------------------

TEST_F(TransportUtil, HeaderBlockLookUp) {
    vornak_buf b{};
    const std::string raw = RAW("Content-Type\0json\0X-Empty\0\0content-type\0late\0Set\0a\0");
    ASSERT_EQ(vornak_buf_add(&b, raw.data(), raw.size()), 0);
    struct Case {
        const char *name;
        const char *value;
    } cases[] = {
        {"content-type", "json"}, {"CONTENT-TYPE", "json"}, {"Content", nullptr},
        {"Content-Type2", nullptr}, {"x-empty", ""},          {"set", "a"},
        {"", nullptr},              {"json", nullptr},
    };
    for (const Case &k : cases)
        EXPECT_EQ(val(vornak_hdrs_get(&b, k.name)), val(k.value)) << k.name;
    EXPECT_EQ(vornak_hdrs_get(nullptr, "set"), nullptr);
    EXPECT_EQ(vornak_hdrs_get(&b, nullptr), nullptr);
    vornak_buf empty{};
    EXPECT_EQ(vornak_hdrs_get(&empty, "set"), nullptr);
    vornak_buf_free(&b);
}

TEST_F(TransportUtil, RequestHeaderLookUp) {
    const char *lines[] = {nullptr, "Range", "Ranges: x", "range:  \tbytes=0-9", "Range: late",
                           "R", "Accept:text/html", "X-Empty:"};
    vornak_http_request req{};
    req.size = VORNAK_REQUEST_SIZE;
    req.headers = lines;
    req.header_count = sizeof lines / sizeof lines[0];
    struct Case {
        const char *name;
        const char *value;
    } cases[] = {
        {"Range", "bytes=0-9"}, {"RANGE", "bytes=0-9"}, {"accept", "text/html"},
        {"x-empty", ""},        {"Rang", nullptr},      {"Ranges2", nullptr},
        {"", nullptr},          {"Missing", nullptr},
    };
    for (const Case &k : cases)
        EXPECT_EQ(val(vornak_header_get(&req, k.name)), val(k.value)) << k.name;
    // The value points into the caller's line.
    EXPECT_EQ(vornak_header_get(&req, "range"), lines[3] + 9);
    req.header_count = 0;
    EXPECT_EQ(vornak_header_get(&req, "Range"), nullptr);
    EXPECT_EQ(vornak_header_get(nullptr, "Range"), nullptr);
    req.header_count = 2;
    req.headers = nullptr;
    EXPECT_EQ(vornak_header_get(&req, "Range"), nullptr);
}

// ---- checks ------------------------------------------------------------------------------

TEST_F(TransportUtil, MethodTokens) {
    const std::string m32(32, 'M'), m33(33, 'M');
    struct Case {
        const char *method;
        int32_t ok;
    } cases[] = {
        {"GET", 1},         {"get", 1},     {"M-SEARCH", 1}, {"!#$%&'*+-.^_`|~09azAZ", 1},
        {m32.c_str(), 1},   {m33.c_str(), 0}, {"GET ", 0},   {"", 0},
        {nullptr, 0},       {"GE\tT", 0},   {"P(OST", 0},    {"\xC3\xA9", 0},
    };
    for (const Case &k : cases)
        EXPECT_EQ(vornak_method_ok(k.method), k.ok) << (k.method ? k.method : "(null)");
}

TEST_F(TransportUtil, HeaderLines) {
    const std::string long_name(200, 'n');
    struct Case {
        const char *name;
        const char *value;
        size_t size;
        int32_t result;
        const char *line;
    } cases[] = {
        {"Ab", "123", 8, 0, "Ab: 123"},
        {"Ab", "1234", 8, -1, nullptr},
        {"Accept", nullptr, 64, 0, "Accept: "},
        {"X", "a b\x80", 64, 0, "X: a b\x80"},
        {"X", "a\tb", 64, -1, nullptr},
        {"X", "a\x7f", 64, -1, nullptr},
        {"X", "a\r\nEvil: 1", 64, -1, nullptr},
        {"A b", "v", 64, -1, nullptr},
        {"A:b", "v", 64, -1, nullptr},
        {"", "v", 64, -1, nullptr},
        {nullptr, "v", 64, -1, nullptr},
        {"A", "", 3, -1, nullptr},
        {"A", "", 4, 0, "A: "},
        {long_name.c_str(), "", 1024, 0, nullptr},
    };
    for (const Case &k : cases) {
        char out[1024];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(vornak_header_line(k.name, k.value, out, k.size), k.result)
            << (k.name ? k.name : "(null)") << " / " << (k.value ? k.value : "(null)");
        if (k.line) {
            EXPECT_STREQ(out, k.line);
        }
    }
    EXPECT_EQ(vornak_header_line("A", "b", nullptr, 64), -1);
}

// ---- io handles --------------------------------------------------------------------------

int32_t no_request(void *, const vornak_http_request *, int32_t *, char **) { return -1; }

TEST_F(TransportUtil, IoHandleAcceptance) {
    struct Case {
        const char *what;
        void (*spoil)(vornak_io &, vornak_io_ctx &, vornak_http &);
        bool accepted;
    } cases[] = {
        {"sound", [](vornak_io &, vornak_io_ctx &, vornak_http &) {}, true},
        {"larger context", [](vornak_io &, vornak_io_ctx &x, vornak_http &) { x.size = 40; }, true},
        {"larger transport", [](vornak_io &, vornak_io_ctx &, vornak_http &h) { h.size = 48; },
         true},
        {"no context", [](vornak_io &io, vornak_io_ctx &, vornak_http &) { io.ctx = nullptr; },
         false},
        {"wrong tag",
         [](vornak_io &, vornak_io_ctx &x, vornak_http &) { x.tag = 0x564E4B48u; }, false},
        {"context of 23", [](vornak_io &, vornak_io_ctx &x, vornak_http &) { x.size = 23; },
         false},
        {"no transport", [](vornak_io &, vornak_io_ctx &x, vornak_http &) { x.http = nullptr; },
         false},
        {"transport of 31", [](vornak_io &, vornak_io_ctx &, vornak_http &h) { h.size = 31; },
         false},
        {"version 2", [](vornak_io &, vornak_io_ctx &, vornak_http &h) { h.version = 2; },
         false},
        {"version 0", [](vornak_io &, vornak_io_ctx &, vornak_http &h) { h.version = 0; },
         false},
        {"no request",
         [](vornak_io &, vornak_io_ctx &, vornak_http &h) { h.request = nullptr; }, false},
    };
    for (const Case &k : cases) {
        vornak_http http{32, 1, nullptr, &no_request, nullptr};
        vornak_io_ctx ctx{VORNAK_IO_TAG, 24, &http, nullptr};
        vornak_io io{&ctx, nullptr, nullptr, nullptr};
        k.spoil(io, ctx, http);
        EXPECT_EQ(vornak_http_of(&io), k.accepted ? &http : nullptr) << k.what;
        if (io.ctx) {
            EXPECT_EQ(vornak_http_from_ctx(&ctx), k.accepted ? &http : nullptr) << k.what;
        }
    }
    EXPECT_EQ(vornak_http_of(nullptr), nullptr);
    EXPECT_EQ(vornak_http_from_ctx(nullptr), nullptr);
}

TEST_F(TransportUtil, TagLiesInMemoryAsVNKH) {
    vornak_io_ctx ctx{VORNAK_IO_TAG, 24, nullptr, nullptr};
    EXPECT_EQ(std::memcmp(&ctx.tag, "VNKH", 4), 0);
}

TEST_F(TransportUtil, CurlTransportIsNotPartOfThisBuild) { EXPECT_EQ(vornak_http_curl(), nullptr); }

}  // namespace
