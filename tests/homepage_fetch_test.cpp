// The home page fetch: request, content-hash exchange, failure exits, cache, host JSON and
// running out of memory, all through a scripted host transport.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "home_pages.h"
#include "test_support.h"

using filmo_test::Answer;
using filmo_test::ManualClock;
using filmo_test::ScriptedTransport;
using filmo_test::reset_client;
using filmo_test::zlib_compress;

namespace {

const char k_base[] = "http://127.0.0.1:9";

Answer zpage(const std::string &json,
             std::vector<std::pair<std::string, std::string>> headers = {}) {
    Answer a;
    a.body = zlib_compress(json);
    a.headers = std::move(headers);
    return a;
}

Answer raw(std::string body, int32_t status = 200,
           std::vector<std::pair<std::string, std::string>> headers = {}) {
    Answer a;
    a.status = status;
    a.body = std::move(body);
    a.headers = std::move(headers);
    return a;
}

int64_t hash_of(const std::string &s) { return filmo_stable_hash(s.data(), s.size()); }

class HomeFetch : public ::testing::Test {
protected:
    void SetUp() override {
        reset_client();
        filmo_set_host(k_base);
        net.install();
    }
    void TearDown() override { reset_client(); }

    // A page held before the operation under test, which must come out untouched.
    void hold_old() {
        ASSERT_EQ(0, filmo_parse_homepage_json(k_old_home, std::strlen(k_old_home)));
        old_fetched_at = g_client.home_fetched_at;
    }
    void expect_old_intact() {
        EXPECT_EQ(1, g_client.home_valid);
        EXPECT_STREQ(k_old_home, filmo_home_json());
        EXPECT_EQ(hash_of(k_old_home), filmo_homepage_hash());
        EXPECT_STREQ("Old", filmo_home_basic_title(0));
        EXPECT_EQ(1, filmo_home_basics_count());
        EXPECT_EQ("home|parsed|" + std::to_string(std::strlen(k_old_home)),
                  std::string(g_client.home_key));
        EXPECT_EQ(old_fetched_at, g_client.home_fetched_at);
    }

    ScriptedTransport net;
    int64_t old_fetched_at = 0;
};

// ---- the request -------------------------------------------------------------------------

struct UrlCase {
    const char *user;
    int32_t profile;
    const char *language;
    uint32_t flags;
    const char *query;  // after "/api/AAA/GetHomePage?"
    const char *key;
};

const UrlCase k_url_cases[] = {
    {"u 1&x", 3, "fr-FR", 0, "userId=u%201%26x&profileId=3&language=fr-FR&zip=true&version=2",
     "home|u 1&x|3"},
    {nullptr, 5, nullptr, 0, "userId=&profileId=0&language=en-US&zip=true&version=2",
     "home||0"},
    {"", -1, "", FILMO_HOME_VERSION_1,
     "userId=&profileId=0&language=en-US&zip=true&version=1", "home||0"},
    {"u", 0, "de de", FILMO_HOME_UPDATE,
     "userId=u&profileId=0&language=de%20de&zip=true&version=2&update=true&read=true", "home|u|0"},
    {"u", 2147483647, "de", FILMO_HOME_UPDATE | FILMO_HOME_VERSION_1 | 0xF0u,
     "userId=u&profileId=2147483647&language=de&zip=true&version=1&update=true&read=true",
     "home|u|2147483647"},
};

TEST_F(HomeFetch, SendsUrlWithEncodedValuesAndFlagsAndKeysTheResult) {
    for (const UrlCase &c : k_url_cases) {
        SCOPED_TRACE(c.query);
        filmo_cache_clear();
        net.push(zpage("{}"));
        size_t before = net.calls();
        ASSERT_EQ(0, filmo_get_homepage(c.user, c.profile, c.language, c.flags));
        ASSERT_EQ(before + 1, net.calls());
        const auto &seen = net.seen().back();
        EXPECT_EQ("GET", seen.method);
        EXPECT_EQ(std::string(k_base) + "/api/AAA/GetHomePage?" + c.query, seen.url);
        EXPECT_TRUE(seen.headers_null);  // no known hash: no header table at all
        EXPECT_STREQ(c.key, g_client.home_key);
        EXPECT_STREQ("", filmo_last_error());
        EXPECT_EQ(200, filmo_last_http_code());
    }
}

TEST_F(HomeFetch, KnownHashTravelsAsDecimalHeaderOnlyWhenPositive) {
    struct {
        int64_t set;
        int64_t stored;
        const char *line;  // null: no header
    } cases[] = {
        {12345, 12345, "MD5HomePage: 12345"},
        {-5, 0, nullptr},
        {0, 0, nullptr},
        {INT64_MAX, INT64_MAX, "MD5HomePage: 9223372036854775807"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.set);
        filmo_set_homepage_hash(c.set);
        EXPECT_EQ(c.stored, g_client.homepage_hash);
        net.push(zpage("{}"));
        ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE));
        const auto &seen = net.seen().back();
        if (c.line) {
            ASSERT_EQ(1u, seen.header_count);
            EXPECT_EQ(c.line, seen.headers.at(0));
        } else {
            EXPECT_TRUE(seen.headers_null);
        }
    }
    // Neither a fetch nor retaining a page changes the host's known hash.
    EXPECT_EQ(INT64_MAX, g_client.homepage_hash);
}

