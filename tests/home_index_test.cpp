// The home index: the list rule, the two spellings, the readers' coercions, ratings, account
// data, and all-or-nothing when memory runs out.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "filmo_internal.h"
#include "home_pages.h"
#include "test_support.h"

namespace {

class HomeIndex : public ::testing::Test {
protected:
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { filmo_test::reset_client(); }

    static void load(const std::string &json) {
        ASSERT_EQ(0, filmo_parse_homepage_json(json.data(), json.size())) << filmo_last_error();
    }
};

bool counts_zero(const filmo_home_index &ix) {
    return !ix.list_count && !ix.continue_count && !ix.level30_count && !ix.spotlight_count &&
           !ix.extent_count && !ix.basic_count && !ix.people_count && !ix.collection_count &&
           !ix.membership_count && !ix.profile_count && !ix.user_id && !ix.user_email &&
           !ix.has_userinfo;
}

bool index_is_empty(const filmo_home_index &ix) {
    return counts_zero(ix) && !ix.list && !ix.continues && !ix.level30s && !ix.spotlights &&
           !ix.extents && !ix.basics && !ix.peoples && !ix.collections && !ix.memberships &&
           !ix.profiles;
}

TEST_F(HomeIndex, ObjectWithoutMembersGivesEmptyLists) {
    load(R"({"Unrelated": [{"Id": "x"}]})");
    EXPECT_TRUE(index_is_empty(g_client.home_index));
    EXPECT_EQ(1, g_client.home_valid);
}

TEST_F(HomeIndex, MembersOfTheWrongKindOrEmptyArraysGiveNoArray) {
    load(R"({"List": "x", "Continues": {"IMDbId": "tt1"}, "Level30s": 5, "Spotlights": null,
             "ExtentList": true, "Basics": [], "Peoples": [[{"ID": 1}]],
             "CollectionPlaylists": {}, "UserInfo": [{"ID": "u"}]})");
    const filmo_home_index &ix = g_client.home_index;
    EXPECT_TRUE(counts_zero(ix));
    EXPECT_EQ(nullptr, ix.basics);
    // A non-empty array of nothing but non-objects keeps its (unused) array.
    EXPECT_NE(nullptr, ix.peoples);
}

TEST_F(HomeIndex, OnlyObjectElementsBecomeRecords) {
    load(R"({"Continues": [1, "x", {"IMDbId": "tt1"}, null, [], true, {"IMDbId": "tt2"}],
             "List": [{}, 0]})");
    ASSERT_EQ(2, filmo_home_continues_count());
    EXPECT_STREQ("tt1", filmo_home_continue_imdb(0));
    EXPECT_STREQ("tt2", filmo_home_continue_imdb(1));
    ASSERT_EQ(1, filmo_home_list_count());
    EXPECT_EQ(nullptr, filmo_home_list_id(0));
}

TEST_F(HomeIndex, BothSpellingsThenCaseInsensitiveFirstSpelling) {
    load(R"({"basics": [
        {"IMDbId": "A", "imDbId": "B"},
        {"imDbId": "B", "IMDBID": "C"},
        {"IMDBID": "C"},
        {"imdbid": "D", "ImdbId": "E"},
        {"imDbID": 5}
    ], "LEVEL30S": [{"imdbid": "L"}], "extentList": [{"ID": "e", "VALUE": "v"}]})");
    ASSERT_EQ(5, filmo_home_basics_count());
    const char *expect[] = {"A", "B", "C", "D", nullptr};
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(expect[i], filmo_home_basic_imdb(i)) << i;
    EXPECT_STREQ("L", filmo_home_level30_imdb(0));
    EXPECT_STREQ("e", filmo_home_extent_id(0));
    EXPECT_STREQ("v", filmo_home_extent_value(0));
}

