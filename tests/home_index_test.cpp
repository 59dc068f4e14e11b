// The home index: the list rule, the two spellings, the readers' coercions, ratings, account
// data, and all-or-nothing when memory runs out.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

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
    // Lists, each basic's one block for its text and rating arrays, playlists and their ids
    // each allocate once.
    EXPECT_EQ(13, n);
}


// ---- every record field as the two-spelling readers find it ---------------------------------

// The index reads each record in one walk of its members; whatever the members, each field must
// be exactly what the readers (filmo_js, filmo_ji, ...) give for the same object: the same
// text pointer, the same number. Objects are drawn from keys that probe every lookup rule
// (both spellings, case variants, keys cut by a NUL, near misses, duplicates through repeated
// draws) and values of every kind.
struct spelling_pair {
    const char *first, *second;
};

const spelling_pair k_basic_keys[] = {
    {"IMDbId", "imDbId"}, {"Title", "title"},       {"TagLine", "tagLine"},
    {"Plot", "plot"},     {"PosterUrl", "posterUrl"}, {"PictureUrl", "pictureUrl"},
    {"ID", "id"},         {"Year", "year"},         {"Duration", "duration"},
    {"IsTVShow", "isTVShow"}, {"Genres", "genres"}, {"Directors", "directors"},
    {"Ratings", "ratings"}};
const spelling_pair k_continue_keys[] = {
    {"IMDbId", "imDbId"}, {"Season", "season"},   {"Episode", "episode"},
    {"Value", "value"},   {"Size", "size"},       {"Duration", "duration"},
    {"SizeStr", "sizeStr"}, {"IsDuration", "isDuration"}, {"UpdatedAt", "updatedAt"}};
const spelling_pair k_level30_keys[] = {{"IMDbID", "imDbID"}, {"Size", "size"},
                                        {"FileName", "fileName"}};
const spelling_pair k_spotlight_keys[] = {
    {"Logo", "logo"}, {"Items", "items"}, {"Title", "title"}, {"OrderIndex", "orderIndex"}};
const spelling_pair k_idval_keys[] = {{"Id", "id"}, {"Value", "value"}};
const spelling_pair k_people_keys[] = {
    {"ID", "id"}, {"Name", "name"}, {"KnowsFor", "knowsFor"}, {"ProfileUrl", "profileUrl"}};
const spelling_pair k_membership_keys[] = {
    {"Type", "type"}, {"Name", "name"}, {"IsActive", "isActive"}, {"Expiration", "expiration"}};
const spelling_pair k_profile_keys[] = {{"ID", "id"},         {"Name", "name"},
                                        {"Poster", "poster"}, {"Deleted", "deleted"},
                                        {"IsEnabled", "isEnabled"}, {"IsEmpty", "isEmpty"}};

