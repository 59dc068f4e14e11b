// The in-memory fake transport: request checks, routes, canned answers, byte resources with
// ranges, drips, injected failures, counters, the last-request JSON, and out-of-memory paths.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "vornak_alloc.h"
#include "vornak_http.h"

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

// What one request through the fake delivered.
struct Exchange {
    int32_t rc = 0;
    int32_t status = -1;
    bool has_err = false;
    std::string err;
    Headers headers;  // ":status" included, in arrival order
    std::string body;
    std::vector<uint64_t> chunks;
    int stop_at_header = -1;  // on_header call (0-based) that asks to stop
    int stop_at_chunk = -1;   // on_body call (0-based) that asks to stop
    std::function<void()> during_sink;  // runs inside the first sink call

    const char *header(const char *name) const {
        for (auto &h : headers)
            if (h.first == name) return h.second.c_str();
        return nullptr;
    }
    void hook() {
        if (during_sink) std::exchange(during_sink, nullptr)();
    }
    static int32_t on_header(void *ctx, const char *name, const char *value) {
        auto *x = static_cast<Exchange *>(ctx);
        x->hook();
        x->headers.emplace_back(name, value);
        return static_cast<int>(x->headers.size()) - 1 == x->stop_at_header ? 1 : 0;
    }
    static int32_t on_body(void *ctx, const void *bytes, uint64_t n) {
        auto *x = static_cast<Exchange *>(ctx);
        x->hook();
        x->body.append(static_cast<const char *>(bytes), n);
        x->chunks.push_back(n);
        return static_cast<int>(x->chunks.size()) - 1 == x->stop_at_chunk ? 1 : 0;
    }
};

vornak_http_request make_request(const char *method, const char *url,
                                 const std::vector<const char *> &headers = {}) {
    vornak_http_request req;
    std::memset(&req, 0, sizeof req);
    req.size = VORNAK_REQUEST_SIZE;
    req.method = method;
    req.url = url;
    req.headers = headers.empty() ? nullptr : headers.data();
    req.header_count = headers.size();
    return req;
}

// Runs one request with the Exchange as sink context; the error text goes back through the
// transport's free_buf.
Exchange run(vornak_http_request req, Exchange x = {}) {
    const vornak_http *h = vornak_http_fake();
    req.on_header = &Exchange::on_header;
    req.on_body = &Exchange::on_body;
    req.sink_ctx = &x;
    char *err = nullptr;
    x.rc = h->request(h->user_data, &req, &x.status, &err);
    if (err) {
        x.has_err = true;
        x.err = err;
        h->free_buf(h->user_data, err);
    }
    return x;
}

Exchange fetch(const char *method, const char *url, const std::vector<const char *> &headers = {},
               Exchange x = {}) {
    return run(make_request(method, url, headers), std::move(x));
}

int32_t total() { return vornak_fake_calls(nullptr, nullptr); }

std::string resource(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

class FakeTransport : public ::testing::Test {
protected:
    void SetUp() override {
        filmo_test::reset_client();
        vornak_fake_reset();
    }
    void TearDown() override {
        vornak_alloc_fail_after(-1);
        vornak_fake_reset();
    }
};

// ---- the record and refused requests ---------------------------------------------------------

TEST_F(FakeTransport, RecordIsAUsableConstantTransport) {
    const vornak_http *h = vornak_http_fake();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h, vornak_http_fake());
    EXPECT_EQ(h->size, 32u);
    EXPECT_EQ(h->version, 1u);
    EXPECT_EQ(h->user_data, nullptr);
    EXPECT_NE(h->request, nullptr);
    EXPECT_NE(h->free_buf, nullptr);
    h->free_buf(nullptr, nullptr);
}

