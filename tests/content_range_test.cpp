// The byte-range helpers: the Content-Range parser, and the ranged GET driven over the in-memory
// fake transport (206 answers, servers that ignore the range, refused arguments).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "test_support.h"
#include "vornak_alloc.h"
#include "vornak_http.h"

namespace {

TEST(ContentRange, ParsesTheForms) {
    struct Case {
        const char *value;
        int32_t rc;
        int64_t first, last, total;  // as left in the outs, also after a refusal
    } cases[] = {
        {"bytes 0-499/1234", 0, 0, 499, 1234},
        {"bytes 0-499/*", 0, 0, 499, -1},
        {"bytes */1234", 0, -1, -1, 1234},
        {"bytes 0-499", 0, 0, 499, -1},
        {"bytes", 0, -1, -1, -1},
        {"bytes   ", 0, -1, -1, -1},
        {"bytes *", 0, -1, -1, -1},
        {"bytes */*", 0, -1, -1, -1},
        {"bytes 5-*/10", 0, 5, -1, 10},
        {"bytes 5-*", 0, 5, -1, -1},
        {"bytes    7-9/10", 0, 7, 9, 10},
        {"bytes 3-3/3", 0, 3, 3, 3},  // only a total below the first byte is refused
        {"bytes 0-9223372036854775807/*", 0, 0, INT64_MAX, -1},
        {"bytes 0-99999999999999999999/*", 0, 0, INT64_MAX, -1},  // saturates, never wraps
        // refused
        {nullptr, -1, -1, -1, -1},
        {"", -1, -1, -1, -1},
        {"byte", -1, -1, -1, -1},
        {"Bytes 0-5/10", -1, -1, -1, -1},
        {"bytes=0-5", -1, -1, -1, -1},
        {"bytes a-5/10", -1, -1, -1, -1},
        {"bytes -1-5/10", -1, -1, -1, -1},
        {"bytes 0/10", -1, -1, -1, -1},
        {"bytes *x", -1, -1, -1, -1},
        {"bytes *-5/10", -1, -1, -1, -1},
        {"bytes 5-3/10", -1, 5, 3, -1},
        {"bytes 20-30/10", -1, 20, 30, -1},
        {"bytes 0-5/10x", -1, 0, 5, -1},
        {"bytes 0-5x/10", -1, 0, -1, -1},
        {"bytes 0-5 /10", -1, 0, -1, -1},
        {"bytes 0--5/10", -1, 0, -1, -1},
        {"bytes 0-/10", -1, 0, -1, -1},
        {"bytes 0-5/", -1, 0, 5, -1},
        {"bytes 0-5/-10", -1, 0, 5, -1},
        {"bytes 0-5/ ", -1, 0, 5, -1},
        {"bytes 5-*x", -1, 5, -1, -1},
        {"bytes */", -1, -1, -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(null)");
        int64_t first = 77, last = 77, total = 77;
        EXPECT_EQ(vornak_content_range(c.value, &first, &last, &total), c.rc);
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(last, c.last);
        EXPECT_EQ(total, c.total);
    }
}

TEST(ContentRange, OutsMayBeMissing) {
    EXPECT_EQ(vornak_content_range("bytes 0-1/2", nullptr, nullptr, nullptr), 0);
    int64_t total = 0;
    EXPECT_EQ(vornak_content_range("bytes */9", nullptr, nullptr, &total), 0);
    EXPECT_EQ(total, 9);
    EXPECT_EQ(vornak_content_range("bytes 2-1", nullptr, nullptr, nullptr), -1);
}

// ---- the ranged GET ------------------------------------------------------------------------------

std::string resource(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + i % 23);
    return s;
}

class HttpRange : public ::testing::Test {
protected:
    void SetUp() override {
        filmo_test::reset_client();
        vornak_fake_reset();
        vornak_collect_init(&c, 0);
    }
    void TearDown() override {
        vornak_collect_free(&c);
        vornak_alloc_fail_after(-1);
        vornak_fake_reset();
    }

    // A ranged GET over the fake; any error text is kept and released.
    int32_t get(const char *url, int64_t first, int64_t last) {
        const vornak_http *h = vornak_http_fake();
        char *e = nullptr;
        int32_t rc = vornak_http_range(h, url, first, last, &c, &status, &e);
        err = e ? e : "";
        if (e) h->free_buf(h->user_data, e);
        return rc;
    }
    std::string body() const { return std::string(c.body.data ? c.body.data : "", c.body.len); }
    // The body is still a text: a 0 follows its last byte.
    bool terminated() const { return c.body.data && c.body.data[c.body.len] == '\0'; }

    const std::string file = resource(1000);
    vornak_collect c;
    int32_t status = -7;
    std::string err;
};

TEST_F(HttpRange, PartialAnswerStaysAsItCame) {
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 1), 0);
    ASSERT_EQ(get("/f", 100, 199), 0);
    EXPECT_EQ(status, 206);
    EXPECT_EQ(c.status, 206);
    EXPECT_EQ(body(), file.substr(100, 100));
    EXPECT_STREQ(vornak_hdrs_get(&c.headers, "Content-Range"), "bytes 100-199/1000");
    EXPECT_STREQ(vornak_fake_last_request(),
                 "{\"method\":\"GET\",\"url\":\"/f\",\"headers\":[\"Range: bytes=100-199\"],"
                 "\"body_len\":0,\"credentials\":false}");
    // A partial answer that reaches past the end is the server's affair, left as it came.
    vornak_collect_free(&c);
    ASSERT_EQ(get("/f", 900, 5000), 0);
    EXPECT_EQ(status, 206);
    EXPECT_EQ(body(), file.substr(900));
}