// JSON key texts (escaped) near the field's spellings.
std::vector<std::string> key_variants(const spelling_pair &p) {
    std::string f = p.first, s = p.second, up, low, flip = f;
    for (char c : f) {
        up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        low += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    char &last = flip.back();
    last = std::isupper(static_cast<unsigned char>(last))
               ? static_cast<char>(std::tolower(static_cast<unsigned char>(last)))
               : static_cast<char>(std::toupper(static_cast<unsigned char>(last)));
    return {f,      f,        s,      s,     up,    low,   flip, f + "\\u0000x",
            up + "\\u0000", s + "\\u0000", "\\u0000" + f, f + "x", f.substr(1), "\\u00c9" + f};
}

std::string random_value(std::mt19937 &rng, int tag) {
    const std::string t = std::to_string(tag);
    switch (rng() % 14) {
    case 0: return "\"t" + t + "\"";
    case 1: return t;
    case 2: return "-" + t;
    case 3: return t + ".75";
    case 4: return "-" + t + ".25";
    case 5: return "true";
    case 6: return "false";
    case 7: return "null";
    case 8: return "[\"g" + t + "\", 1, \"h\"]";
    case 9: return "{\"r" + t + "\": 1.5, \"s\": \"x\", \"n\": 7}";
    case 10: return "3000000000";
    case 11: return "1e19";
    case 12: return "[]";
    default: return "{}";
    }
}

template <size_t N>
std::string random_objects(std::mt19937 &rng, const spelling_pair (&keys)[N], int count) {
    std::vector<std::string> pool{"\"Other\"", "\"\""};
    for (const spelling_pair &p : keys)
        for (const std::string &k : key_variants(p)) pool.push_back("\"" + k + "\"");
    std::string out = "[";
    for (int i = 0; i < count; ++i) {
        out += i ? ", {" : "{";
        const int members = static_cast<int>(rng() % 17);
        for (int m = 0; m < members; ++m) {
            if (m) out += ", ";
            out += pool[rng() % pool.size()] + ": " + random_value(rng, i * 100 + m);
        }
        out += "}";
    }
    return out + "]";
}

// The field must be what the reader gives for the same object and spellings.
template <class T>
void expect_read(T got, yyjson_val *o, const spelling_pair &p,
                 int32_t (*read)(T *, yyjson_val *, const char *, const char *)) {
    T want{};
    read(&want, o, p.first, p.second);
    EXPECT_EQ(want, got) << p.first;
}
void expect_strarr(const char *const *got, size_t got_count, yyjson_val *o,
                   const spelling_pair &p) {
    const char **want = nullptr;
    size_t want_count = 0;
    ASSERT_EQ(0, filmo_load_strarr(filmo_geti(o, p.first, p.second), &want, &want_count));
    EXPECT_EQ(want == nullptr, got == nullptr) << p.first;
    ASSERT_EQ(want_count, got_count) << p.first;
    for (size_t i = 0; i < want_count; ++i) EXPECT_EQ(want[i], got[i]) << p.first;
    std::free(want);
}

void expect_basic(const home_basic &r, yyjson_val *o) {
    const spelling_pair *k = k_basic_keys;
    expect_read(r.imdb, o, k[0], filmo_js);
    expect_read(r.title, o, k[1], filmo_js);
    expect_read(r.tagline, o, k[2], filmo_js);
    expect_read(r.plot, o, k[3], filmo_js);
    expect_read(r.poster_url, o, k[4], filmo_js);
    expect_read(r.picture_url, o, k[5], filmo_js);
    expect_read(r.id, o, k[6], filmo_ji);
    expect_read(r.year, o, k[7], filmo_ji);
    expect_read(r.duration, o, k[8], filmo_ji);
    expect_read(r.is_tv, o, k[9], filmo_jb);
    expect_strarr(r.genres, r.genre_count, o, k[10]);
    expect_strarr(r.directors, r.director_count, o, k[11]);
    yyjson_val *ratings = filmo_geti(o, k[12].first, k[12].second);
    EXPECT_EQ(yyjson_obj_size(ratings) > 0, r.rating_sources != nullptr);
    EXPECT_EQ(yyjson_obj_size(ratings) > 0, r.rating_values != nullptr);
    size_t idx, max, n = 0;
    yyjson_val *key, *val;
    yyjson_obj_foreach(ratings, idx, max, key, val) {
        if (!yyjson_is_num(val)) continue;
        ASSERT_LT(n, r.rating_count);
        EXPECT_EQ(yyjson_get_str(key), r.rating_sources[n]);
        EXPECT_EQ(filmo_val_jd(val), r.rating_values[n]);
        ++n;
    }
    EXPECT_EQ(n, r.rating_count);
}

void expect_continue(const home_continue &r, yyjson_val *o) {
    const spelling_pair *k = k_continue_keys;
    expect_read(r.imdb, o, k[0], filmo_js);
    expect_read(r.season, o, k[1], filmo_ji);
    expect_read(r.episode, o, k[2], filmo_ji);
    expect_read(r.value, o, k[3], filmo_jd);
    expect_read(r.size, o, k[4], filmo_jll);
    expect_read(r.duration, o, k[5], filmo_js);
    expect_read(r.size_str, o, k[6], filmo_js);
    expect_read(r.is_duration, o, k[7], filmo_jb);
    expect_read(r.updated_at, o, k[8], filmo_js);
}

void expect_level30(const home_level30 &r, yyjson_val *o) {
    expect_read(r.imdb, o, k_level30_keys[0], filmo_js);
    expect_read(r.size, o, k_level30_keys[1], filmo_jll);
    expect_read(r.file_name, o, k_level30_keys[2], filmo_js);
}

void expect_spotlight(const home_spotlight &r, yyjson_val *o) {
    expect_read(r.logo, o, k_spotlight_keys[0], filmo_js);
    expect_read(r.items, o, k_spotlight_keys[1], filmo_js);
    expect_read(r.title, o, k_spotlight_keys[2], filmo_js);
    expect_read(r.order_index, o, k_spotlight_keys[3], filmo_ji);
}

void expect_idval(const idval &r, yyjson_val *o) {
    expect_read(r.id, o, k_idval_keys[0], filmo_js);
    expect_read(r.value, o, k_idval_keys[1], filmo_js);
}

void expect_people(const home_people &r, yyjson_val *o) {
    expect_read(r.id, o, k_people_keys[0], filmo_ji);
    expect_read(r.name, o, k_people_keys[1], filmo_js);
    expect_read(r.knows_for, o, k_people_keys[2], filmo_js);
    expect_read(r.profile_url, o, k_people_keys[3], filmo_js);
}

void expect_membership(const membership &r, yyjson_val *o) {
    expect_read(r.type, o, k_membership_keys[0], filmo_ji);
    expect_read(r.name, o, k_membership_keys[1], filmo_js);
    expect_read(r.is_active, o, k_membership_keys[2], filmo_jb);
    expect_read(r.expiration, o, k_membership_keys[3], filmo_js);
}

void expect_profile(const profile &r, yyjson_val *o) {
    const spelling_pair *k = k_profile_keys;
    expect_read(r.id, o, k[0], filmo_ji);
    expect_read(r.name, o, k[1], filmo_js);
    expect_read(r.poster, o, k[2], filmo_js);
    expect_read(r.deleted, o, k[3], filmo_jb);
    expect_read(r.is_enabled, o, k[4], filmo_jb);
    expect_read(r.is_empty, o, k[5], filmo_jb);
}

template <class R, class Count>
void expect_records(const R *recs, Count count, yyjson_val *arr, int made,
                    void (*expect)(const R &, yyjson_val *)) {
    ASSERT_EQ(static_cast<size_t>(made), yyjson_arr_size(arr));
    ASSERT_EQ(static_cast<Count>(made), count);
    for (int i = 0; i < made; ++i) {
        SCOPED_TRACE(i);
        expect(recs[i], yyjson_arr_get(arr, static_cast<size_t>(i)));
    }
}

TEST_F(HomeIndex, RecordFieldsAreWhatTheTwoSpellingReadersFind) {
    std::mt19937 rng(20261210);
    const int n = 400;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::string page = "{\"Basics\": " + random_objects(rng, k_basic_keys, n) +
                           ", \"Continues\": " + random_objects(rng, k_continue_keys, n) +
                           ", \"Level30s\": " + random_objects(rng, k_level30_keys, n) +
                           ", \"Spotlights\": " + random_objects(rng, k_spotlight_keys, n) +
                           ", \"List\": " + random_objects(rng, k_idval_keys, n) +
                           ", \"ExtentList\": " + random_objects(rng, k_idval_keys, n) +
                           ", \"Peoples\": " + random_objects(rng, k_people_keys, n) +
                           ", \"UserInfo\": {\"Memberships\": " +
                           random_objects(rng, k_membership_keys, n) +
                           ", \"Profiles\": " + random_objects(rng, k_profile_keys, n) + "}}";
        load(page);
        const filmo_home_index &ix = g_client.home_index;
        yyjson_val *root = g_client.home_root;
        yyjson_val *info = yyjson_obj_get(root, "UserInfo");
        expect_records(ix.basics, ix.basic_count, yyjson_obj_get(root, "Basics"), n,
                       &expect_basic);
        expect_records(ix.continues, ix.continue_count, yyjson_obj_get(root, "Continues"), n,
                       &expect_continue);
        expect_records(ix.level30s, ix.level30_count, yyjson_obj_get(root, "Level30s"), n,
                       &expect_level30);
        expect_records(ix.spotlights, ix.spotlight_count, yyjson_obj_get(root, "Spotlights"),
                       n, &expect_spotlight);
        expect_records(ix.list, ix.list_count, yyjson_obj_get(root, "List"), n, &expect_idval);
        expect_records(ix.extents, ix.extent_count, yyjson_obj_get(root, "ExtentList"), n,
                       &expect_idval);
        expect_records(ix.peoples, ix.people_count, yyjson_obj_get(root, "Peoples"), n,
                       &expect_people);
        expect_records(ix.memberships, ix.membership_count,
                       yyjson_obj_get(info, "Memberships"), n, &expect_membership);
        expect_records(ix.profiles, ix.profile_count, yyjson_obj_get(info, "Profiles"), n,
                       &expect_profile);
    }
}

}  // namespace