TEST_F(FakeTransport, RefusedRequestsFailWithoutCounting) {
    struct Case {
        const char *name;
        int32_t size;
        const char *method;
        const char *url;
        const char *err;
    } cases[] = {
        {"size 111", 111, "GET", "/x", "fake: bad request"},
        {"negative size", -1, "GET", "/x", "fake: bad request"},
        {"no method", 112, nullptr, "/x", "fake: bad request"},
        {"no url", 112, "GET", nullptr, "fake: bad request"},
        {"blank in method", 112, "G ET", "/x", "fake: bad method"},
        {"empty method", 112, "", "/x", "fake: bad method"},
        {"33-byte method", 112, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFG", "/x", "fake: bad method"},
    };
    ASSERT_EQ(vornak_fake_set("GET", "/x", 200, nullptr, "b", 1), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vornak_http_request req = make_request(c.method, c.url);
        req.size = c.size;
        Exchange x = run(req);
        EXPECT_EQ(x.rc, -1);
        EXPECT_EQ(x.status, 0);
        EXPECT_TRUE(x.has_err);
        EXPECT_EQ(x.err, c.err);
        EXPECT_TRUE(x.headers.empty());
    }
    EXPECT_EQ(total(), 0);
    EXPECT_EQ(vornak_fake_calls("GET", "/x"), 0);
    EXPECT_EQ(vornak_fake_last_request(), nullptr);

    // Nothing to fail on and no outs to write: still refused without a crash.
    const vornak_http *h = vornak_http_fake();
    EXPECT_EQ(h->request(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(fetch("GET", "/x").status, 200);  // size 112 is served
}

// ---- canned answers and delivery --------------------------------------------------------------

TEST_F(FakeTransport, UnregisteredUrlIs404WithOnlyTheStatus) {
    ASSERT_EQ(vornak_fake_set("GET", "/other", 200, "A: b\n", "x", 1), 0);
    Exchange x = fetch("GET", "/missing");
    EXPECT_EQ(x.rc, 0);
    EXPECT_EQ(x.status, 404);
    EXPECT_FALSE(x.has_err);
    EXPECT_EQ(x.headers, (Headers{{":status", "404"}}));
    EXPECT_TRUE(x.chunks.empty());
    EXPECT_EQ(fetch("get", "/other").status, 404);   // methods are case-sensitive
    EXPECT_EQ(fetch("GET", "/other/").status, 404);  // urls match exactly
    EXPECT_EQ(total(), 3);
    EXPECT_EQ(vornak_fake_calls("GET", "/other"), 0);
    EXPECT_EQ(vornak_fake_calls("GET", "/missing"), 0);
}

TEST_F(FakeTransport, CannedAnswerSplitsItsHeaderText) {
    const std::string name127(127, 'n'), name128(128, 'n');
    const std::string value511(511, 'v'), value512(512, 'v');
    const std::string text = "Content-Type: text/plain\n"
                             "X-Spaces:    padded  \r\n"
                             "no colon here\n"
                             "X-Colons: a:b: c\n"
                             "X-Empty:\n"
                             "X-Cr: \r\r\n"
                             "\n" +
                             name127 + ": long name\n" + name128 + ": too long\n" +
                             "X-Long: " + value511 + "\n" + "X-Too-Long: " + value512 + "\n" +
                             "Last: no newline";
    ASSERT_EQ(vornak_fake_set("GET", "/c", 201, text.c_str(), "hello", 5), 0);
    Exchange x = fetch("GET", "/c");
    EXPECT_EQ(x.rc, 0);
    EXPECT_EQ(x.status, 201);
    EXPECT_EQ(x.headers, (Headers{{":status", "201"},
                                  {"Content-Type", "text/plain"},
                                  {"X-Spaces", "padded  "},
                                  {"X-Colons", "a:b: c"},
                                  {"X-Empty", ""},
                                  {"X-Cr", "\r"},
                                  {name127, "long name"},
                                  {"X-Long", value511},
                                  {"Last", "no newline"}}));
    EXPECT_EQ(x.body, "hello");
}

TEST_F(FakeTransport, CannedAnswerWithoutHeadersOrBody) {
    ASSERT_EQ(vornak_fake_set("DELETE", "/d", 204, nullptr, nullptr, 0), 0);
    // A missing body is an empty one, whatever length comes with it.
    ASSERT_EQ(vornak_fake_set("PUT", "/p", 201, "", nullptr, 99), 0);
    for (const char *m : {"DELETE", "PUT"}) {
        Exchange x = fetch(m, m[0] == 'D' ? "/d" : "/p");
        EXPECT_EQ(x.rc, 0);
        EXPECT_EQ(x.headers.size(), 1u);
        EXPECT_TRUE(x.chunks.empty());
    }
}

TEST_F(FakeTransport, LargeBodyArrivesInPiecesOf64K) {
    const std::string big = resource(65536 * 2 + 10);
    ASSERT_EQ(vornak_fake_set("GET", "/big", 200, nullptr, big.data(), big.size()), 0);
    Exchange x = fetch("GET", "/big");
    EXPECT_EQ(x.chunks, (std::vector<uint64_t>{65536, 65536, 10}));
    EXPECT_EQ(x.body, big);
}

TEST_F(FakeTransport, SinkThatAsksToStopEndsTheDeliveryNotTheResult) {
    const std::string big = resource(65536 * 3);
    ASSERT_EQ(vornak_fake_set("GET", "/s", 200, "A: 1\nB: 2\n", big.data(), big.size()), 0);
    struct Case {
        int stop_at_header, stop_at_chunk;
        size_t headers, chunks;
    } cases[] = {{0, -1, 1, 0}, {1, -1, 2, 0}, {-1, 0, 3, 1}, {-1, 1, 3, 2}};
    for (const Case &c : cases) {
        Exchange in;
        in.stop_at_header = c.stop_at_header;
        in.stop_at_chunk = c.stop_at_chunk;
        Exchange x = fetch("GET", "/s", {}, std::move(in));
        EXPECT_EQ(x.rc, 0);
        EXPECT_EQ(x.status, 200);
        EXPECT_EQ(x.headers.size(), c.headers);
        EXPECT_EQ(x.chunks.size(), c.chunks);
    }
}

TEST_F(FakeTransport, MissingSinksAndOutsAreTolerated) {
    ASSERT_EQ(vornak_fake_set("GET", "/n", 200, "A: 1\n", "body", 4), 0);
    ASSERT_EQ(vornak_fake_fail("GET", "/f", "down"), 0);
    const vornak_http *h = vornak_http_fake();
    vornak_http_request req = make_request("GET", "/n");
    int32_t status = 0;
    char *err = nullptr;
    EXPECT_EQ(h->request(nullptr, &req, &status, &err), 0);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(h->request(nullptr, &req, nullptr, nullptr), 0);
    req.url = "/f";
    EXPECT_EQ(h->request(nullptr, &req, nullptr, nullptr), -1);  // no text made, none leaked
    EXPECT_EQ(vornak_fake_calls("GET", "/n"), 2);
    EXPECT_EQ(vornak_fake_calls("GET", "/f"), 1);
}

TEST_F(FakeTransport, SinksRunWithoutTheLock) {
    // A sink that registers and asks again would deadlock if the table were still locked.
    for (const char *url : {"/outer", "/drip"}) {
        SCOPED_TRACE(url);
        vornak_fake_reset();
        ASSERT_EQ(vornak_fake_set("GET", "/outer", 200, "A: 1\n", "outer", 5), 0);
        ASSERT_EQ(vornak_fake_drip("/drip", 200, "drip", 4, 0), 0);
        std::string inner_body;
        Exchange in;
        in.during_sink = [&] {
            ASSERT_EQ(vornak_fake_set("GET", "/inner", 200, nullptr, "inner", 5), 0);
            inner_body = fetch("GET", "/inner").body;
        };
        Exchange x = fetch("GET", url, {}, std::move(in));
        EXPECT_EQ(x.status, 200);
        EXPECT_EQ(inner_body, "inner");
        EXPECT_EQ(total(), 2);
    }
}

// ---- HEAD, writes, counters ---------------------------------------------------------------------

TEST_F(FakeTransport, HeadIsServedByTheGetRoute) {
    const std::string file = resource(1000);
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 1), 0);
    Exchange x = fetch("HEAD", "/f", {"Range: bytes=0-9"});
    EXPECT_EQ(x.rc, 0);
    EXPECT_EQ(x.status, 206);
    EXPECT_STREQ(x.header("Content-Range"), "bytes 0-9/1000");
    EXPECT_TRUE(x.chunks.empty());
    x = fetch("HEAD", "/f");
    EXPECT_EQ(x.status, 200);
    EXPECT_EQ(x.headers, (Headers{{":status", "200"},
                                  {"Content-Length", "1000"},
                                  {"Accept-Ranges", "bytes"}}));
    EXPECT_TRUE(x.chunks.empty());
    EXPECT_EQ(vornak_fake_calls("GET", "/f"), 2);
    EXPECT_EQ(vornak_fake_calls("HEAD", "/f"), 0);

    // A canned GET answer goes to HEAD as it is; a HEAD route of its own wins.
    ASSERT_EQ(vornak_fake_set("GET", "/c", 200, "A: 1\n", "body", 4), 0);
    EXPECT_EQ(fetch("HEAD", "/c").body, "body");
    ASSERT_EQ(vornak_fake_set("HEAD", "/c", 204, nullptr, nullptr, 0), 0);
    EXPECT_EQ(fetch("HEAD", "/c").status, 204);
    EXPECT_EQ(vornak_fake_calls("GET", "/c"), 1);
    EXPECT_EQ(vornak_fake_calls("HEAD", "/c"), 1);
    // Only HEAD borrows another method's route.
    EXPECT_EQ(fetch("OPTIONS", "/c").status, 404);
}

TEST_F(FakeTransport, WritingMethodsAreCounted) {
    struct Case {
        const char *method;
        bool writes;
    } cases[] = {{"PUT", true},    {"MKCOL", true},     {"DELETE", true},  {"MOVE", true},
                 {"COPY", true},   {"PROPPATCH", true}, {"LOCK", true},    {"UNLOCK", true},
                 {"POST", true},   {"GET", false},      {"HEAD", false},   {"PROPFIND", false},
                 {"put", false},   {"PATCH", false},    {"OPTIONS", false}, {"M-SEARCH", false}};
    int expected_writes = 0, expected_total = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.method);
        fetch(c.method, "/w");
        expected_writes += c.writes;
        ++expected_total;
        EXPECT_EQ(vornak_fake_writes_sent(), expected_writes);
        EXPECT_EQ(total(), expected_total);
    }
}

