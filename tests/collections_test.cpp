// The collections view: request, decoding into records, the colls slot's cache rules, failures
// and out-of-memory paths, accessor fallbacks.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filmo_internal.h"
#include "test_support.h"
#include "view_test_common.h"

using namespace filmo_test;
using view_test::Exit;

namespace {

const std::string kPrefix = std::string(view_test::kBase) + "/api/AAA/GetCollectionPopular?language=";

// Both spellings, skipped non-object elements at both levels, ids mixed with other kinds.
const char *const kTwo = R"([
  {"Id": 7, "Name": "Noir", "Backdrop": "b7", "Cover": "c7", "Logo": "l7", "IsAuto": true,
   "Playlists": [
     {"Name": "P1", "OriginCountry": "FR", "Logo": "pl1", "IMDbIds": ["tt1", 5, null, "tt2"]},
     42,
     {"name": "P2", "originCountry": "US", "logo": "pl2", "imDbIds": []}
   ]},
  "skipped",
  {"id": 8, "name": "Heist", "backdrop": "b8", "cover": "c8", "logo": "l8", "isAuto": false}
])";

const char *const kOther = R"([{"Id": 99, "Name": "Other"}])";

class CollectionsTest : public view_test::ViewTest {
protected:
    // Fetches body for language and expects success.
    void hold(const char *language, const std::string &body) {
        t.ok(body);
        ASSERT_EQ(filmo_get_collections(language), 0) << filmo_last_error();
    }
};

// Every accessor gives its neutral value at these indices.
void expect_neutral(int32_t i, int32_t p, int32_t k) {
    EXPECT_EQ(filmo_collection_id(i), -1);
    EXPECT_EQ(filmo_collection_name(i), nullptr);
    EXPECT_EQ(filmo_collection_backdrop(i), nullptr);
    EXPECT_EQ(filmo_collection_cover(i), nullptr);
    EXPECT_EQ(filmo_collection_logo(i), nullptr);
    EXPECT_EQ(filmo_collection_is_auto(i), -1);
    EXPECT_EQ(filmo_collection_playlists_count(i), 0);
    EXPECT_EQ(filmo_collection_playlist_name(i, p), nullptr);
    EXPECT_EQ(filmo_collection_playlist_origin(i, p), nullptr);
    EXPECT_EQ(filmo_collection_playlist_logo(i, p), nullptr);
    EXPECT_EQ(filmo_collection_playlist_imdb_count(i, p), 0);
    EXPECT_EQ(filmo_collection_playlist_imdb(i, p, k), nullptr);
}

TEST_F(CollectionsTest, ReadsBothSpellingsAndSkipsNonObjects) {
    hold("en-US", kTwo);
    ASSERT_EQ(filmo_collection_count(), 2);

    EXPECT_EQ(filmo_collection_id(0), 7);
    EXPECT_STREQ(filmo_collection_name(0), "Noir");
    EXPECT_STREQ(filmo_collection_backdrop(0), "b7");
    EXPECT_STREQ(filmo_collection_cover(0), "c7");
    EXPECT_STREQ(filmo_collection_logo(0), "l7");
    EXPECT_EQ(filmo_collection_is_auto(0), 1);
    ASSERT_EQ(filmo_collection_playlists_count(0), 2);
    EXPECT_STREQ(filmo_collection_playlist_name(0, 0), "P1");
    EXPECT_STREQ(filmo_collection_playlist_origin(0, 0), "FR");
    EXPECT_STREQ(filmo_collection_playlist_logo(0, 0), "pl1");
    ASSERT_EQ(filmo_collection_playlist_imdb_count(0, 0), 2);
    EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 0), "tt1");
    EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 1), "tt2");
    EXPECT_STREQ(filmo_collection_playlist_name(0, 1), "P2");
    EXPECT_STREQ(filmo_collection_playlist_origin(0, 1), "US");
    EXPECT_STREQ(filmo_collection_playlist_logo(0, 1), "pl2");
    EXPECT_EQ(filmo_collection_playlist_imdb_count(0, 1), 0);

    EXPECT_EQ(filmo_collection_id(1), 8);
    EXPECT_STREQ(filmo_collection_name(1), "Heist");
    EXPECT_STREQ(filmo_collection_backdrop(1), "b8");
    EXPECT_STREQ(filmo_collection_cover(1), "c8");
    EXPECT_STREQ(filmo_collection_logo(1), "l8");
    EXPECT_EQ(filmo_collection_is_auto(1), 0);
    EXPECT_EQ(filmo_collection_playlists_count(1), 0);

    EXPECT_EQ(g_client.colls_capacity, 3u);  // the root's elements, the string included
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 200);
}