TEST_F(HomeFetch, LongUserIdAndLanguageMakeAWholeUrl) {
    std::string user(3000, 'x');
    user += "\xC3\xA9";  // é, three characters per byte once encoded
    std::string lang(400, 'l');
    net.push(zpage("{}"));
    ASSERT_EQ(0, filmo_get_homepage(user.c_str(), 7, lang.c_str(), 0));
    std::string expect = std::string(k_base) + "/api/AAA/GetHomePage?userId=" +
                         std::string(3000, 'x') + "%C3%A9&profileId=7&language=" + lang +
                         "&zip=true&version=2";
    EXPECT_EQ(expect, net.seen().back().url);
    // The key is cut at 159 bytes, as is the candidate key, so the page answers again.
    EXPECT_EQ(159u, std::strlen(g_client.home_key));
    EXPECT_EQ(0, filmo_get_homepage(user.c_str(), 7, lang.c_str(), 0));
    EXPECT_EQ(1u, net.calls());
}

// ---- what a successful answer leaves -----------------------------------------------------

TEST_F(HomeFetch, RetainsInflatedTextHashIndexAndContentHash) {
    std::string page = k_rich_home;
    net.push(zpage(page, {{"ContentHash", "424242"}}));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(424242, filmo_last_content_hash());
    EXPECT_EQ(page, filmo_home_json());
    EXPECT_EQ(page.size(), g_client.home_json_len);
    EXPECT_EQ(hash_of(page), filmo_homepage_hash());
    EXPECT_GT(filmo_homepage_hash(), 0);
    EXPECT_EQ(3, filmo_home_basics_count());
    EXPECT_STREQ("u-1", filmo_home_user_id());
    EXPECT_EQ(FILMO_TTL_HOME, g_client.home_ttl);
}

TEST_F(HomeFetch, ContentHashIsParsedLikeStrtollWithSaturation) {
    struct {
        std::vector<std::pair<std::string, std::string>> headers;
        int64_t expect;
    } cases[] = {
        {{}, -1},
        {{{"ContentHash", ""}}, -1},
        {{{"ContentHash", "  -12abc"}}, -12},
        {{{"ContentHash", "+5"}}, 5},
        {{{"ContentHash", "abc"}}, 0},
        {{{"contenthash", "77"}}, 77},
        {{{"ContentHash", "99999999999999999999"}}, INT64_MAX},
        {{{"ContentHash", "-99999999999999999999"}}, INT64_MIN},
        {{{"X-Other", "1"}, {"ContentHash", "9223372036854775807"}}, INT64_MAX},
    };
    for (const auto &c : cases) {
        net.push(zpage("{}", c.headers));
        ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE));
        EXPECT_EQ(c.expect, filmo_last_content_hash());
    }
}