TEST_F(FakeTransport, CountersPerRouteMethodAndTotal) {
    ASSERT_EQ(vornak_fake_set("GET", "/a", 200, nullptr, nullptr, 0), 0);
    ASSERT_EQ(vornak_fake_set("GET", "/b", 200, nullptr, nullptr, 0), 0);
    ASSERT_EQ(vornak_fake_set("PUT", "/a", 201, nullptr, nullptr, 0), 0);
    ASSERT_EQ(vornak_fake_fail("MOVE", "/a", nullptr), 0);
    for (const char *u : {"/a", "/a", "/b", "/c"}) fetch("GET", u);
    fetch("PUT", "/a");
    fetch("MOVE", "/a");
    fetch("HEAD", "/b");

    EXPECT_EQ(vornak_fake_calls("GET", "/a"), 2);
    EXPECT_EQ(vornak_fake_calls("GET", "/b"), 2);  // one of them a HEAD
    EXPECT_EQ(vornak_fake_calls("GET", "/c"), 0);
    EXPECT_EQ(vornak_fake_calls("MOVE", "/a"), 1);
    EXPECT_EQ(vornak_fake_calls("get", "/a"), 0);
    EXPECT_EQ(vornak_fake_calls_method("GET"), 4);
    EXPECT_EQ(vornak_fake_calls_method("PUT"), 1);
    EXPECT_EQ(vornak_fake_calls_method("HEAD"), 0);
    EXPECT_EQ(vornak_fake_calls_method("DELETE"), 0);
    EXPECT_EQ(total(), 7);
    EXPECT_EQ(vornak_fake_calls(nullptr, "/a"), 7);
    EXPECT_EQ(vornak_fake_calls("GET", nullptr), 7);
    EXPECT_EQ(vornak_fake_calls_method(nullptr), 7);
    EXPECT_EQ(vornak_fake_writes_sent(), 2);
}

