// The popular-people view: request, argument checks, the popular slot's cache rules, failures
// and out-of-memory paths, and the positional accessors with their fallbacks.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "test_support.h"
#include "view_test_common.h"

using namespace filmo_test;
using view_test::Exit;

namespace {

const std::string kPrefix = std::string(view_test::kBase) + "/api/AAA/GetPeoplePopular?pageIndex=";
const std::string kBadIndex =
    "pageIndex must be >= 1 (the server 404s 0 \xE2\x80\x94 measured 2026-10-01)";

// Mixed spellings, a non-object element in the middle.
const char *const kPage = R"([
  {"ID": 1, "Name": "Ann", "KnowsFor": "Acting", "ProfileUrl": "/a.jpg", "IMDbId": "nm1"},
  42,
  {"id": 2, "name": "Bob", "knowsFor": "Sound", "profileUrl": "/b.jpg", "imDbId": "nm2"}
])";

class PopularTest : public view_test::ViewTest {
protected:
    void hold(int32_t index, int32_t numbers, const char *language, const std::string &body,
              int32_t size = 20) {
        t.ok(body);
        ASSERT_EQ(filmo_get_people_popular(index, size, numbers, language), 0)
            << filmo_last_error();
    }
};

void expect_fallbacks(int32_t i) {
    EXPECT_EQ(filmo_people_pop_id(i), -1);
    EXPECT_EQ(filmo_people_pop_name(i), nullptr);
    EXPECT_EQ(filmo_people_pop_knowsfor(i), nullptr);
    EXPECT_EQ(filmo_people_pop_profileurl(i), nullptr);
    EXPECT_EQ(filmo_people_pop_imdbid(i), nullptr);
}

TEST_F(PopularTest, ReadsEveryPersonInEitherSpelling) {
    hold(1, 1, "en-US", kPage);
    ASSERT_EQ(filmo_people_pop_count(), 3);  // elements of every kind count
    EXPECT_EQ(filmo_people_pop_id(0), 1);
    EXPECT_STREQ(filmo_people_pop_name(0), "Ann");
    EXPECT_STREQ(filmo_people_pop_knowsfor(0), "Acting");
    EXPECT_STREQ(filmo_people_pop_profileurl(0), "/a.jpg");
    EXPECT_STREQ(filmo_people_pop_imdbid(0), "nm1");
    expect_fallbacks(1);
    EXPECT_EQ(filmo_people_pop_id(2), 2);
    EXPECT_STREQ(filmo_people_pop_name(2), "Bob");
    EXPECT_STREQ(filmo_people_pop_knowsfor(2), "Sound");
    EXPECT_STREQ(filmo_people_pop_profileurl(2), "/b.jpg");
    EXPECT_STREQ(filmo_people_pop_imdbid(2), "nm2");
    for (int32_t i : {-1, 3, INT32_MIN, INT32_MAX}) expect_fallbacks(i);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 200);
}

TEST_F(PopularTest, CoercionsAndPrecedence) {
    hold(1, 1, "", R"([
      {"ID": 7.9, "Name": 5, "IMDbId": null, "KnowsFor": ["x"]},
      {"Id": "7", "id": 3, "ID": 4, "name": "camel", "Name": "Pascal", "PROFILEURL": "/any"},
      {"ID": 3000000000},
      {}
    ])");
    EXPECT_EQ(filmo_people_pop_id(0), 7);
    EXPECT_EQ(filmo_people_pop_name(0), nullptr);
    EXPECT_EQ(filmo_people_pop_imdbid(0), nullptr);
    EXPECT_EQ(filmo_people_pop_knowsfor(0), nullptr);
    EXPECT_EQ(filmo_people_pop_id(1), 4);
    EXPECT_STREQ(filmo_people_pop_name(1), "Pascal");
    EXPECT_STREQ(filmo_people_pop_profileurl(1), "/any");
    EXPECT_EQ(filmo_people_pop_id(2), -1294967296);
    expect_fallbacks(3);
}