// ---- every exit of the failure table -----------------------------------------------------

struct FailCase {
    const char *name;
    Answer answer;
    int32_t status;
    const char *message;
    int64_t content_hash;
    int32_t http_code;
};

std::string truncated_stream() {
    std::string z = zlib_compress(k_rich_home);
    return z.substr(0, z.size() - 4);  // Adler-32 trailer gone
}
std::string flipped_trailer() {
    std::string z = zlib_compress(k_rich_home);
    z.back() = static_cast<char>(z.back() ^ 0x01);
    return z;
}
std::string nested_array_page() {
    // Deep nesting is valid JSON, but the root is no object. Numbers keep the stream below the
    // inflate's ratio guard.
    std::string s;
    for (int i = 0; i < 20000; ++i) s += "[" + std::to_string(i) + ",";
    return s + "0" + std::string(20000, ']');
}

std::vector<FailCase> fail_cases() {
    Answer no_text;
    no_text.rc = -1;
    Answer with_text;
    with_text.rc = -1;
    with_text.err = "connection reset";
    return {
        {"transport_text", with_text, 1, "transport: transport: connection reset", -1, 0},
        {"transport_no_text", no_text, 1, "transport: transport failure", -1, 0},
        {"not_found_keeps_hash", raw("x", 404, {{"ContentHash", "77"}}), 5, "HTTP 404", 77, 404},
        {"no_content", raw("", 204), 2, "HTTP 204", -1, 204},
        {"server_error", raw(zlib_compress("{}"), 500), 2, "HTTP 500", -1, 500},
        {"redirect", raw("", 302, {{"ContentHash", "5"}}), 2, "HTTP 302", 5, 302},
        {"unchanged", raw("\xFF", 200, {{"ContentHash", "42"}}), 9,
         "server: homepage unchanged (1-byte 0xFF)", 42, 200},
        {"unchanged_any_byte", raw("x"), 9, "server: homepage unchanged (1-byte 0xFF)", -1, 200},
        {"empty_body", raw(""), 3, "zlib: empty input", -1, 200},
        {"not_zlib", raw("{\"plain\": true}"), 3, "zlib: corrupt stream (-3)", -1, 200},
        {"gzip", raw(std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8) + "junkjunk"), 3,
         "zlib: corrupt stream (-3)", -1, 200},
        {"truncated", raw(truncated_stream()), 3, "zlib: truncated stream", -1, 200},
        {"bad_trailer", raw(flipped_trailer()), 3, "zlib: corrupt stream (-3)", -1, 200},
        {"bomb", raw(zlib_compress(std::string(4 << 20, ' '), 9)), 3,
         "zlib: ratio above 64:1 (bomb guard)", -1, 200},
        {"not_json", zpage("{\"a\": }"), 3, "homepage: invalid JSON after inflate", -1, 200},
        {"trailing_garbage", zpage("{} {}"), 3, "homepage: invalid JSON after inflate", -1, 200},
        {"json_extension", zpage("{\"a\": 1,}"), 3, "homepage: invalid JSON after inflate", -1,
         200},
        {"bad_utf8", zpage("{\"a\": \"\xC3\x28\"}"), 3, "homepage: invalid JSON after inflate",
         -1, 200},
        {"array_root", zpage("[]"), 3, "homepage: root is not a JSON object", -1, 200},
        {"null_root", zpage("null"), 3, "homepage: root is not a JSON object", -1, 200},
        {"string_root", zpage("\"{}\""), 3, "homepage: root is not a JSON object", -1, 200},
        {"deep_array_root", zpage(nested_array_page()), 3, "homepage: root is not a JSON object",
         -1, 200},
    };
}

void PrintTo(const FailCase &c, std::ostream *os) { *os << c.name; }