// ---- injected failures and re-registration -----------------------------------------------------

TEST_F(FakeTransport, InjectedFailureHandsOutItsText) {
    ASSERT_EQ(vornak_fake_fail("GET", "/down", "fake: connection reset"), 0);
    ASSERT_EQ(vornak_fake_fail("POST", "/default", nullptr), 0);
    // Any method text is accepted at registration.
    EXPECT_EQ(vornak_fake_fail("not a token", "/x", nullptr), 0);
    Exchange x = fetch("GET", "/down");
    EXPECT_EQ(x.rc, -1);
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(x.err, "fake: connection reset");
    EXPECT_TRUE(x.headers.empty());
    x = fetch("POST", "/default");
    EXPECT_EQ(x.rc, -1);
    EXPECT_EQ(x.err, "fake: transport failure");
    EXPECT_EQ(vornak_fake_calls("GET", "/down"), 1);
    EXPECT_EQ(vornak_fake_writes_sent(), 1);
    EXPECT_EQ(total(), 2);
    // A HEAD falls back to a failing GET route too.
    EXPECT_EQ(fetch("HEAD", "/down").err, "fake: connection reset");
}

TEST_F(FakeTransport, ReRegistrationReplacesTheAnswerAndKeepsTheCounter) {
    const std::string file = resource(100);
    ASSERT_EQ(vornak_fake_set("GET", "/r", 200, "A: 1\n", "first", 5), 0);
    fetch("GET", "/r");
    ASSERT_EQ(vornak_fake_fail("GET", "/r", "now failing"), 0);
    EXPECT_EQ(fetch("GET", "/r").err, "now failing");
    ASSERT_EQ(vornak_fake_file("/r", file.data(), file.size(), 2), 0);
    Exchange x = fetch("GET", "/r", {"Range: bytes=90-"});
    EXPECT_EQ(x.status, 206);
    EXPECT_EQ(x.body, file.substr(90));
    ASSERT_EQ(vornak_fake_drip("/r", 202, "dr", 2, 0), 0);
    x = fetch("GET", "/r");
    EXPECT_EQ(x.status, 202);
    EXPECT_STREQ(x.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(x.body, "dr");
    ASSERT_EQ(vornak_fake_set("GET", "/r", 500, nullptr, nullptr, 0), 0);
    x = fetch("GET", "/r");
    EXPECT_EQ(x.status, 500);
    EXPECT_EQ(x.headers.size(), 1u);
    EXPECT_TRUE(x.body.empty());
    EXPECT_EQ(vornak_fake_calls("GET", "/r"), 5);
}

TEST_F(FakeTransport, RegistrationArgumentsAreChecked) {
    const char body[] = "b";
    struct Case {
        const char *name;
        std::function<int32_t()> call;
    } cases[] = {
        {"set without method", [&] { return vornak_fake_set(nullptr, "/u", 200, "", body, 1); }},
        {"set without url", [&] { return vornak_fake_set("GET", nullptr, 200, "", body, 1); }},
        {"set with a bad method", [&] { return vornak_fake_set("GE T", "/u", 200, "", body, 1); }},
        {"set with an empty method", [&] { return vornak_fake_set("", "/u", 200, "", body, 1); }},
        {"file without url", [&] { return vornak_fake_file(nullptr, body, 1, 1); }},
        {"drip without url", [&] { return vornak_fake_drip(nullptr, 200, body, 1, 0); }},
        {"fail without method", [&] { return vornak_fake_fail(nullptr, "/u", "t"); }},
        {"fail without url", [&] { return vornak_fake_fail("GET", nullptr, "t"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), -1);
    }
    EXPECT_EQ(fetch("GET", "/u").status, 404);
}

TEST_F(FakeTransport, TableHolds256Routes) {
    char url[32];
    for (int i = 0; i < 256; ++i) {
        std::snprintf(url, sizeof url, "/r%d", i);
        ASSERT_EQ(vornak_fake_set("GET", url, 200 + i % 2, nullptr, nullptr, 0), 0) << i;
    }
    EXPECT_EQ(vornak_fake_set("GET", "/r256", 200, nullptr, nullptr, 0), -1);
    EXPECT_EQ(vornak_fake_file("/r256", "x", 1, 1), -1);
    EXPECT_EQ(vornak_fake_drip("/r256", 200, "x", 1, 0), -1);
    EXPECT_EQ(vornak_fake_fail("GET", "/r256", nullptr), -1);
    EXPECT_EQ(vornak_fake_set("PUT", "/r0", 200, nullptr, nullptr, 0), -1);
    // A full table still takes new answers for existing routes and keeps serving.
    EXPECT_EQ(vornak_fake_set("GET", "/r0", 299, nullptr, nullptr, 0), 0);
    EXPECT_EQ(vornak_fake_fail("GET", "/r255", nullptr), 0);
    EXPECT_EQ(fetch("GET", "/r0").status, 299);
    EXPECT_EQ(fetch("GET", "/r101").status, 201);
    EXPECT_EQ(fetch("GET", "/r255").rc, -1);
    EXPECT_EQ(fetch("GET", "/r256").status, 404);
}

TEST_F(FakeTransport, ResetForgetsEverything) {
    ASSERT_EQ(vornak_fake_set("GET", "/a", 200, nullptr, "a", 1), 0);
    ASSERT_EQ(vornak_fake_set("PUT", "/a", 201, nullptr, nullptr, 0), 0);
    fetch("GET", "/a");
    fetch("PUT", "/a");
    ASSERT_NE(vornak_fake_last_request(), nullptr);
    vornak_fake_reset();
    EXPECT_EQ(total(), 0);
    EXPECT_EQ(vornak_fake_writes_sent(), 0);
    EXPECT_EQ(vornak_fake_calls("GET", "/a"), 0);
    EXPECT_EQ(vornak_fake_calls_method("GET"), 0);
    EXPECT_EQ(vornak_fake_last_request(), nullptr);
    EXPECT_EQ(fetch("GET", "/a").status, 404);
    EXPECT_EQ(fetch("PUT", "/a").status, 404);
    vornak_fake_reset();
    vornak_fake_reset();  // on an empty table too
    // After a reset the table grows again from nothing.
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(vornak_fake_set("GET", ("/g" + std::to_string(i)).c_str(), 200, nullptr,
                                  nullptr, 0),
                  0);
    EXPECT_EQ(fetch("GET", "/g39").status, 200);
}

// ---- the last request ------------------------------------------------------------------------

TEST_F(FakeTransport, LastRequestDescribesOnlyTheLatestValidOne) {
    fetch("GET", "/first");
    std::vector<const char *> headers = {"X: \"q\"", nullptr, "Y: back\\slash",
                                         "Z: \x01\n\x1f \x7f\xc3\xa9"};
    vornak_http_request req = make_request("PUT", "/a\"b\\c", headers);
    req.body_len = (uint64_t{1} << 32) + 5;  // the body itself is never read
    req.user = "someone";
    run(req);
    const char *expected = "{\"method\":\"PUT\",\"url\":\"/a\\\"b\\\\c\",\"headers\":["
                           "\"X: \\\"q\\\"\",\"\",\"Y: back\\\\slash\","
                           "\"Z: \\u0001\\u000a\\u001f \x7f\xc3\xa9\"],"
                           "\"body_len\":5,\"credentials\":true}";
    ASSERT_NE(vornak_fake_last_request(), nullptr);
    EXPECT_STREQ(vornak_fake_last_request(), expected);

    // Refused requests leave it alone; an unrouted one replaces it.
    fetch("BAD METHOD", "/x");
    EXPECT_STREQ(vornak_fake_last_request(), expected);
    fetch("GET", "/plain");
    EXPECT_STREQ(vornak_fake_last_request(),
                 "{\"method\":\"GET\",\"url\":\"/plain\",\"headers\":[],\"body_len\":0,"
                 "\"credentials\":false}");
    // Lines claimed by a count but missing altogether are not there to describe.
    req = make_request("GET", "/nolines");
    req.header_count = 3;
    run(req);
    EXPECT_STREQ(vornak_fake_last_request(),
                 "{\"method\":\"GET\",\"url\":\"/nolines\",\"headers\":[],\"body_len\":0,"
                 "\"credentials\":false}");
}

// ---- byte resources ------------------------------------------------------------------------------

TEST_F(FakeTransport, ByteResourceRanges) {
    const std::string file = resource(1000);
    struct Case {
        int mode;
        const char *line;  // request header line, or none
        int status;
        const char *content_range;   // null: no such header
        const char *content_length;  // null: no such header
        size_t from, count;
    } cases[] = {
        // whole resource
        {1, nullptr, 200, nullptr, "1000", 0, 1000},
        {0, "Range: bytes=0-99", 200, nullptr, "1000", 0, 1000},
        {0, "Range: bytes=-5", 200, nullptr, "1000", 0, 1000},
        {1, "Range: items=0-99", 200, nullptr, "1000", 0, 1000},
        {1, "Range: Bytes=0-99", 200, nullptr, "1000", 0, 1000},
        {1, "Range-X: bytes=0-99", 200, nullptr, "1000", 0, 1000},
        {1, "Rang: bytes=0-99", 200, nullptr, "1000", 0, 1000},
        // partial, lenient
        {1, "Range: bytes=0-99", 206, "bytes 0-99/1000", "100", 0, 100},
        {1, "RANGE:bytes=10-19", 206, "bytes 10-19/1000", "10", 10, 10},
        {1, "range:    bytes=999-999", 206, "bytes 999-999/1000", "1", 999, 1},
        {1, "Range: bytes=900-", 206, "bytes 900-999/1000", "100", 900, 100},
        {1, "Range: bytes=900-5000", 206, "bytes 900-999/1000", "100", 900, 100},
        {1, "Range: bytes=0-99999999999999999999", 206, "bytes 0-999/1000", "1000", 0, 1000},
        {1, "Range: bytes=5-9,20-29", 206, "bytes 5-9/1000", "5", 5, 5},
        {1, "Range: bytes=500", 206, "bytes 500-999/1000", "500", 500, 500},
        {7, "Range: bytes=0-0", 206, "bytes 0-0/1000", "1", 0, 1},
        {-1, "Range: bytes=1-2", 206, "bytes 1-2/1000", "2", 1, 2},
        // partial, strict
        {2, "Range: bytes=900-999", 206, "bytes 900-999/1000", "100", 900, 100},
        {2, "Range: bytes=900-", 206, "bytes 900-999/1000", "100", 900, 100},
        // unsatisfiable
        {1, "Range: bytes=1000-", 416, "bytes */1000", nullptr, 0, 0},
        {1, "Range: bytes=1000-1005", 416, "bytes */1000", nullptr, 0, 0},
        {1, "Range: bytes=99999999999999999999-", 416, "bytes */1000", nullptr, 0, 0},
        {2, "Range: bytes=900-5000", 416, "bytes */1000", nullptr, 0, 0},
        {2, "Range: bytes=0-1000", 416, "bytes */1000", nullptr, 0, 0},
        // what the fake settles itself: nothing outside the resource is ever read
        {1, "Range: bytes=-100", 416, "bytes */1000", nullptr, 0, 0},
        {1, "Range: bytes=-1-5", 416, "bytes */1000", nullptr, 0, 0},
        {1, "Range: bytes=500-100", 416, "bytes */1000", nullptr, 0, 0},
        {1, "Range: bytes=5--3", 416, "bytes */1000", nullptr, 0, 0},
        {2, "Range: bytes=500-100", 416, "bytes */1000", nullptr, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " line "
                                        << (c.line ? c.line : "(none)"));
        vornak_fake_reset();
        ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), c.mode), 0);
        std::vector<const char *> lines = {"Accept: */*"};
        if (c.line) lines.push_back(c.line);
        Exchange x = fetch("GET", "/f", lines);
        EXPECT_EQ(x.rc, 0);
        EXPECT_EQ(x.status, c.status);
        EXPECT_STREQ(x.header(":status"), std::to_string(c.status).c_str());
        if (c.content_range)
            EXPECT_STREQ(x.header("Content-Range"), c.content_range);
        else
            EXPECT_EQ(x.header("Content-Range"), nullptr);
        if (c.content_length)
            EXPECT_STREQ(x.header("Content-Length"), c.content_length);
        else
            EXPECT_EQ(x.header("Content-Length"), nullptr);
        EXPECT_EQ(x.header("Accept-Ranges") != nullptr, c.status == 200);
        EXPECT_EQ(x.body, file.substr(c.from, c.count));
    }
}

