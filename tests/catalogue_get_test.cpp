// The catalogue GET: what it puts into the request record, how it hands the answer over, the
// 32 MB bound, transport failures and running out of memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "test_support.h"

namespace {

using filmo_test::Answer;
using filmo_test::reset_client;
using filmo_test::ScriptedTransport;

constexpr size_t kBound = 33554432;  // 32 MB

// The outcome of one filmo_http_get, with the body and header block already taken over.
struct Got {
    int32_t rc = 0;
    std::string err;
    bool body_null = true;
    std::string body;
    bool body_terminated = false;
    vornak_buf headers{};
    int32_t status = 0;

    ~Got() { vornak_buf_free(&headers); }
    const char *header(const char *name) const { return vornak_hdrs_get(&headers, name); }
};

// A header block the call must not write on failure.
char kUntouched[] = "untouched";

void get(Got &g, const char *const *lines = nullptr, bool want_headers = true,
         const char *url = "http://127.0.0.1/api/AAA/GetCollectionPopular?language=en-US") {
    char *body = reinterpret_cast<char *>(1);
    size_t len = 99;
    char err[256] = "";
    g.headers = vornak_buf{kUntouched, 1, 1};
    g.rc = filmo_http_get(url, lines, &body, &len, want_headers ? &g.headers : nullptr, &g.status,
                          err, sizeof err);
    g.err = err;
    g.body_null = body == nullptr;
    if (body != nullptr) {
        g.body.assign(body, len);
        g.body_terminated = body[len] == '\0';
    } else {
        EXPECT_EQ(len, 0u);
    }
    std::free(body);
    if (g.headers.data == kUntouched) g.headers = vornak_buf{};
}

class CatalogueGet : public ::testing::Test {
protected:
    void SetUp() override {
        reset_client();
        st.install();
    }
    void TearDown() override { reset_client(); }
    ScriptedTransport st;
};

TEST_F(CatalogueGet, FillsTheRequestRecord) {
    st.ok("[]");
    Got g;
    get(g);
    ASSERT_EQ(g.rc, 0);
    ASSERT_EQ(st.calls(), 1u);
    const filmo_test::Seen &s = st.seen()[0];
    EXPECT_EQ(s.method, "GET");
    EXPECT_EQ(s.url, "http://127.0.0.1/api/AAA/GetCollectionPopular?language=en-US");
    EXPECT_TRUE(s.headers_null);
    EXPECT_EQ(s.header_count, 0u);
    EXPECT_EQ(s.timeout_ms, 120000);
    EXPECT_EQ(s.connect_timeout_ms, 15000);
    EXPECT_EQ(s.flags, 0);
    EXPECT_EQ(s.recv_timeout_ms, 0);
}

TEST_F(CatalogueGet, SendsAtMostFifteenHeaderLines) {
    struct Case {
        size_t given;
        size_t sent;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{15, 15}, Case{16, 15}, Case{20, 15}}) {
        std::vector<std::string> texts;
        for (size_t i = 0; i < c.given; ++i) texts.push_back("X-Line-" + std::to_string(i) + ": v");
        std::vector<const char *> lines;
        for (const std::string &t : texts) lines.push_back(t.c_str());
        lines.push_back(nullptr);

        st.ok("{}");
        Got g;
        get(g, lines.data());
        ASSERT_EQ(g.rc, 0) << c.given;
        const filmo_test::Seen &s = st.seen().back();
        // An empty list still sends a table, only a null list sends none.
        EXPECT_FALSE(s.headers_null) << c.given;
        EXPECT_EQ(s.header_count, c.sent) << c.given;
        ASSERT_EQ(s.headers.size(), c.sent) << c.given;
        for (size_t i = 0; i < c.sent; ++i) EXPECT_EQ(s.headers[i], texts[i]);
    }
}

TEST_F(CatalogueGet, AnyStatusIsAnAnswerWithItsBodyAndHeaders) {
    Answer a;
    a.status = 500;
    a.body = "{\"error\":1}";
    a.headers = {{"ContentHash", "77"}, {"X-Empty", ""}};
    st.push(a);
    Got g;
    get(g);
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(g.status, 500);
    EXPECT_EQ(filmo_last_http_code(), 500);
    EXPECT_FALSE(g.body_null);
    EXPECT_EQ(g.body, "{\"error\":1}");
    EXPECT_TRUE(g.body_terminated);
    ASSERT_NE(g.header("contenthash"), nullptr);
    EXPECT_STREQ(g.header("contenthash"), "77");
    EXPECT_STREQ(g.header("X-Empty"), "");
    EXPECT_EQ(g.header(":status"), nullptr);
}

TEST_F(CatalogueGet, AnswerWithoutBodyGivesNoBody) {
    st.ok("", 204);
    Got g;
    get(g);
    ASSERT_EQ(g.rc, 0);
    EXPECT_TRUE(g.body_null);
    EXPECT_EQ(filmo_last_http_code(), 204);
}

TEST_F(CatalogueGet, WithoutHeaderBlockTheHeadersGoWithTheCollector) {
    Answer a;
    a.body = "[1]";
    a.headers = {{"ContentHash", "5"}};
    st.push(a);
    Got g;
    get(g, nullptr, /*want_headers=*/false);
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(g.body, "[1]");
}