class HomeFetchFails : public HomeFetch, public ::testing::WithParamInterface<FailCase> {};

TEST_P(HomeFetchFails, ReportsStatusAndMessageAndKeepsTheHeldPage) {
    const FailCase &c = GetParam();
    hold_old();
    net.push(c.answer);
    EXPECT_EQ(c.status, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_STREQ(c.message, filmo_last_error());
    EXPECT_EQ(c.content_hash, filmo_last_content_hash());
    EXPECT_EQ(c.http_code, filmo_last_http_code());
    EXPECT_EQ(1u, net.calls());
    expect_old_intact();
}

INSTANTIATE_TEST_SUITE_P(Exits, HomeFetchFails, ::testing::ValuesIn(fail_cases()),
                         [](const ::testing::TestParamInfo<FailCase> &i) {
                             return std::string(i.param.name);
                         });

TEST_F(HomeFetch, NoTransportOrNegativeProfileFailBeforeAnyRequest) {
    hold_old();
    EXPECT_EQ(6, filmo_get_homepage("u", -1, "en", 0));
    EXPECT_STREQ("profileId must be >= 0", filmo_last_error());
    EXPECT_EQ(0u, net.calls());
    // Called directly, an anonymous request is profile 0 too, so -1 is no error there.
    net.push(zpage("{}"));
    EXPECT_EQ(0, filmo_home_fetch(nullptr, -1, nullptr, 0));
    EXPECT_STREQ("home||0", g_client.home_key);

    hold_old();
    filmo_set_io(nullptr);
    EXPECT_EQ(7, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_STREQ(FILMO_MSG_NO_TRANSPORT, filmo_last_error());
    EXPECT_EQ(-1, filmo_last_content_hash());
    expect_old_intact();
}

TEST_F(HomeFetch, UnchangedAnswerLeavesSlotKeyAndFetchTimeAlone) {
    ManualClock clock(1000);
    net.push(zpage(k_rich_home));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    std::string key = g_client.home_key;
    const char *title = filmo_home_basic_title(0);
    clock.now = 5000;  // expired
    filmo_set_homepage_hash(filmo_homepage_hash());
    net.push(raw("\xFF"));
    EXPECT_EQ(9, filmo_get_homepage("other", 2, "en", 0));
    EXPECT_EQ(std::to_string(filmo_homepage_hash()), net.seen().back().headers.at(0).substr(13));
    EXPECT_EQ(key, g_client.home_key);
    EXPECT_EQ(1000, g_client.home_fetched_at);
    EXPECT_EQ(title, filmo_home_basic_title(0));  // same document, same text
}

// ---- cache -------------------------------------------------------------------------------

TEST_F(HomeFetch, FreshPageAnswersSameUserAndProfileWithoutTransport) {
    ManualClock clock(10000);
    net.push(zpage(k_rich_home, {{"ContentHash", "9"}}));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    const char *title = filmo_home_basic_title(0);

    // Leave an error and a status behind, then hit: the prologue and the hit clear them.
    net.push(raw("", 500));
    EXPECT_EQ(2, filmo_get_homepage("v", 1, "en", 0));
    filmo_set_io(nullptr);
    struct {
        const char *language;
        uint32_t flags;
    } hits[] = {{"en", 0}, {"fr", 0}, {nullptr, FILMO_HOME_VERSION_1}, {"de", 0xFFFFFFFEu}};
    for (const auto &h : hits) {
        EXPECT_EQ(0, filmo_get_homepage("u", 1, h.language, h.flags));
        EXPECT_STREQ("", filmo_last_error());
        EXPECT_EQ(0, filmo_last_http_code());
        EXPECT_EQ(-1, filmo_last_content_hash());
    }
    EXPECT_EQ(title, filmo_home_basic_title(0));  // texts stay valid across hits
    EXPECT_EQ(2u, net.calls());

    // Another profile, or the update flag, needs the server.
    EXPECT_EQ(7, filmo_get_homepage("u", 2, "en", 0));
    EXPECT_EQ(7, filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE));
    EXPECT_STREQ("Alpha", filmo_home_basic_title(0));
}

TEST_F(HomeFetch, UpdateFlagBypassesTheSlotEveryTime) {
    for (int i = 0; i < 2; ++i) {
        net.push(zpage("{}"));
        ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE));
    }
    EXPECT_EQ(2u, net.calls());
    EXPECT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(2u, net.calls());
}