TEST_F(FakeTransport, OnlyTheFirstRangeLineCounts) {
    const std::string file = resource(100);
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 1), 0);
    Exchange x = fetch("GET", "/f", {"X: y", "Range: bytes=1-2", "Range: bytes=3-4"});
    EXPECT_STREQ(x.header("Content-Range"), "bytes 1-2/100");
    // A line that merely starts like a range line does not stop the search.
    x = fetch("GET", "/f", {"Ranges: bytes=1-2", "Range: bytes=3-4"});
    EXPECT_STREQ(x.header("Content-Range"), "bytes 3-4/100");
}

TEST_F(FakeTransport, EmptyByteResource) {
    ASSERT_EQ(vornak_fake_file("/e", nullptr, 0, 1), 0);
    Exchange x = fetch("GET", "/e");
    EXPECT_EQ(x.status, 200);
    EXPECT_STREQ(x.header("Content-Length"), "0");
    EXPECT_TRUE(x.chunks.empty());
    x = fetch("GET", "/e", {"Range: bytes=0-"});
    EXPECT_EQ(x.status, 416);
    EXPECT_STREQ(x.header("Content-Range"), "bytes */0");
}

// ---- drips -------------------------------------------------------------------------------------

TEST_F(FakeTransport, DripGivesChunksOf64WithPauses) {
    const std::string body = resource(200);
    struct Case {
        int limit;
        std::vector<uint64_t> chunks;
    } cases[] = {{0, {64, 64, 64, 8}}, {-3, {64, 64, 64, 8}}, {2, {64, 64}},
                 {4, {64, 64, 64, 8}}, {9, {64, 64, 64, 8}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.limit);
        ASSERT_EQ(vornak_fake_drip("/d", 203, body.data(), body.size(), c.limit), 0);
        auto start = std::chrono::steady_clock::now();
        Exchange x = fetch("GET", "/d");
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(x.rc, 0);
        EXPECT_EQ(x.status, 203);
        EXPECT_EQ(x.headers, (Headers{{":status", "203"},
                                      {"Content-Type", "application/octet-stream"}}));
        EXPECT_EQ(x.chunks, c.chunks);
        EXPECT_EQ(x.body, body.substr(0, x.body.size()));
        // A pause follows every chunk that does not end the drip by its limit.
        size_t pauses = c.limit > 0 && static_cast<size_t>(c.limit) <= c.chunks.size()
                            ? c.chunks.size() - 1
                            : c.chunks.size();
        EXPECT_GE(took, std::chrono::milliseconds(10) * pauses);
    }
}

