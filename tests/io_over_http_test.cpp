// The io-over-HTTP adapter: the one handle and its re-pointing, get and post over the in-memory
// fake, refused transports and content types, bodies as texts, and exhausted memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filmo_internal.h"
#include "test_support.h"
#include "vornak_alloc.h"
#include "vornak_http.h"

namespace {

// What one get or post handed out.
struct Result {
    int32_t rc = 0;
    int32_t status = -9;
    bool has_body = false;
    std::string body;
    bool has_err = false;
    std::string err;
};

Result finish(const vornak_io *io, int32_t rc, int32_t status, char *body, char *err) {
    Result r;
    r.rc = rc;
    r.status = status;
    if (body) {
        r.has_body = true;
        r.body = body;
        io->free_buf(io->ctx, body);
    }
    if (err) {
        r.has_err = true;
        r.err = err;
        io->free_buf(io->ctx, err);
    }
    return r;
}

Result get(const vornak_io *io, const char *url) {
    char *body = nullptr, *err = nullptr;
    int32_t status = -9;
    int32_t rc = io->get(io->ctx, url, &body, &status, &err);
    return finish(io, rc, status, body, err);
}

Result post(const vornak_io *io, const char *url, const char *text, const char *type) {
    char *body = nullptr, *err = nullptr;
    int32_t status = -9;
    int32_t rc = io->post(io->ctx, url, text, type, &body, &status, &err);
    return finish(io, rc, status, body, err);
}

// The "headers" member of the fake's description of the last request, and its "body_len".
std::string last_request_tail() {
    const char *d = vornak_fake_last_request();
    if (!d) return "";
    const char *h = std::strstr(d, "\"headers\"");
    return h ? h : "";
}

class IoOverHttp : public ::testing::Test {
protected:
    void SetUp() override {
        filmo_test::reset_client();
        vornak_fake_reset();
        io = vornak_io_over_http(vornak_http_fake(), nullptr);
        ASSERT_NE(io, nullptr);
    }
    void TearDown() override {
        vornak_alloc_fail_after(-1);
        vornak_fake_reset();
        filmo_test::reset_client();
    }
    vornak_io *io = nullptr;
};

TEST_F(IoOverHttp, OneHandleRePointedAtTheLastTransport) {
    filmo_test::ScriptedTransport host;
    host.ok("from host");
    int marker_a = 0, marker_b = 0;
    vornak_io *first = vornak_io_over_http(host.http(), &marker_a);
    ASSERT_EQ(first, io);
    EXPECT_EQ(first->ctx->tag, VORNAK_IO_TAG);
    EXPECT_EQ(first->ctx->size, 24u);
    EXPECT_EQ(first->ctx->http, host.http());
    EXPECT_EQ(first->ctx->user, &marker_a);
    EXPECT_EQ(get(first, "/x").body, "from host");
    EXPECT_EQ(host.calls(), 1u);

    ASSERT_EQ(vornak_fake_set("GET", "/x", 200, nullptr, "from fake", 9), 0);
    vornak_io *second = vornak_io_over_http(vornak_http_fake(), &marker_b);
    EXPECT_EQ(second, first);
    EXPECT_EQ(first->ctx->user, &marker_b);
    EXPECT_EQ(get(first, "/x").body, "from fake");  // the first holder follows too
    EXPECT_EQ(host.calls(), 1u);

    // A missing transport gives no handle and leaves the handle as it was.
    EXPECT_EQ(vornak_io_over_http(nullptr, &marker_a), nullptr);
    EXPECT_EQ(first->ctx->http, vornak_http_fake());
    EXPECT_EQ(first->ctx->user, &marker_b);
    EXPECT_EQ(vornak_http_of(first), vornak_http_fake());
}

TEST_F(IoOverHttp, ClientInstallsTheHandlesTransport) {
    EXPECT_EQ(filmo_set_io(io), 0);
    EXPECT_EQ(g_client.transport, vornak_http_fake());
    EXPECT_EQ(g_client.has_transport, 1);
}

TEST_F(IoOverHttp, UnusableTransportRefusedOnEveryCall) {
    struct Case {
        const char *name;
        void (*spoil)(vornak_http *);
    } cases[] = {
        {"version 2", [](vornak_http *h) { h->version = 2; }},
        {"size 31", [](vornak_http *h) { h->size = 31; }},
        {"no request", [](vornak_http *h) { h->request = nullptr; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vornak_http bad = *vornak_http_fake();
        c.spoil(&bad);
        ASSERT_EQ(vornak_io_over_http(&bad, nullptr), io);
        char *body = reinterpret_cast<char *>(&bad);  // must stay untouched
        int32_t status = 42;
        char *err = nullptr;
        EXPECT_EQ(io->get(io->ctx, "/x", &body, &status, &err), -1);
        EXPECT_EQ(body, reinterpret_cast<char *>(&bad));
        EXPECT_EQ(status, 42);
        ASSERT_NE(err, nullptr);
        EXPECT_STREQ(err, "io_over_http: no transport installed");
        io->free_buf(io->ctx, err);
        Result r = post(io, "/x", "a=1", nullptr);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.err, "io_over_http: no transport installed");
        EXPECT_EQ(r.status, -9);

        EXPECT_EQ(filmo_set_io(io), 1);
        EXPECT_EQ(g_client.transport, nullptr);
    }
    ASSERT_EQ(vornak_io_over_http(vornak_http_fake(), nullptr), io);  // off the spoilt record
    // A context that fails the checks is refused the same way.
    vornak_io_ctx ctx = *io->ctx;
    ctx.tag = 0;
    char *err = nullptr;
    EXPECT_EQ(io->get(&ctx, "/x", nullptr, nullptr, &err), -1);
    EXPECT_STREQ(err, "io_over_http: no transport installed");
    io->free_buf(nullptr, err);
    EXPECT_EQ(io->get(nullptr, "/x", nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(vornak_fake_calls(nullptr, nullptr), 0);
}

TEST_F(IoOverHttp, GetHandsOutAnyStatusWithItsBody) {
    ASSERT_EQ(vornak_fake_set("GET", "/missing", 404, "X: y\n", "not here", 8), 0);
    ASSERT_EQ(vornak_fake_set("GET", "/empty", 204, nullptr, nullptr, 0), 0);
    ASSERT_EQ(vornak_fake_set("GET", "/nul", 200, nullptr, "ab\0cd", 5), 0);
    Result r = get(io, "/missing");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "not here");
    EXPECT_FALSE(r.has_err);

    r = get(io, "/empty");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.status, 204);
    EXPECT_TRUE(r.has_body);  // an empty text, never none
    EXPECT_EQ(r.body, "");
    r = get(io, "/unregistered");
    EXPECT_EQ(r.status, 404);
    EXPECT_TRUE(r.has_body);

    // Bytes after a 0 are handed out too, though a reader of the text stops at the 0.
    char *body = nullptr, *err = nullptr;
    int32_t status = 0;
    ASSERT_EQ(io->get(io->ctx, "/nul", &body, &status, &err), 0);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(std::strlen(body), 2u);
    EXPECT_EQ(std::memcmp(body, "ab\0cd\0", 6), 0);
    io->free_buf(io->ctx, body);

    EXPECT_STREQ(vornak_fake_last_request(),
                 "{\"method\":\"GET\",\"url\":\"/nul\",\"headers\":[],\"body_len\":0,"
                 "\"credentials\":false}");
}

TEST_F(IoOverHttp, TransportFailurePassesThrough) {
    ASSERT_EQ(vornak_fake_fail("GET", "/down", "fake: reset by peer"), 0);
    ASSERT_EQ(vornak_fake_fail("POST", "/down", nullptr), 0);
    Result r = get(io, "/down");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.has_body);
    EXPECT_EQ(r.err, "fake: reset by peer");
    r = post(io, "/down", "x", nullptr);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, "fake: transport failure");
    // A refused request reaches the caller as the transport said it.
    r = get(io, nullptr);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, "fake: bad request");
}