TEST_F(HomeFetch, AnonymousRequestsShareProfileZero) {
    net.push(zpage("{}"));
    ASSERT_EQ(0, filmo_get_homepage("", 5, "en", 0));
    EXPECT_STREQ("home||0", g_client.home_key);
    EXPECT_EQ(0, filmo_get_homepage(nullptr, 9, "fr", 0));
    EXPECT_EQ(0, filmo_get_homepage("", -3, nullptr, 0));
    EXPECT_EQ(1u, net.calls());
}

TEST_F(HomeFetch, ExpiredPageIsFetchedAgainAndStaysReadableUntilReplaced) {
    ManualClock clock(100000);
    net.push(zpage(k_old_home));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    clock.now += FILMO_TTL_HOME;  // exactly ttl old: still fresh
    EXPECT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(1u, net.calls());

    clock.now += 1;
    net.push(raw("", 503));
    EXPECT_EQ(2, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(2u, net.calls());
    EXPECT_STREQ("Old", filmo_home_basic_title(0));
    EXPECT_EQ(100000, g_client.home_fetched_at);

    net.push(zpage(k_rich_home));
    EXPECT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_STREQ("Alpha", filmo_home_basic_title(0));
    EXPECT_EQ(clock.now, g_client.home_fetched_at);
}

TEST_F(HomeFetch, HostTimeToLiveSurvivesTheFirstPage) {
    ManualClock clock(5000);
    filmo_cache_set_ttl(30, 0, 0, 0);
    net.push(zpage("{}"));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(30, g_client.home_ttl);
    clock.now += 31;
    net.push(zpage("{}"));
    EXPECT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(2u, net.calls());
}

// ---- the host's own JSON -----------------------------------------------------------------

TEST_F(HomeFetch, ParseInstallsACopyKeyedByLengthWithoutTouchingLastCall) {
    filmo_set_host("http://elsewhere");
    net.push(zpage("{}", {{"ContentHash", "31"}}));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE));

    // Not NUL-terminated: the bytes after the length are not part of the text.
    std::string buf = std::string(k_rich_home) + "garbage";
    size_t len = std::strlen(k_rich_home);
    ASSERT_EQ(0, filmo_parse_homepage_json(buf.data(), len));
    EXPECT_STREQ(k_rich_home, filmo_home_json());
    EXPECT_NE(buf.data(), filmo_home_json());
    EXPECT_EQ(hash_of(k_rich_home), filmo_homepage_hash());
    EXPECT_EQ("home|parsed|" + std::to_string(len), std::string(g_client.home_key));
    EXPECT_EQ(31, filmo_last_content_hash());
    EXPECT_EQ(200, filmo_last_http_code());
    EXPECT_STREQ("http://elsewhere", g_client.base_url);
    EXPECT_EQ(3, filmo_home_basics_count());
}

TEST_F(HomeFetch, ParseNeedsNoTransport) {
    filmo_set_io(nullptr);
    EXPECT_EQ(0, filmo_parse_homepage_json("{}", 2));
    EXPECT_EQ(1, g_client.home_valid);
}