TEST_F(FakeTransport, DripStopsWhenTheSinkAsks) {
    const std::string body = resource(64 * 5);
    ASSERT_EQ(vornak_fake_drip("/d", 200, body.data(), body.size(), 0), 0);
    Exchange in;
    in.stop_at_chunk = 1;
    Exchange x = fetch("GET", "/d", {}, std::move(in));
    EXPECT_EQ(x.rc, 0);
    EXPECT_EQ(x.chunks.size(), 2u);
    // Stopped at its head, it drips nothing.
    in = Exchange{};
    in.stop_at_header = 0;
    x = fetch("GET", "/d", {}, std::move(in));
    EXPECT_EQ(x.rc, 0);
    EXPECT_EQ(x.status, 200);
    EXPECT_TRUE(x.chunks.empty());
    // Without a body sink the drip runs its course all the same.
    vornak_http_request req = make_request("GET", "/d");
    int32_t status = 0;
    char *err = nullptr;
    EXPECT_EQ(vornak_http_fake()->request(nullptr, &req, &status, &err), 0);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(vornak_fake_calls("GET", "/d"), 3);
}

// ---- out of memory ---------------------------------------------------------------------------

// Runs op with the n-th allocation failing, n = 0, 1, ... until it succeeds; check runs after
// every failure with allocations working again.
void until_success(const std::function<int32_t()> &op, const std::function<void()> &check) {
    for (long n = 0;; ++n) {
        SCOPED_TRACE(n);
        vornak_alloc_fail_after(n);
        int32_t rc = op();
        vornak_alloc_fail_after(-1);
        if (rc == 0) return;
        ASSERT_EQ(rc, -1);
        check();
        ASSERT_LT(n, 100) << "never succeeded";
    }
}