TEST_F(IoOverHttp, PostSendsItsBodyWithAContentType) {
    ASSERT_EQ(vornak_fake_set("POST", "/p", 201, nullptr, "created", 7), 0);
    const std::string longest(241, 't');
    struct Case {
        const char *body;
        const char *type;
        std::string sent;  // the tail of the fake's description of the request
    } cases[] = {
        {"a=1&b=2", nullptr,
         "\"headers\":[\"Content-Type: application/x-www-form-urlencoded\"],\"body_len\":7,"
         "\"credentials\":false}"},
        {"{}", "text/plain; charset=utf-8",
         "\"headers\":[\"Content-Type: text/plain; charset=utf-8\"],\"body_len\":2,"
         "\"credentials\":false}"},
        {nullptr, nullptr,
         "\"headers\":[\"Content-Type: application/x-www-form-urlencoded\"],\"body_len\":0,"
         "\"credentials\":false}"},
        {"", "", "\"headers\":[\"Content-Type: \"],\"body_len\":0,\"credentials\":false}"},
        {"x", longest.c_str(),
         "\"headers\":[\"Content-Type: " + longest + "\"],\"body_len\":1,\"credentials\":false}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type ? c.type : "(no type)");
        Result r = post(io, "/p", c.body, c.type);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.status, 201);
        EXPECT_EQ(r.body, "created");
        EXPECT_EQ(last_request_tail(), c.sent);
    }
    EXPECT_EQ(vornak_fake_writes_sent(), 5);
}