TEST_F(HttpRange, WholeAnswerIsShiftedPastTheFirstByte) {
    struct Case {
        size_t size;  // of the resource the server sends whole
        int64_t first, last;
        std::string expected;
    } cases[] = {
        {1000, 100, 199, file.substr(100)},  // the end of the range is not applied
        {1000, 999, 999, file.substr(999)},
        {1000, 0, 99, file},
        {1000, 1000, 2000, file},  // not longer than the first byte: unchanged
        {1000, INT64_MAX, INT64_MAX, file},
        {50, 100, 199, file.substr(0, 50)},
        {100, 100, 199, file.substr(0, 100)},
        {101, 100, 199, file.substr(100, 1)},
        {0, 5, 10, ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << k.size << " bytes, " << k.first << "-" << k.last);
        vornak_collect_free(&c);
        ASSERT_EQ(vornak_fake_set("GET", "/w", 200, nullptr, file.data(), k.size), 0);
        ASSERT_EQ(get("/w", k.first, k.last), 0);
        EXPECT_EQ(status, 200);
        EXPECT_EQ(body(), k.expected);
        if (k.size) {
            EXPECT_TRUE(terminated());
        }
    }
}

TEST_F(HttpRange, ShiftAppliesToWhatTheCollectorKept) {
    // The collector's bound cuts the whole answer first; the shift works on what is left.
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 0), 0);
    vornak_collect_init(&c, 300);
    ASSERT_EQ(get("/f", 100, 199), 0);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(c.truncated, 1);
    EXPECT_EQ(body(), file.substr(100, 200));
    EXPECT_TRUE(terminated());
}

TEST_F(HttpRange, OtherAnswersPassThrough) {
    ASSERT_EQ(vornak_fake_set("GET", "/gone", 410, "X: y\n", "gone", 4), 0);
    ASSERT_EQ(get("/gone", 1, 2), 0);
    EXPECT_EQ(status, 410);
    EXPECT_EQ(body(), "gone");  // not shifted: only a 200 carries the whole resource
    EXPECT_STREQ(vornak_hdrs_get(&c.headers, "X"), "y");

    vornak_collect_free(&c);
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 2), 0);
    ASSERT_EQ(get("/f", 990, 1010), 0);
    EXPECT_EQ(status, 416);
    EXPECT_EQ(body(), "");

    ASSERT_EQ(vornak_fake_fail("GET", "/down", "fake: no route to host"), 0);
    EXPECT_EQ(get("/down", 0, 9), -1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err, "fake: no route to host");
}

TEST_F(HttpRange, TransportRecordIsNotVetted) {
    // Size and version are the caller's affair here; only a callable record is required.
    vornak_http odd = *vornak_http_fake();
    odd.size = 8;
    odd.version = 2;
    ASSERT_EQ(vornak_fake_file("/f", file.data(), file.size(), 1), 0);
    int32_t st = 0;
    char *e = nullptr;
    EXPECT_EQ(vornak_http_range(&odd, "/f", 0, 9, &c, &st, &e), 0);
    EXPECT_EQ(st, 206);
    EXPECT_EQ(e, nullptr);
}

TEST_F(HttpRange, BadArgumentsMakeNoRequest) {
    vornak_http no_request = *vornak_http_fake();
    no_request.request = nullptr;
    const vornak_http *fake = vornak_http_fake();
    struct Case {
        const char *name;
        const vornak_http *http;
        const char *url;
        int64_t first, last;
        bool collector;
    } cases[] = {
        {"no transport", nullptr, "/f", 0, 9, true},
        {"no request callback", &no_request, "/f", 0, 9, true},
        {"no url", fake, nullptr, 0, 9, true},
        {"no collector", fake, "/f", 0, 9, false},
        {"negative first", fake, "/f", -1, 9, true},
        {"first beyond last", fake, "/f", 10, 5, true},
        {"both negative", fake, "/f", -5, -1, true},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        int32_t st = 55;
        char *e = nullptr;
        EXPECT_EQ(vornak_http_range(k.http, k.url, k.first, k.last, k.collector ? &c : nullptr,
                                    &st, &e),
                  -1);
        EXPECT_EQ(st, 55);
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e, "bad range args");
        fake->free_buf(nullptr, e);
        // Without an error out, or without memory for the text, it fails all the same.
        EXPECT_EQ(vornak_http_range(k.http, k.url, k.first, k.last, k.collector ? &c : nullptr,
                                    nullptr, nullptr),
                  -1);
        vornak_alloc_fail_after(0);
        e = nullptr;
        EXPECT_EQ(vornak_http_range(k.http, k.url, k.first, k.last, k.collector ? &c : nullptr,
                                    &st, &e),
                  -1);
        vornak_alloc_fail_after(-1);
        EXPECT_EQ(e, nullptr);
    }
    EXPECT_EQ(vornak_fake_calls(nullptr, nullptr), 0);
    EXPECT_EQ(c.body.len, 0u);
}

TEST_F(HttpRange, MissingOutsAreTolerated) {
    ASSERT_EQ(vornak_fake_set("GET", "/w", 200, nullptr, file.data(), file.size()), 0);
    ASSERT_EQ(vornak_fake_fail("GET", "/down", nullptr), 0);
    const vornak_http *h = vornak_http_fake();
    EXPECT_EQ(vornak_http_range(h, "/w", 10, 19, &c, nullptr, nullptr), 0);
    EXPECT_EQ(body(), file.substr(10));  // the 200 is seen without the caller's status out
    EXPECT_EQ(vornak_http_range(h, "/down", 0, 1, &c, nullptr, nullptr), -1);  // text released
}

}  // namespace