TEST_F(PopularTest, SendsPageAndLanguage) {
    const std::string long_lang(300, 'l');
    struct Case {
        int32_t index, numbers;
        const char *language;
        std::string query;
    } cases[] = {
        {1, 1, nullptr, "1&language=en-US&pageNumbers=1"},
        {2, 1000, "", "2&language=en-US&pageNumbers=1000"},
        {INT32_MAX, 7, "pt BR&x/é", "2147483647&language=pt%20BR%26x%2F%C3%A9&pageNumbers=7"},
        {3, 20, long_lang.c_str(), "3&language=" + long_lang + "&pageNumbers=20"},
    };
    for (const Case &c : cases) {
        hold(c.index, c.numbers, c.language, "[]");
        const Seen &s = t.seen().back();
        EXPECT_EQ(s.url, kPrefix + c.query);
        EXPECT_EQ(s.method, "GET");
        EXPECT_TRUE(s.headers_null);
    }
    EXPECT_STREQ(g_client.pop_key, ("pop|3|20|" + std::string(70, 'l')).c_str());
}

TEST_F(PopularTest, ArgumentsOutOfRange) {
    struct Case {
        int32_t index, size, numbers;
        std::string message;
    } refused[] = {
        {0, 20, 1, kBadIndex},
        {-3, -1, 0, kBadIndex},  // the page index is looked at first
        {INT32_MIN, 20, 1, kBadIndex},
        {1, -1, 1, "pageSize out of range"},
        {1, 100001, 0, "pageSize out of range"},
        {1, INT32_MIN, 1, "pageSize out of range"},
        {1, 20, 0, "pageNumbers out of range (1..1000)"},
        {1, 20, 1001, "pageNumbers out of range (1..1000)"},
        {1, 20, -5, "pageNumbers out of range (1..1000)"},
    };
    for (const Case &c : refused) {
        EXPECT_EQ(filmo_get_people_popular(c.index, c.size, c.numbers, "en"), 6);
        EXPECT_EQ(filmo_last_error(), c.message) << c.index << " " << c.size << " " << c.numbers;
    }
    EXPECT_EQ(t.calls(), 0u);
    for (int32_t size : {0, 100000}) {
        for (int32_t numbers : {1, 1000}) {
            t.ok("[]");
            EXPECT_EQ(filmo_pop_fetch(1, size, numbers, "en"), 0) << size << " " << numbers;
            filmo_free_pop();
        }
    }
    EXPECT_EQ(t.calls(), 4u);
}

TEST_F(PopularTest, NoTransportFailsEvenWhenTheSlotIsFresh) {
    hold(1, 1, "en", kPage);
    filmo_set_io(nullptr);
    EXPECT_EQ(filmo_get_people_popular(1, 20, 1, "en"), 7);
    EXPECT_STREQ(filmo_last_error(), "no transport installed (filmo_use_curl / filmo_set_io)");
    EXPECT_EQ(filmo_get_people_popular(0, -1, 0, "en"), 7);  // before any argument
    EXPECT_STREQ(filmo_people_pop_name(0), "Ann");
}

TEST_F(PopularTest, EveryFailureKeepsTheHeldPage) {
    std::vector<Exit> exits = view_test::shared_exits("people popular: HTTP 404 (dead page)",
                                                      "people popular: invalid JSON");
    for (const char *root : {"{}", R"({"Name": "x"})", "1", "\"x\"", "null"})
        exits.push_back({root, view_test::answer(200, root), 3,
                         "people popular: root is not an array", 200});
    hold(1, 1, "en", kPage);
    int32_t index = 1;
    for (const Exit &e : exits) {
        SCOPED_TRACE(e.what);
        size_t calls = t.calls();
        t.push(e.answer);
        EXPECT_EQ(filmo_get_people_popular(++index, 20, 1, "en"), e.status);
        EXPECT_EQ(filmo_last_error(), e.message);
        EXPECT_EQ(filmo_last_http_code(), e.http);
        EXPECT_EQ(t.calls(), calls + 1);
        ASSERT_EQ(filmo_people_pop_count(), 3);
        EXPECT_STREQ(filmo_people_pop_name(2), "Bob");
        EXPECT_STREQ(g_client.pop_key, "pop|1|1|en");
    }
}