TEST_F(HomeIndex, ReadersCoerceNumbersAndRefuseOtherKinds) {
    load(R"({"Continues": [
        {"Season": "3", "Episode": 3.9, "Value": 7, "Size": 3000000000, "IsDuration": 1,
         "Duration": 90, "SizeStr": 5},
        {"Season": 3000000000, "Episode": -3.9, "Value": 4294967297, "Size": 1e19,
         "IsDuration": "true", "Duration": "1:30"},
        {"Season": 2.2e9, "Episode": -2.2e9, "Value": -0.5, "Size": -1e19, "IsDuration": false},
        {"Season": true, "Size": 12.9, "IsDuration": true, "Value": "1.5"}
    ], "Basics": [{"Duration": "90", "Year": 2e3, "IsTVShow": 1, "ID": -7}]})");
    struct {
        int32_t season, episode;
        double value;
        int64_t size;
        int32_t is_duration;
        const char *duration;
    } expect[] = {
        {0, 3, 7.0, 3000000000LL, 0, nullptr},
        {-1294967296, -3, 1.0, INT64_MAX, 0, "1:30"},
        {INT32_MAX, INT32_MIN, -0.5, INT64_MIN, 0, nullptr},
        {0, 0, 0.0, 12, 1, nullptr},
    };
    ASSERT_EQ(4, filmo_home_continues_count());
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expect[i].season, filmo_home_continue_season(i));
        EXPECT_EQ(expect[i].episode, filmo_home_continue_episode(i));
        EXPECT_EQ(expect[i].value, filmo_home_continue_value(i));
        EXPECT_EQ(expect[i].size, filmo_home_continue_size(i));
        EXPECT_EQ(expect[i].is_duration, filmo_home_continue_is_duration(i));
        EXPECT_STREQ(expect[i].duration, filmo_home_continue_duration(i));
    }
    EXPECT_EQ(nullptr, filmo_home_continue_size_str(0));
    // A basic's Duration is an integer, a continue's a text: each is read in its own kind only.
    EXPECT_EQ(0, filmo_home_basic_duration(0));
    EXPECT_EQ(2000, filmo_home_basic_year(0));
    EXPECT_EQ(0, filmo_home_basic_is_tv(0));
    EXPECT_EQ(-7, filmo_home_basic_id(0));
}

TEST_F(HomeIndex, TextArraysTakeOnlyStrings) {
    load(R"({"Basics": [
        {"Genres": ["a", "b", 3], "Directors": [1, 2]},
        {"Genres": "a", "directors": ["d1"]},
        {"Genres": [], "DIRECTORS": [null, "d2"]}
    ]})");
    EXPECT_EQ(2, filmo_home_basic_genres_count(0));
    EXPECT_STREQ("b", filmo_home_basic_genre(0, 1));
    EXPECT_EQ(0, filmo_home_basic_directors_count(0));
    EXPECT_NE(nullptr, g_client.home_index.basics[0].directors);  // allocated, none taken
    EXPECT_EQ(0, filmo_home_basic_genres_count(1));
    EXPECT_STREQ("d1", filmo_home_basic_director(1, 0));
    EXPECT_EQ(nullptr, g_client.home_index.basics[2].genres);
    EXPECT_STREQ("d2", filmo_home_basic_director(2, 0));
}

TEST_F(HomeIndex, RatingsAreTheNumericMembersInDocumentOrder) {
    load(R"({"Basics": [
        {"Ratings": {"imdb": 8.5, "note": "x", "rt": 91, "big": 4294967296, "n": null}},
        {"Ratings": [1, 2]},
        {"Ratings": {}},
        {"ratings": {"only": "text"}},
        {"RATINGS": {"k\u0000ey": -1.25}}
    ]})");
    ASSERT_EQ(3, filmo_home_basic_ratings_count(0));
    EXPECT_STREQ("imdb", filmo_home_basic_rating_source(0, 0));
    EXPECT_EQ(8.5, filmo_home_basic_rating_value(0, 0));
    EXPECT_STREQ("rt", filmo_home_basic_rating_source(0, 1));
    EXPECT_EQ(91.0, filmo_home_basic_rating_value(0, 1));
    EXPECT_STREQ("big", filmo_home_basic_rating_source(0, 2));
    EXPECT_EQ(0.0, filmo_home_basic_rating_value(0, 2));  // low 32 bits of 2^32

    EXPECT_EQ(0, filmo_home_basic_ratings_count(1));
    EXPECT_EQ(nullptr, g_client.home_index.basics[1].rating_sources);
    EXPECT_EQ(0, filmo_home_basic_ratings_count(2));
    EXPECT_EQ(nullptr, g_client.home_index.basics[2].rating_values);
    EXPECT_EQ(0, filmo_home_basic_ratings_count(3));
    EXPECT_NE(nullptr, g_client.home_index.basics[3].rating_sources);  // stays attached
    EXPECT_NE(nullptr, g_client.home_index.basics[3].rating_values);
    ASSERT_EQ(1, filmo_home_basic_ratings_count(4));
    EXPECT_STREQ("k", filmo_home_basic_rating_source(4, 0));  // the key text as it lies
    EXPECT_EQ(-1.25, filmo_home_basic_rating_value(4, 0));
}