TEST_F(CollectionsTest, CoercesMembersByTheReadersRules) {
    hold("en-US", R"([
      {"Id": 12.9, "IsAuto": 1, "Name": 5, "Playlists": {"Name": "not a list"}},
      {"Id": "12", "IsAuto": "true", "Cover": null, "Playlists": [{"IMDbIds": "tt1"}, [], {}]},
      {"ID": 3000000000, "isauto": true, "NAME": "any case"},
      {"id": 7, "Id": 5, "name": "camel", "Name": "Pascal"},
      {"Id": -2100000000.5},
      {}
    ])");
    ASSERT_EQ(filmo_collection_count(), 6);
    EXPECT_EQ(filmo_collection_id(0), 12);
    EXPECT_EQ(filmo_collection_is_auto(0), 0);
    EXPECT_EQ(filmo_collection_name(0), nullptr);
    EXPECT_EQ(filmo_collection_playlists_count(0), 0);

    EXPECT_EQ(filmo_collection_id(1), 0);
    EXPECT_EQ(filmo_collection_is_auto(1), 0);
    EXPECT_EQ(filmo_collection_cover(1), nullptr);
    ASSERT_EQ(filmo_collection_playlists_count(1), 2);
    EXPECT_EQ(filmo_collection_playlist_imdb_count(1, 0), 0);
    EXPECT_EQ(filmo_collection_playlist_name(1, 1), nullptr);

    EXPECT_EQ(filmo_collection_id(2), -1294967296);  // low 32 bits
    EXPECT_EQ(filmo_collection_is_auto(2), 1);
    EXPECT_STREQ(filmo_collection_name(2), "any case");

    EXPECT_EQ(filmo_collection_id(3), 5);
    EXPECT_STREQ(filmo_collection_name(3), "Pascal");

    EXPECT_EQ(filmo_collection_id(4), INT32_MIN);

    // A memberless collection reads as defaults; -1 is kept for an index out of range.
    EXPECT_EQ(filmo_collection_id(5), 0);
    EXPECT_EQ(filmo_collection_is_auto(5), 0);
    EXPECT_EQ(filmo_collection_name(5), nullptr);
    EXPECT_EQ(filmo_collection_playlists_count(5), 0);
}

TEST_F(CollectionsTest, SendsTheLanguageEncodedWithItsDefault) {
    struct Case {
        const char *language;
        std::string query;
    } cases[] = {
        {nullptr, "en-US"},
        {"", "en-US"},
        {"de-DE", "de-DE"},
        {"pt BR&x=1/é", "pt%20BR%26x%3D1%2F%C3%A9"},
        {"-._~", "-._~"},
    };
    for (const Case &c : cases) {
        filmo_cache_clear();
        hold(c.language, kOther);
        const Seen &s = t.seen().back();
        EXPECT_EQ(s.url, kPrefix + c.query) << (c.language ? c.language : "(null)");
        EXPECT_EQ(s.method, "GET");
        EXPECT_TRUE(s.headers_null);
        // The key holds the language unencoded.
        EXPECT_STREQ(g_client.colls_key, c.language && *c.language ? c.language : "en-US");
    }
}

TEST_F(CollectionsTest, LanguageBeyondTheUrlRoomIsCut) {
    // 128 bytes beyond the base URL: 39 for the fixed part, 88 for the language, 1 for the NUL.
    hold(std::string(100, 'a').c_str(), kOther);
    EXPECT_EQ(t.seen().back().url, kPrefix + std::string(88, 'a'));
}

TEST_F(CollectionsTest, EveryFailureKeepsTheHeldView) {
    std::vector<Exit> exits = view_test::shared_exits("HTTP 404", "collections: invalid JSON");
    for (const char *root : {"{}", "1", "\"x\"", "null", "true"})
        exits.push_back({root, view_test::answer(200, root), 3,
                         "collections: root is not an array", 200});
    hold("fr", kTwo);
    for (const Exit &e : exits) {
        SCOPED_TRACE(e.what);
        size_t calls = t.calls();
        t.push(e.answer);
        EXPECT_EQ(filmo_get_collections("de"), e.status);
        EXPECT_EQ(filmo_last_error(), e.message);
        EXPECT_EQ(filmo_last_http_code(), e.http);
        EXPECT_EQ(t.calls(), calls + 1);
        ASSERT_EQ(filmo_collection_count(), 2);
        EXPECT_STREQ(filmo_collection_name(0), "Noir");
        EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 1), "tt2");
        EXPECT_STREQ(g_client.colls_key, "fr");
    }
    EXPECT_GE(t.errors_freed(), 1);  // the transport's text went back through free_buf
}