TEST_F(FakeTransport, RegistrationOutOfMemoryLeavesTheTableAsItWas) {
    const std::string body = resource(300);
    struct Case {
        const char *name;
        const char *method;
        std::function<int32_t()> call;
        std::string served;  // the body, or the error text of a failure
    } cases[] = {
        {"set", "PUT",
         [&] { return vornak_fake_set("PUT", "/o", 201, "A: 1\n", body.data(), body.size()); },
         body},
        {"file", "GET", [&] { return vornak_fake_file("/o", body.data(), body.size(), 1); },
         body},
        {"drip", "GET", [&] { return vornak_fake_drip("/o", 201, body.data(), 70, 0); },
         body.substr(0, 70)},
        {"fail", "GET", [&] { return vornak_fake_fail("GET", "/o", "gone"); }, "gone"},
    };
    char url[16];
    for (const Case &c : cases) {
        for (int existing : {0, 15, 16}) {  // an empty table, room left, a table to grow
            SCOPED_TRACE(testing::Message() << c.name << " after " << existing << " routes");
            vornak_fake_reset();
            for (int i = 0; i < existing; ++i) {
                std::snprintf(url, sizeof url, "/k%d", i);
                ASSERT_EQ(vornak_fake_set("GET", url, 200, nullptr, "k", 1), 0);
            }
            until_success(c.call, [&] {
                EXPECT_EQ(fetch(c.method, "/o").status, 404);
                for (int i = 0; i < existing; ++i) {
                    std::snprintf(url, sizeof url, "/k%d", i);
                    EXPECT_EQ(fetch("GET", url).body, "k");
                }
            });
            Exchange x = fetch(c.method, "/o");
            EXPECT_EQ(x.rc == -1 ? x.err : x.body, c.served);
        }
    }
}