TEST_F(HomeIndex, AccountPresenceRules) {
    struct {
        const char *doc;
        int32_t has;
        const char *id;
        const char *email;
    } cases[] = {
        {R"({})", 0, nullptr, nullptr},
        {R"({"UserInfo": {"Email": "e@x"}})", 0, nullptr, "e@x"},
        {R"({"UserInfo": {"ID": 5, "Email": 7}})", 0, nullptr, nullptr},
        {R"({"UserInfo": {"ID": ""}})", 1, "", nullptr},
        {R"({"userInfo": {"id": "c", "email": "m"}})", 1, "c", "m"},
        {R"({"USERINFO": {"Id": "ci"}})", 1, "ci", nullptr},
        {R"({"UserInfo": {"ID": 5, "Profiles": [{}]}})", 1, nullptr, nullptr},
        {R"({"UserInfo": {"Memberships": [{"Type": 1}]}})", 1, nullptr, nullptr},
        {R"({"UserInfo": {"Memberships": [1, "x"], "Profiles": []}})", 0, nullptr, nullptr},
        {R"({"UserInfo": "u-1"})", 0, nullptr, nullptr},
        {R"({"Profiles": [{}], "ID": "top"})", 0, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.doc);
        load(c.doc);
        EXPECT_EQ(c.has, filmo_home_has_userinfo());
        EXPECT_STREQ(c.id, filmo_home_user_id());
        EXPECT_STREQ(c.email, filmo_home_user_email());
    }
}

TEST_F(HomeIndex, CollectionsUseThePlaylistBuilder) {
    load(R"({"CollectionPlaylists": [
        {"Id": 4, "IsAuto": true, "Backdrop": "b", "Cover": "c", "Logo": "l", "Name": "n",
         "Playlists": [7, {"Name": "p1", "OriginCountry": "US", "imDbIds": ["a", 1, "b"]},
                       {"name": "p2"}]},
        "skip",
        {"playlists": {}}
    ]})");
    ASSERT_EQ(2, filmo_home_collections_count());
    const collection &c = g_client.home_index.collections[0];
    EXPECT_EQ(4, c.id);
    EXPECT_EQ(1, c.is_auto);
    EXPECT_STREQ("b", c.backdrop);
    EXPECT_STREQ("c", c.cover);
    EXPECT_STREQ("l", c.logo);
    ASSERT_EQ(2u, c.playlist_count);
    EXPECT_STREQ("US", c.playlists[0].origin_country);
    EXPECT_EQ(2, filmo_home_collection_playlist_imdb_count(0, 0));
    EXPECT_STREQ("b", filmo_home_collection_playlist_imdb(0, 0, 1));
    EXPECT_STREQ("p2", filmo_home_collection_playlist_name(0, 1));
    EXPECT_EQ(0, filmo_home_collection_playlists_count(1));
    EXPECT_EQ(0, filmo_home_collection_id(1));
}

TEST_F(HomeIndex, NonObjectRootGivesAnEmptyIndexAndSuccess) {
    yyjson_doc *doc = filmo_parse_json("[{\"Basics\": [{}]}]", 18);
    ASSERT_NE(nullptr, doc);
    filmo_home_index ix;
    std::memset(&ix, 0xAB, sizeof ix);  // whatever it held is overwritten
    EXPECT_EQ(0, filmo_index_home_doc(yyjson_doc_get_root(doc), &ix));
    EXPECT_TRUE(index_is_empty(ix));
    std::memset(&ix, 0xAB, sizeof ix);
    EXPECT_EQ(0, filmo_index_home_doc(nullptr, &ix));
    EXPECT_TRUE(index_is_empty(ix));
    yyjson_doc_free(doc);
    filmo_free_home_index(nullptr);  // harmless
}

// Each refused allocation gives -1 and an empty index, with everything built so far released
// (the leak checker of the sanitizer build holds the test to that).
TEST_F(HomeIndex, RunningOutOfMemoryAtAnyPointLeavesTheIndexEmpty) {
    yyjson_doc *doc = filmo_parse_json(k_rich_home, std::strlen(k_rich_home));
    ASSERT_NE(nullptr, doc);
    filmo_doc_ptr owned(doc);
    yyjson_val *root = yyjson_doc_get_root(doc);
    long n = 0;
    for (;; ++n) {
        ASSERT_LT(n, 1000);
        filmo_home_index ix{};
        vornak_alloc_fail_after(n);
        int32_t rc = filmo_index_home_doc(root, &ix);
        long refused = vornak_alloc_failures();
        vornak_alloc_fail_after(-1);
        if (rc == 0) {
            EXPECT_EQ(0, refused);
            EXPECT_EQ(3u, ix.basic_count);
            EXPECT_EQ(1u, ix.profile_count);
            filmo_free_home_index(&ix);
            EXPECT_TRUE(index_is_empty(ix));
            break;
        }
        SCOPED_TRACE(n);
        EXPECT_EQ(-1, rc);
        EXPECT_TRUE(index_is_empty(ix));
    }
    // Lists, text arrays, both rating arrays, playlists and their ids each allocate once.
    EXPECT_EQ(16, n);
}

}  // namespace