TEST_F(PopularTest, CacheRules) {
    ManualClock clock(50);
    hold(1, 1, nullptr, kPage, 20);
    EXPECT_STREQ(g_client.pop_key, "pop|1|1|en-US");
    EXPECT_EQ(g_client.pop_ttl, 1560);

    clock.now += 1560;
    // The page size is neither sent nor part of the key.
    EXPECT_EQ(filmo_get_people_popular(1, 99999, 1, "en-US"), 0);
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(t.calls(), 1u);

    clock.now += 1;
    t.push(view_test::answer(404, ""));
    EXPECT_EQ(filmo_get_people_popular(1, 20, 1, "en-US"), 5);
    EXPECT_STREQ(filmo_people_pop_name(0), "Ann");
    hold(1, 1, "en-US", "[]");
    EXPECT_EQ(g_client.pop_fetched_at, 1611);
    EXPECT_EQ(filmo_people_pop_count(), 0);
    expect_fallbacks(0);

    hold(1, 2, "en-US", kPage);  // page numbers, index and language are each part of the key
    hold(2, 2, "en-US", kPage);
    hold(2, 2, "fr", kPage);
    EXPECT_EQ(filmo_get_people_popular(2, 0, 2, "fr"), 0);
    EXPECT_EQ(t.calls(), 6u);
}

TEST_F(PopularTest, HostTimeToLiveSurvivesTheFirstStore) {
    ManualClock clock(50);
    filmo_cache_set_ttl(0, 0, 3, 0);
    hold(1, 1, "en", kPage);
    EXPECT_EQ(g_client.pop_ttl, 3);
    clock.now += 4;
    hold(1, 1, "en", kPage);
    EXPECT_EQ(t.calls(), 2u);
}

TEST_F(PopularTest, NothingHeld) {
    EXPECT_EQ(filmo_people_pop_count(), 0);
    expect_fallbacks(0);
    hold(1, 1, "en", kPage);
    filmo_cache_invalidate("popular", nullptr);
    EXPECT_EQ(filmo_people_pop_count(), 0);
    expect_fallbacks(0);
    EXPECT_STREQ(g_client.pop_key, "pop|1|1|en");
}

TEST_F(PopularTest, LargePageReadInAnyOrder) {
    constexpr int n = 20000;
    auto page = [](const std::string &tag) {
        std::string body = "[";
        for (int i = 0; i < n; ++i)
            body += (i ? "," : "") + std::string(R"({"id": )") + std::to_string(i) +
                    R"(, "name": ")" + tag + std::to_string(i) + R"(", "nested": [[{}]]})";
        return body + "]";
    };
    hold(1, 1, "en", page("a"));
    ASSERT_EQ(filmo_people_pop_count(), n);
    for (int i = 0; i < n; ++i) {  // front to back, several fields each
        ASSERT_EQ(filmo_people_pop_id(i), i);
        ASSERT_STREQ(filmo_people_pop_name(i), ("a" + std::to_string(i)).c_str());
        ASSERT_EQ(filmo_people_pop_imdbid(i), nullptr);
    }
    for (int i : {n - 1, 0, n / 2, n / 2 - 1, n / 2 + 1, 7, n - 1})
        ASSERT_STREQ(filmo_people_pop_name(i), ("a" + std::to_string(i)).c_str());
    hold(2, 1, "en", page("b"));
    EXPECT_STREQ(filmo_people_pop_name(n - 1), ("b" + std::to_string(n - 1)).c_str());
    EXPECT_STREQ(filmo_people_pop_name(1), "b1");
}

TEST_F(PopularTest, DeeplyNestedElements) {
    hold(1, 1, "en",
         "[" + std::string(100000, '[') + std::string(100000, ']') + R"(, {"Name": "z"}])");
    EXPECT_EQ(filmo_people_pop_count(), 2);
    expect_fallbacks(0);
    EXPECT_STREQ(filmo_people_pop_name(1), "z");
}

TEST_F(PopularTest, LanguageBorrowedFromTheHeldPageOutlivesItsReplacement) {
    hold(1, 1, "en", R"([{"Name": "de-AT"}])");
    hold(1, 1, filmo_people_pop_name(0), kPage);
    EXPECT_STREQ(g_client.pop_key, "pop|1|1|de-AT");
}

TEST_F(PopularTest, OutOfMemoryKeepsTheHeldPage) {
    hold(1, 1, "en", kPage);
    auto seen = view_test::walk_oom(
        t, R"([{"Name": "Cy"}])", [] { return filmo_get_people_popular(4, 20, 9, "pt BR"); },
        {{8, "oom"}, view_test::kResponseOom}, [] {
            ASSERT_EQ(filmo_people_pop_count(), 3);
            EXPECT_STREQ(filmo_people_pop_name(2), "Bob");
            EXPECT_STREQ(g_client.pop_key, "pop|1|1|en");
        });
    EXPECT_EQ(seen.count("oom"), 1u);
    EXPECT_STREQ(filmo_people_pop_name(0), "Cy");
}

}  // namespace