TEST_F(IoOverHttp, BadContentTypeFailsBeforeAnyRequest) {
    const std::string too_long(242, 't');
    for (const char *type : {"text/plain\n", "a\rb", "a\tb", "a\x7f", "\x01", too_long.c_str()}) {
        SCOPED_TRACE(testing::PrintToString(std::string(type)));
        char *body = reinterpret_cast<char *>(&body);
        int32_t status = 42;
        char *err = nullptr;
        EXPECT_EQ(io->post(io->ctx, "/p", "x", type, &body, &status, &err), -1);
        EXPECT_EQ(body, reinterpret_cast<char *>(&body));
        EXPECT_EQ(status, 42);
        EXPECT_STREQ(err, "bad content type");
        io->free_buf(io->ctx, err);
    }
    EXPECT_EQ(vornak_fake_calls(nullptr, nullptr), 0);
}

TEST_F(IoOverHttp, MissingOutsAreTolerated) {
    ASSERT_EQ(vornak_fake_set("GET", "/x", 200, nullptr, "x", 1), 0);
    ASSERT_EQ(vornak_fake_fail("GET", "/down", nullptr), 0);
    EXPECT_EQ(io->get(io->ctx, "/x", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(io->get(io->ctx, "/down", nullptr, nullptr, nullptr), -1);  // text released
    EXPECT_EQ(io->post(io->ctx, "/p", "x", "a\nb", nullptr, nullptr, nullptr), -1);
    io->free_buf(io->ctx, nullptr);
    EXPECT_EQ(vornak_fake_calls(nullptr, nullptr), 2);
}

// ---- exhausted memory --------------------------------------------------------------------------

// A transport that delivers three 100-byte chunks and allocates nothing itself. With
// `heal` set it turns allocation failures off before it returns.
struct Chunky {
    static bool heal;
    static int32_t request(void *, const vornak_http_request *req, int32_t *status,
                           char **err) {
        *status = 0;
        *err = nullptr;
        static const std::string chunk(100, 'c');
        if (req->on_header) req->on_header(req->sink_ctx, ":status", "200");
        for (int i = 0; i < 3 && req->on_body; ++i)
            if (req->on_body(req->sink_ctx, chunk.data(), chunk.size()) != 0) break;
        if (heal) vornak_alloc_fail_after(-1);
        *status = 200;
        return 0;
    }
};
bool Chunky::heal = false;
const vornak_http g_chunky = {sizeof(vornak_http), 1, nullptr, Chunky::request, nullptr};

TEST_F(IoOverHttp, BodyCutByExhaustedMemoryIsAFailure) {
    ASSERT_EQ(vornak_io_over_http(&g_chunky, nullptr), io);
    Chunky::heal = true;
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE(n);
        vornak_alloc_fail_after(n);
        Result r = get(io, "/c");
        vornak_alloc_fail_after(-1);
        if (r.rc == 0) {
            EXPECT_EQ(r.body, std::string(300, 'c'));
            break;
        }
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.status, 200);
        EXPECT_FALSE(r.has_body);
        EXPECT_EQ(r.err, "oom");
        ASSERT_LT(n, 20);
    }
    EXPECT_GT(n, 0);
    Chunky::heal = false;
}

TEST_F(IoOverHttp, ExhaustedMemoryNeverLeaksOrHandsOutPart) {
    for (const vornak_http *h : {&g_chunky, vornak_http_fake()}) {
        ASSERT_EQ(vornak_io_over_http(h, nullptr), io);
        ASSERT_EQ(vornak_fake_set("GET", "/c", 200, "A: 1\n", std::string(300, 'c').data(), 300),
                  0);
        for (long n = 0;; ++n) {
            SCOPED_TRACE(n);
            vornak_alloc_fail_after(n);
            Result r = get(io, "/c");
            vornak_alloc_fail_after(-1);
            ASSERT_LT(n, 40);
            if (r.rc != 0) {
                EXPECT_EQ(r.rc, -1);
                EXPECT_FALSE(r.has_body);
                // The text itself may be what could not be made.
                EXPECT_TRUE(!r.has_err || r.err == "oom");
                continue;
            }
            // The fake answers an empty body when it cannot copy its own.
            ASSERT_TRUE(r.body.empty() || r.body == std::string(300, 'c'));
            if (!r.body.empty()) break;
        }
    }
}

}  // namespace