TEST_F(CollectionsTest, NoTransportFailsBeforeAnyRequest) {
    hold("fr", kTwo);
    filmo_set_io(nullptr);
    EXPECT_EQ(filmo_get_collections("de"), 7);
    EXPECT_STREQ(filmo_last_error(), "no transport installed (filmo_use_curl / filmo_set_io)");
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(filmo_collection_count(), 2);
    EXPECT_EQ(t.calls(), 1u);
}

TEST_F(CollectionsTest, FreshSlotAnswersWithoutTransportUntilItExpires) {
    ManualClock clock(1700000000);
    hold("fr", kTwo);
    EXPECT_EQ(g_client.colls_ttl, 1560);
    EXPECT_EQ(g_client.colls_fetched_at, 1700000000);
    filmo_set_io(nullptr);

    clock.now += 1560;  // exactly ttl old: still fresh
    filmo_set_err("%s", "stale");
    EXPECT_EQ(filmo_get_collections("fr"), 0);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(t.calls(), 1u);

    clock.now += 1;  // expired: the fetch needs the server, and the old view stays readable
    EXPECT_EQ(filmo_get_collections("fr"), 7);
    EXPECT_STREQ(filmo_collection_name(0), "Noir");

    t.install();
    t.push(view_test::answer(500, ""));
    EXPECT_EQ(filmo_get_collections("fr"), 2);
    EXPECT_STREQ(filmo_collection_name(0), "Noir");
    hold("fr", kOther);
    EXPECT_EQ(g_client.colls_fetched_at, 1700001561);
    EXPECT_STREQ(filmo_collection_name(0), "Other");
    EXPECT_EQ(t.calls(), 3u);
}

TEST_F(CollectionsTest, AnotherLanguageReplacesTheView) {
    hold("fr", kTwo);
    hold("de", kOther);
    EXPECT_EQ(filmo_collection_count(), 1);
    EXPECT_STREQ(filmo_collection_name(0), "Other");
    hold("fr", kTwo);  // the slot holds "de" now, so "fr" goes to the server again
    EXPECT_EQ(t.calls(), 3u);
    EXPECT_EQ(filmo_get_collections("fr"), 0);
    EXPECT_EQ(t.calls(), 3u);
}

TEST_F(CollectionsTest, LanguageLongerThanTheKeyIsFetchedEveryTime) {
    const std::string fits(31, 'k'), too_long(32, 'k');
    hold(fits.c_str(), kOther);
    EXPECT_EQ(filmo_get_collections(fits.c_str()), 0);
    EXPECT_EQ(t.calls(), 1u);
    hold(too_long.c_str(), kOther);
    hold(too_long.c_str(), kOther);
    EXPECT_EQ(t.calls(), 3u);
    EXPECT_EQ(std::string(g_client.colls_key), fits);  // cut to 31 bytes
}

TEST_F(CollectionsTest, HostTimeToLiveSurvivesTheFirstStore) {
    ManualClock clock(5000);
    filmo_cache_set_ttl(0, 0, 0, 10);
    hold("fr", kTwo);
    EXPECT_EQ(g_client.colls_ttl, 10);
    clock.now += 10;
    EXPECT_EQ(filmo_get_collections("fr"), 0);
    clock.now += 1;
    hold("fr", kTwo);
    EXPECT_EQ(t.calls(), 2u);
}

TEST_F(CollectionsTest, EmptyArrayIsAHeldViewThatAnswersTheCache) {
    hold("fr", "[]");
    EXPECT_EQ(filmo_collection_count(), 0);
    EXPECT_EQ(g_client.colls_valid, 1);
    EXPECT_EQ(filmo_get_collections("fr"), 0);
    EXPECT_EQ(t.calls(), 1u);
    expect_neutral(0, 0, 0);
}

TEST_F(CollectionsTest, AccessorsAreNeutralWithNothingHeldOrOutOfRange) {
    EXPECT_EQ(filmo_collection_count(), 0);
    expect_neutral(0, 0, 0);

    hold("fr", kTwo);
    for (int32_t i : {-1, 2, INT32_MIN, INT32_MAX}) expect_neutral(i, 0, 0);
    for (int32_t p : {-1, 2, INT32_MIN}) {
        EXPECT_EQ(filmo_collection_playlist_name(0, p), nullptr);
        EXPECT_EQ(filmo_collection_playlist_origin(0, p), nullptr);
        EXPECT_EQ(filmo_collection_playlist_logo(0, p), nullptr);
        EXPECT_EQ(filmo_collection_playlist_imdb_count(0, p), 0);
        EXPECT_EQ(filmo_collection_playlist_imdb(0, p, 0), nullptr);
    }
    for (int32_t k : {-1, 2, INT32_MAX}) EXPECT_EQ(filmo_collection_playlist_imdb(0, 0, k), nullptr);

    filmo_cache_invalidate("collections", nullptr);
    EXPECT_EQ(filmo_collection_count(), 0);
    expect_neutral(0, 0, 0);
    EXPECT_STREQ(g_client.colls_key, "fr");  // emptying keeps the cache fields
}