TEST_F(HomeFetch, ParseFailuresKeepTheHeldPage) {
    struct {
        const char *text;
        size_t len;
        int32_t status;
        const char *message;
    } cases[] = {
        {nullptr, 5, 6, "json required"},
        {"{}", 0, 6, "json required"},
        {"{", 1, 3, "homepage: invalid JSON"},
        {"{}x", 3, 3, "homepage: invalid JSON"},
        {"{} ", 1, 3, "homepage: invalid JSON"},  // cut inside the length
        {"[]", 2, 3, "homepage: root is not a JSON object"},
        {"null", 4, 3, "homepage: root is not a JSON object"},
        {"12", 2, 3, "homepage: root is not a JSON object"},
    };
    hold_old();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(c.status, filmo_parse_homepage_json(c.text, c.len));
        EXPECT_STREQ(c.message, filmo_last_error());
        expect_old_intact();
    }
}

TEST_F(HomeFetch, ParseSuccessClearsTheError) {
    EXPECT_EQ(6, filmo_parse_homepage_json(nullptr, 0));
    EXPECT_EQ(0, filmo_parse_homepage_json("{}", 2));
    EXPECT_STREQ("", filmo_last_error());
}

// ---- the slot itself ---------------------------------------------------------------------

TEST_F(HomeFetch, EmptyingKeepsKeyTimeToLiveAndKnownHash) {
    ManualClock clock(777);
    filmo_set_homepage_hash(55);
    net.push(zpage(k_rich_home));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    filmo_free_home();
    filmo_free_home();  // twice is harmless
    EXPECT_EQ(0, g_client.home_valid);
    EXPECT_EQ(nullptr, filmo_home_json());
    EXPECT_EQ(0, filmo_homepage_hash());
    EXPECT_EQ(0, filmo_home_basics_count());
    EXPECT_EQ(nullptr, g_client.home_doc);
    EXPECT_STREQ("home|u|1", g_client.home_key);
    EXPECT_EQ(777, g_client.home_fetched_at);
    EXPECT_EQ(FILMO_TTL_HOME, g_client.home_ttl);
    EXPECT_EQ(55, g_client.homepage_hash);
    // The key still matches, but nothing is held: the next call fetches.
    net.push(zpage("{}"));
    EXPECT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(2u, net.calls());
}

TEST_F(HomeFetch, RetainRefusesAMissingDocumentOrNonObjectRoot) {
    hold_old();
    EXPECT_EQ(-2, filmo_home_retain(nullptr, "{}", 2));
    yyjson_doc *arr = filmo_parse_json("[1]", 3);
    ASSERT_NE(nullptr, arr);
    EXPECT_EQ(-2, filmo_home_retain(arr, "[1]", 3));
    yyjson_doc_free(arr);  // not taken
    expect_old_intact();
}

TEST_F(HomeFetch, LargeDocumentIsIndexedWhole) {
    std::string page = "{\"Basics\": [";
    for (int i = 0; i < 50000; ++i) {
        if (i) page += ',';
        std::string n = std::to_string(i);
        page += "{\"IMDbId\": \"tt" + n + "\", \"Year\": " + n + "}";
    }
    page += "], \"Deep\": " + std::string(10000, '[') + std::string(10000, ']') + "}";
    net.push(zpage(page));
    ASSERT_EQ(0, filmo_get_homepage("u", 1, "en", 0));
    EXPECT_EQ(50000, filmo_home_basics_count());
    EXPECT_STREQ("tt49999", filmo_home_basic_imdb(49999));
    EXPECT_EQ(49999, filmo_home_basic_year(49999));
    EXPECT_EQ(page.size(), std::strlen(filmo_home_json()));
}

// ---- out of memory -----------------------------------------------------------------------