TEST_F(FakeTransport, ReRegistrationOutOfMemoryKeepsTheOldAnswer) {
    ASSERT_EQ(vornak_fake_set("GET", "/o", 200, "Old: 1\n", "old", 3), 0);
    fetch("GET", "/o");
    until_success([] { return vornak_fake_set("GET", "/o", 201, "New: 1\n", "new", 3); },
                  [] {
                      Exchange x = fetch("GET", "/o");
                      EXPECT_EQ(x.status, 200);
                      EXPECT_STREQ(x.header("Old"), "1");
                      EXPECT_EQ(x.body, "old");
                  });
    Exchange x = fetch("GET", "/o");
    EXPECT_EQ(x.status, 201);
    EXPECT_EQ(x.body, "new");
    EXPECT_GE(vornak_fake_calls("GET", "/o"), 2);
}

TEST_F(FakeTransport, AnsweringOutOfMemoryStillAnswers) {
    const std::string file = resource(100);
    ASSERT_EQ(vornak_fake_set("GET", "/c", 200, "A: 1\n", "canned", 6), 0);
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 1), 0);
    ASSERT_EQ(vornak_fake_drip("/d", 200, "dripped", 7, 0), 0);
    ASSERT_EQ(vornak_fake_fail("GET", "/x", "injected"), 0);
    struct Case {
        const char *url;
        const char *line;
        int status;
        std::string body;
    } cases[] = {{"/c", nullptr, 200, "canned"},
                 {"/f", "Range: bytes=10-19", 206, file.substr(10, 10)},
                 {"/d", nullptr, 200, "dripped"},
                 {"/u", nullptr, 404, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        std::vector<const char *> lines;
        if (c.line) lines.push_back(c.line);
        for (long n = 0;; ++n) {
            vornak_alloc_fail_after(n);
            Exchange x = fetch("GET", c.url, lines);
            vornak_alloc_fail_after(-1);
            // Memory decides only what is described and copied, never the result.
            ASSERT_EQ(x.rc, 0);
            ASSERT_EQ(x.status, c.status);
            ASSERT_TRUE(x.body.empty() || x.body == c.body);
            size_t headers = c.status == 404 ? 1 : 2;
            if (x.body == c.body && x.headers.size() >= headers &&
                vornak_fake_last_request() != nullptr)
                break;
            ASSERT_LT(n, 100);
        }
    }
    for (long n = 0; n < 3; ++n) {
        vornak_alloc_fail_after(n);
        Exchange x = fetch("GET", "/x");
        vornak_alloc_fail_after(-1);
        EXPECT_EQ(x.rc, -1);
        EXPECT_EQ(x.status, 0);
        EXPECT_TRUE(!x.has_err || x.err == "injected");
    }
}

}  // namespace