TEST_F(CatalogueGet, TransportFailures) {
    struct Case {
        int32_t rc;
        const char *text;
        int32_t result;
        const char *err;
        int freed;
    };
    const Case cases[] = {
        {-1, "connection refused", -1, "transport: connection refused", 1},
        {-1, nullptr, -1, "transport failure", 0},
        {-7, nullptr, -1, "transport failure", 0},
        // A text that comes with an answer is given back too.
        {0, "note", 0, "", 1},
    };
    for (const Case &c : cases) {
        ScriptedTransport t;
        t.install();
        Answer a;
        a.rc = c.rc;
        a.err = c.text;
        a.body = "[]";
        t.push(a);
        g_client.last_http_code = 123;
        Got g;
        get(g);
        EXPECT_EQ(g.rc, c.result) << c.err;
        EXPECT_EQ(g.err, c.err);
        EXPECT_EQ(t.errors_freed(), c.freed) << c.err;
        if (c.result != 0) {
            EXPECT_TRUE(g.body_null);
            EXPECT_EQ(g.headers.data, nullptr) << "header block written on failure";
            EXPECT_EQ(filmo_last_http_code(), 0);  // the status the transport had: none
        }
    }
}

TEST_F(CatalogueGet, BodyBoundOf32Mb) {
    // Delivered in 1 MB chunks, as a network transport would.
    Answer exact;
    exact.body.assign(kBound, 'x');
    exact.chunk = 1048576;
    Answer over = exact;
    over.body.push_back('y');
    over.err = "ignored";

    st.push(std::move(exact));
    {
        Got g;
        get(g);
        ASSERT_EQ(g.rc, 0) << g.err;
        EXPECT_EQ(g.body.size(), kBound);
        EXPECT_TRUE(g.body_terminated);
    }
    st.push(std::move(over));
    {
        Got g;
        get(g);
        EXPECT_EQ(g.rc, -1);
        EXPECT_EQ(g.err, "body exceeds 32 MB bound");
        EXPECT_TRUE(g.body_null);
        EXPECT_EQ(g.headers.data, nullptr);
        EXPECT_EQ(filmo_last_http_code(), 200);  // recorded on failure too
        EXPECT_EQ(st.errors_freed(), 1);
    }
}

// A transport that ignores the sinks' request to stop and then reports what it was told to.
struct StubbornTransport {
    vornak_http http{};
    vornak_io_ctx ctx{};
    vornak_io io{};
    int32_t rc = 0;
    size_t chunks = 0;
    size_t chunk_size = 0;
    int freed = 0;

    StubbornTransport() {
        http.size = sizeof http;
        http.version = 1;
        http.user_data = this;
        http.request = [](void *self, const vornak_http_request *req, int32_t *status,
                          char **err) -> int32_t {
            auto *t = static_cast<StubbornTransport *>(self);
            *status = 200;
            *err = strdup("stubborn");
            req->on_header(req->sink_ctx, ":status", "200");
            const std::string piece(t->chunk_size, 'z');
            for (size_t i = 0; i < t->chunks; ++i)
                req->on_body(req->sink_ctx, piece.data(), piece.size());
            return t->rc;
        };
        http.free_buf = [](void *self, char *text) {
            ++static_cast<StubbornTransport *>(self)->freed;
            std::free(text);
        };
        ctx.tag = VORNAK_IO_TAG;
        ctx.size = sizeof ctx;
        ctx.http = &http;
        io.ctx = &ctx;
    }
};

TEST_F(CatalogueGet, BoundHoldsWhateverTheTransportReturns) {
    for (int32_t rc : {0, -1}) {
        StubbornTransport t;
        t.rc = rc;
        t.chunks = 40;  // 40 MB offered after the stop
        t.chunk_size = 1048576;
        ASSERT_EQ(filmo_set_io(&t.io), 0);
        Got g;
        get(g);
        EXPECT_EQ(g.rc, -1) << rc;
        EXPECT_EQ(g.err, "body exceeds 32 MB bound") << rc;
        EXPECT_TRUE(g.body_null);
        EXPECT_EQ(t.freed, 1) << rc;
    }
}

TEST_F(CatalogueGet, HeaderTableOutOfMemory) {
    const char *lines[] = {"MD5HomePage: 1", nullptr};
    st.ok("[]");
    vornak_alloc_fail_after(0);
    Got g;
    get(g, lines);
    vornak_alloc_fail_after(-1);
    EXPECT_EQ(g.rc, -1);
    EXPECT_EQ(g.err, "oom: header table");
    EXPECT_EQ(st.calls(), 0u);  // no exchange takes place
    EXPECT_EQ(filmo_last_http_code(), 0);
}

// Every allocation of the exchange fails in turn: the header table, the header block, the body.
// A cut answer is never handed out as a whole one.
TEST_F(CatalogueGet, OutOfMemoryAtEveryStep) {
    const char *lines[] = {"Accept: application/json", nullptr};
    const std::string body(5000, 'b');
    for (long n = 0;; ++n) {
        ASSERT_LT(n, 50) << "never succeeded";
        Answer a;
        a.body = body;
        a.chunk = 1000;
        a.headers = {{"ContentHash", "1"}, {"ContentSize", "5000"}};
        st.push(a);
        vornak_alloc_fail_after(n);
        Got g;
        get(g, lines);
        const long refused = vornak_alloc_failures();
        vornak_alloc_fail_after(-1);
        if (g.rc == 0) {
            EXPECT_EQ(refused, 0);
            EXPECT_EQ(g.body, body);
            EXPECT_STREQ(g.header("ContentSize"), "5000");
            EXPECT_GE(n, 3);
            break;
        }
        EXPECT_TRUE(g.err == "oom: header table" || g.err == "oom: response") << n << g.err;
        EXPECT_TRUE(g.body_null) << n;
        EXPECT_EQ(g.headers.data, nullptr) << n;
    }
}

}  // namespace