TEST_F(CollectionsTest, LanguageBorrowedFromTheHeldViewOutlivesItsReplacement) {
    hold("fr", R"([{"Name": "es-ES"}])");
    hold(filmo_collection_name(0), kOther);
    EXPECT_STREQ(g_client.colls_key, "es-ES");
    EXPECT_EQ(t.seen().back().url, kPrefix + "es-ES");
}

TEST_F(CollectionsTest, DeepAndHugeDocuments) {
    // Deep nesting inside an element that is no object, and inside a playlist's ids.
    std::string deep = "[" + std::string(50000, '[') + std::string(50000, ']') +
                       R"(, {"Id": 1, "Playlists": [{"IMDbIds": [)" + std::string(50000, '[') +
                       std::string(50000, ']') + R"(, "tt9"]}]}])";
    hold("fr", deep);
    ASSERT_EQ(filmo_collection_count(), 1);
    EXPECT_EQ(filmo_collection_playlist_imdb_count(0, 0), 1);
    EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 0), "tt9");

    const int n = 100000;
    std::string huge = "[";
    for (int i = 0; i < n; ++i)
        huge += (i ? "," : "") + std::string(R"({"Id":)") + std::to_string(i) +
                R"(,"Playlists":[{"IMDbIds":["tt)" + std::to_string(i) + R"("]}]})";
    huge += "]";
    hold("de", huge);
    ASSERT_EQ(filmo_collection_count(), n);
    EXPECT_EQ(filmo_collection_id(n - 1), n - 1);
    EXPECT_STREQ(filmo_collection_playlist_imdb(n - 1, 0, 0), ("tt" + std::to_string(n - 1)).c_str());
}

TEST_F(CollectionsTest, OutOfMemoryKeepsTheHeldView) {
    hold("fr", kOther);
    auto seen = view_test::walk_oom(
        t, kTwo, [] { return filmo_get_collections("de"); },
        {{8, "oom"}, {8, "oom: collections"}, view_test::kResponseOom}, [] {
            ASSERT_EQ(filmo_collection_count(), 1);
            EXPECT_STREQ(filmo_collection_name(0), "Other");
            EXPECT_STREQ(g_client.colls_key, "fr");
        });
    EXPECT_EQ(seen.count("oom"), 1u);
    EXPECT_EQ(seen.count("oom: collections"), 1u);
    EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 1), "tt2");
}

TEST(IndexPlaylists, AllocatesForEveryElementAndFillsForObjects) {
    reset_client();
    const std::string json = R"({"none": [], "odd": [1, "x"], "one": [{"Name": "n"}]})";
    filmo_doc_ptr doc(yyjson_read(json.data(), json.size(), 0));
    ASSERT_TRUE(doc);
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    playlist *lists = reinterpret_cast<playlist *>(1);
    size_t count = 9;

    for (yyjson_val *v : {static_cast<yyjson_val *>(nullptr), yyjson_obj_get(root, "none"), root}) {
        EXPECT_EQ(filmo_index_playlists(v, &lists, &count), 0);
        EXPECT_EQ(lists, nullptr);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(filmo_index_playlists(yyjson_obj_get(root, "odd"), &lists, &count), 0);
    EXPECT_NE(lists, nullptr);
    EXPECT_EQ(count, 0u);
    std::free(lists);

    vornak_alloc_fail_after(0);
    EXPECT_EQ(filmo_index_playlists(yyjson_obj_get(root, "one"), &lists, &count), -1);
    vornak_alloc_fail_after(-1);
    EXPECT_EQ(lists, nullptr);
    ASSERT_EQ(filmo_index_playlists(yyjson_obj_get(root, "one"), &lists, &count), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(lists[0].name, "n");
    collection record{};
    record.playlists = lists;
    record.playlist_count = count;
    filmo_free_collection_records(static_cast<collection *>(std::memcpy(
                                      vornak_malloc(sizeof record), &record, sizeof record)),
                                  1);
    filmo_free_collection_records(nullptr, 3);
}

}  // namespace