// Each refused allocation of a fetch ends in a specified failure and leaves the held page; the
// loop ends at the first run in which no allocation was refused.
TEST_F(HomeFetch, EveryRefusedAllocationFailsCleanlyAndKeepsTheHeldPage) {
    hold_old();
    filmo_set_homepage_hash(99);  // header table allocated too
    bool saw_encode_oom = false, saw_retain_oom = false;
    long n = 0;
    for (;; ++n) {
        ASSERT_LT(n, 10000);
        net.push(zpage(k_rich_home, {{"ContentHash", "8"}}));
        vornak_alloc_fail_after(n);
        int32_t st = filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE);
        long refused = vornak_alloc_failures();
        vornak_alloc_fail_after(-1);
        if (st == 0 && refused == 0) break;
        SCOPED_TRACE(n);
        std::string msg = filmo_last_error();
        ASSERT_NE(0, st) << "a refused allocation went unreported";
        switch (st) {
        case 8:
            EXPECT_TRUE(msg == "oom" || msg == "oom: retaining homepage JSON") << msg;
            saw_encode_oom |= msg == "oom";
            saw_retain_oom |= msg == "oom: retaining homepage JSON";
            break;
        case 1:  // the catalogue GET's own allocations (header table, collector)
            EXPECT_EQ(0u, msg.rfind("transport: ", 0)) << msg;
            break;
        case 3:  // the inflate's buffer, or a body the collector could not hold whole
            EXPECT_EQ(0u, msg.rfind("zlib: ", 0)) << msg;
            break;
        default:
            ADD_FAILURE() << "status " << st << " " << msg;
        }
        expect_old_intact();
    }
    EXPECT_TRUE(saw_encode_oom);
    EXPECT_TRUE(saw_retain_oom);
    EXPECT_STREQ(k_rich_home, filmo_home_json());
    EXPECT_EQ(hash_of(k_rich_home), filmo_homepage_hash());
    EXPECT_STREQ("home|u|1", g_client.home_key);
    EXPECT_EQ(8, filmo_last_content_hash());
}

// The slot keeps the inflated text in a block cut to its length, not in the inflate's buffer
// (which starts at 4096 bytes here); when the cut is refused the fetch still succeeds with the
// larger block. The page has no lists, so nothing after the cut needs memory the fetch reports.
TEST_F(HomeFetch, HeldTextIsCutToItsLengthAndARefusedCutStillSucceeds) {
    const std::string page = R"({"Title": "short page"})";
    bool saw_refused_cut = false;
    for (long n = 0;; ++n) {
        ASSERT_LT(n, 100);
        net.push(zpage(page));
        vornak_alloc_fail_after(n);
        int32_t st = filmo_get_homepage("u", 1, "en", FILMO_HOME_UPDATE);
        long refused = vornak_alloc_failures();
        vornak_alloc_fail_after(-1);
        if (st != 0) continue;  // an allocation before the cut: covered above
        SCOPED_TRACE(n);
        ASSERT_STREQ(page.c_str(), filmo_home_json());
        EXPECT_EQ(page.size(), g_client.home_json_len);
        const size_t block = filmo_test::heap_block_size(g_client.home_json);
        if (refused == 0) {
            EXPECT_LT(block, size_t{4096});
            EXPECT_EQ(hash_of(page), filmo_homepage_hash());
            break;
        }
        saw_refused_cut |= block >= 4097;
    }
    EXPECT_TRUE(saw_refused_cut);
}

TEST_F(HomeFetch, ParseOutOfMemoryReportsRetainingAndKeepsTheHeldPage) {
    hold_old();
    size_t len = std::strlen(k_rich_home);
    long n = 0;
    for (;; ++n) {
        ASSERT_LT(n, 10000);
        vornak_alloc_fail_after(n);
        int32_t st = filmo_parse_homepage_json(k_rich_home, len);
        long refused = vornak_alloc_failures();
        vornak_alloc_fail_after(-1);
        if (st == 0 && refused == 0) break;
        SCOPED_TRACE(n);
        ASSERT_NE(0, st) << "a refused allocation went unreported";
        EXPECT_EQ(8, st);
        EXPECT_STREQ("oom: retaining homepage JSON", filmo_last_error());
        expect_old_intact();
    }
    EXPECT_GT(n, 10);  // every list and inner array of the rich page allocates
    EXPECT_EQ(hash_of(k_rich_home), filmo_homepage_hash());
    EXPECT_EQ(3, filmo_home_basics_count());
}

}  // namespace
