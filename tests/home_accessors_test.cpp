// The home page accessors: each reads its own field, and every position that is not there
// (no page, negative, past the count, at any nesting level) gives the fallback.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "home_pages.h"
#include "test_support.h"

namespace {

using text_fn = const char *(*)(int32_t);
using int_fn = int32_t (*)(int32_t);
using i64_fn = int64_t (*)(int32_t);
using dbl_fn = double (*)(int32_t);
using count_fn = int32_t (*)();

class HomeAccess : public ::testing::Test {
protected:
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { filmo_test::reset_client(); }
    static void load_rich() {
        ASSERT_EQ(0, filmo_parse_homepage_json(k_rich_home, std::strlen(k_rich_home)));
    }
};

#define ACC(fn) #fn, fn

struct TextCase {
    const char *name;
    text_fn fn;
    int32_t i;
    const char *expect;
};
const TextCase k_texts[] = {
    {ACC(filmo_home_list_id), 0, "l1"},
    {ACC(filmo_home_list_value), 0, "v1"},
    {ACC(filmo_home_list_id), 1, "l2"},
    {ACC(filmo_home_list_value), 1, "v2"},
    {ACC(filmo_home_continue_imdb), 0, "tt001"},
    {ACC(filmo_home_continue_duration), 0, "01:02:03"},
    {ACC(filmo_home_continue_size_str), 0, "4.7 GB"},
    {ACC(filmo_home_continue_updated), 0, "2026-01-02"},
    {ACC(filmo_home_level30_imdb), 0, "tt030"},
    {ACC(filmo_home_level30_filename), 0, "a.mkv"},
    {ACC(filmo_home_spotlight_logo), 0, "logo.png"},
    {ACC(filmo_home_spotlight_items), 0, "tt1,tt2"},
    {ACC(filmo_home_spotlight_title), 0, "Spot"},
    {ACC(filmo_home_extent_id), 0, "e1"},
    {ACC(filmo_home_extent_value), 0, "ev1"},
    {ACC(filmo_home_basic_imdb), 0, "tt100"},
    {ACC(filmo_home_basic_title), 0, "Alpha"},
    {ACC(filmo_home_basic_tagline), 0, "tag"},
    {ACC(filmo_home_basic_plot), 0, "plot"},
    {ACC(filmo_home_basic_poster), 0, "p.jpg"},
    {ACC(filmo_home_basic_picture), 0, "q.jpg"},
    {ACC(filmo_home_basic_imdb), 1, "tt101"},
    {ACC(filmo_home_basic_title), 1, "Beta"},
    {ACC(filmo_home_basic_tagline), 1, nullptr},
    {ACC(filmo_home_basic_imdb), 2, nullptr},
    {ACC(filmo_home_basic_title), 2, "NoImdb"},
    {ACC(filmo_home_people_name), 0, "Ann"},
    {ACC(filmo_home_people_knowsfor), 0, "Acting"},
    {ACC(filmo_home_people_profileurl), 0, "ann.jpg"},
    {ACC(filmo_home_collection_name), 0, "Coll"},
    {ACC(filmo_home_collection_name), 1, "NoId"},
    {ACC(filmo_home_user_membership_name), 0, "Gold"},
    {ACC(filmo_home_user_membership_expiration), 0, "2027"},
    {ACC(filmo_home_user_profile_name), 0, "Kid"},
    {ACC(filmo_home_user_profile_poster), 0, "k.png"},
};

struct IntCase {
    const char *name;
    int_fn fn;
    int32_t i;
    int32_t expect;
};
const IntCase k_ints[] = {
    {ACC(filmo_home_continue_season), 0, 2},
    {ACC(filmo_home_continue_episode), 0, 5},
    {ACC(filmo_home_continue_is_duration), 0, 1},
    {ACC(filmo_home_spotlight_order), 0, 4},
    {ACC(filmo_home_basic_id), 0, 100},
    {ACC(filmo_home_basic_year), 0, 1999},
    {ACC(filmo_home_basic_duration), 0, 136},
    {ACC(filmo_home_basic_is_tv), 0, 0},
    {ACC(filmo_home_basic_is_tv), 1, 1},
    {ACC(filmo_home_basic_id), 1, 101},
    {ACC(filmo_home_basic_genres_count), 0, 2},
    {ACC(filmo_home_basic_directors_count), 0, 1},
    {ACC(filmo_home_basic_ratings_count), 0, 2},
    {ACC(filmo_home_basic_genres_count), 1, 0},
    {ACC(filmo_home_people_id), 0, 7},
    {ACC(filmo_home_collection_id), 0, 3},
    {ACC(filmo_home_collection_id), 1, 0},  // no id in the document: 0, not the fallback
    {ACC(filmo_home_collection_playlists_count), 0, 1},
    {ACC(filmo_home_collection_playlists_count), 1, 0},
    {ACC(filmo_home_user_membership_type), 0, 2},
    {ACC(filmo_home_user_membership_active), 0, 1},
    {ACC(filmo_home_user_profile_id), 0, 1},
    {ACC(filmo_home_user_profile_deleted), 0, 0},
    {ACC(filmo_home_user_profile_enabled), 0, 1},
    {ACC(filmo_home_user_profile_empty), 0, 1},
};

struct CountCase {
    const char *name;
    count_fn fn;
    int32_t expect;
};
const CountCase k_counts[] = {
    {ACC(filmo_home_list_count), 2},           {ACC(filmo_home_continues_count), 1},
    {ACC(filmo_home_level30_count), 1},        {ACC(filmo_home_spotlight_count), 1},
    {ACC(filmo_home_extent_count), 1},         {ACC(filmo_home_basics_count), 3},
    {ACC(filmo_home_peoples_count), 1},        {ACC(filmo_home_collections_count), 2},
    {ACC(filmo_home_user_memberships_count), 1}, {ACC(filmo_home_user_profiles_count), 1},
    {ACC(filmo_home_has_userinfo), 1},
};

// Every element accessor with the count accessor of its list.
struct Family {
    const char *name;
    count_fn count;
    std::vector<text_fn> texts;
    std::vector<int_fn> ints;
    std::vector<i64_fn> i64s;
    std::vector<dbl_fn> dbls;
};
const Family k_families[] = {
    {"list", filmo_home_list_count, {filmo_home_list_id, filmo_home_list_value}, {}, {}, {}},
    {"continues",
     filmo_home_continues_count,
     {filmo_home_continue_imdb, filmo_home_continue_duration, filmo_home_continue_size_str,
      filmo_home_continue_updated},
     {filmo_home_continue_season, filmo_home_continue_episode, filmo_home_continue_is_duration},
     {filmo_home_continue_size},
     {filmo_home_continue_value}},
    {"level30s",
     filmo_home_level30_count,
     {filmo_home_level30_imdb, filmo_home_level30_filename},
     {},
     {filmo_home_level30_size},
     {}},
    {"spotlights",
     filmo_home_spotlight_count,
     {filmo_home_spotlight_logo, filmo_home_spotlight_items, filmo_home_spotlight_title},
     {filmo_home_spotlight_order},
     {},
     {}},
    {"extents", filmo_home_extent_count, {filmo_home_extent_id, filmo_home_extent_value}, {}, {},
     {}},
    {"basics",
     filmo_home_basics_count,
     {filmo_home_basic_imdb, filmo_home_basic_title, filmo_home_basic_tagline,
      filmo_home_basic_plot, filmo_home_basic_poster, filmo_home_basic_picture},
     {filmo_home_basic_id, filmo_home_basic_year, filmo_home_basic_duration,
      filmo_home_basic_is_tv, filmo_home_basic_genres_count, filmo_home_basic_directors_count,
      filmo_home_basic_ratings_count},
     {},
     {}},
    {"peoples",
     filmo_home_peoples_count,
     {filmo_home_people_name, filmo_home_people_knowsfor, filmo_home_people_profileurl},
     {filmo_home_people_id},
     {},
     {}},
    {"collections",
     filmo_home_collections_count,
     {filmo_home_collection_name},
     {filmo_home_collection_playlists_count},
     {},
     {}},
    {"memberships",
     filmo_home_user_memberships_count,
     {filmo_home_user_membership_name, filmo_home_user_membership_expiration},
     {filmo_home_user_membership_type, filmo_home_user_membership_active},
     {},
     {}},
    {"profiles",
     filmo_home_user_profiles_count,
     {filmo_home_user_profile_name, filmo_home_user_profile_poster},
     {filmo_home_user_profile_id, filmo_home_user_profile_deleted,
      filmo_home_user_profile_enabled, filmo_home_user_profile_empty},
     {},
     {}},
};

void expect_fallbacks(const Family &f, int32_t i) {
    SCOPED_TRACE(std::string(f.name) + " at " + std::to_string(i));
    for (text_fn fn : f.texts) EXPECT_EQ(nullptr, fn(i));
    for (int_fn fn : f.ints) EXPECT_EQ(0, fn(i));
    for (i64_fn fn : f.i64s) EXPECT_EQ(0, fn(i));
    for (dbl_fn fn : f.dbls) EXPECT_EQ(0.0, fn(i));
}

// The nested accessors and the by-name lookup, at a position that holds something.
void expect_nested_absent(int32_t i) {
    EXPECT_EQ(nullptr, filmo_home_basic_genre(i, 0));
    EXPECT_EQ(nullptr, filmo_home_basic_director(i, 0));
    EXPECT_EQ(nullptr, filmo_home_basic_rating_source(i, 0));
    EXPECT_EQ(0.0, filmo_home_basic_rating_value(i, 0));
    EXPECT_EQ(nullptr, filmo_home_basic_field(i, "title"));
    EXPECT_EQ(-1, filmo_home_collection_id(i));
    EXPECT_EQ(nullptr, filmo_home_collection_playlist_name(i, 0));
    EXPECT_EQ(0, filmo_home_collection_playlist_imdb_count(i, 0));
    EXPECT_EQ(nullptr, filmo_home_collection_playlist_imdb(i, 0, 0));
}

void expect_no_page() {
    for (const CountCase &c : k_counts) EXPECT_EQ(0, c.fn()) << c.name;
    for (const Family &f : k_families) expect_fallbacks(f, 0);
    expect_nested_absent(0);
    EXPECT_EQ(nullptr, filmo_home_user_id());
    EXPECT_EQ(nullptr, filmo_home_user_email());
    EXPECT_EQ(nullptr, filmo_home_json());
    EXPECT_EQ(0, filmo_homepage_hash());
}

TEST_F(HomeAccess, EveryAccessorReadsItsOwnField) {
    load_rich();
    for (const TextCase &c : k_texts)
        EXPECT_STREQ(c.expect, c.fn(c.i)) << c.name << "(" << c.i << ")";
    for (const IntCase &c : k_ints) EXPECT_EQ(c.expect, c.fn(c.i)) << c.name << "(" << c.i << ")";
    for (const CountCase &c : k_counts) EXPECT_EQ(c.expect, c.fn()) << c.name;
    EXPECT_EQ(0.75, filmo_home_continue_value(0));
    EXPECT_EQ(5000000000LL, filmo_home_continue_size(0));
    EXPECT_EQ(123, filmo_home_level30_size(0));
    EXPECT_STREQ("u-1", filmo_home_user_id());
    EXPECT_STREQ("a@b.c", filmo_home_user_email());
}

TEST_F(HomeAccess, NestedAccessorsReadEachLevel) {
    load_rich();
    EXPECT_STREQ("Action", filmo_home_basic_genre(0, 0));
    EXPECT_STREQ("Drama", filmo_home_basic_genre(0, 1));
    EXPECT_STREQ("Dir", filmo_home_basic_director(0, 0));
    EXPECT_STREQ("imdb", filmo_home_basic_rating_source(0, 0));
    EXPECT_EQ(8.7, filmo_home_basic_rating_value(0, 0));
    EXPECT_STREQ("rt", filmo_home_basic_rating_source(0, 1));
    EXPECT_EQ(88.0, filmo_home_basic_rating_value(0, 1));
    EXPECT_STREQ("PL", filmo_home_collection_playlist_name(0, 0));
    EXPECT_EQ(2, filmo_home_collection_playlist_imdb_count(0, 0));
    EXPECT_STREQ("tt1", filmo_home_collection_playlist_imdb(0, 0, 0));
    EXPECT_STREQ("tt2", filmo_home_collection_playlist_imdb(0, 0, 1));
}

TEST_F(HomeAccess, PositionsOutsideEveryListGiveFallbacks) {
    load_rich();
    for (const Family &f : k_families) {
        int32_t n = f.count();
        ASSERT_GT(n, 0) << f.name;
        for (int32_t i : {-1, INT32_MIN, n, n + 1, INT32_MAX}) expect_fallbacks(f, i);
    }
    for (int32_t i : {-1, 3, INT32_MAX, INT32_MIN}) expect_nested_absent(i);
    EXPECT_EQ(0.0, filmo_home_continue_value(1));
}

TEST_F(HomeAccess, InnerPositionsAreCheckedAgainstTheirOwnCounts) {
    load_rich();
    struct {
        const char *what;
        const char *got;
    } texts[] = {
        {"genre past count", filmo_home_basic_genre(0, 2)},
        {"genre negative", filmo_home_basic_genre(0, -1)},
        {"genre of a basic without genres", filmo_home_basic_genre(1, 0)},
        {"genre of basic 9", filmo_home_basic_genre(9, 0)},
        {"director past count", filmo_home_basic_director(0, 1)},
        {"rating source past count", filmo_home_basic_rating_source(0, 2)},
        {"rating source negative", filmo_home_basic_rating_source(0, -1)},
        {"playlist past count", filmo_home_collection_playlist_name(0, 1)},
        {"playlist negative", filmo_home_collection_playlist_name(0, -1)},
        {"playlist of collection without", filmo_home_collection_playlist_name(1, 0)},
        {"id of playlist 1", filmo_home_collection_playlist_imdb(0, 1, 0)},
        {"id negative", filmo_home_collection_playlist_imdb(0, 0, -1)},
        {"id past count", filmo_home_collection_playlist_imdb(0, 0, 2)},
        {"id of collection 2", filmo_home_collection_playlist_imdb(2, 0, 0)},
    };
    for (const auto &t : texts) EXPECT_EQ(nullptr, t.got) << t.what;
    EXPECT_EQ(0.0, filmo_home_basic_rating_value(0, 2));
    EXPECT_EQ(0.0, filmo_home_basic_rating_value(0, INT32_MIN));
    EXPECT_EQ(0, filmo_home_collection_playlist_imdb_count(0, 1));
    EXPECT_EQ(0, filmo_home_collection_playlist_imdb_count(0, -1));
}

TEST_F(HomeAccess, BasicFieldByNameNeedsAnImdbId) {
    load_rich();
    struct {
        int32_t i;
        const char *name;
        const char *expect;
    } cases[] = {
        {0, "TITLE", "Alpha"},       {0, "imdbid", "tt100"},    {0, "ImDbId", "tt100"},
        {0, "TagLine", "tag"},       {0, "plot", "plot"},       {0, "posterurl", "p.jpg"},
        {0, "PictureURL", "q.jpg"},  {0, "poster", nullptr},    {0, "imdb", nullptr},
        {0, "", nullptr},            {0, nullptr, nullptr},     {0, "title ", nullptr},
        {0, "T\xC4\xB0TLE", nullptr}, {1, "title", "Beta"},     {1, "plot", nullptr},
        {2, "title", nullptr},       {2, "plot", nullptr},      {3, "title", nullptr},
        {-1, "title", nullptr},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(c.expect, filmo_home_basic_field(c.i, c.name))
            << c.i << " " << (c.name ? c.name : "(null)");
    // The dedicated accessors still answer for the basic without an IMDb id.
    EXPECT_STREQ("NoImdb", filmo_home_basic_title(2));
}

TEST_F(HomeAccess, NothingHeldGivesNeutralValues) {
    expect_no_page();
    load_rich();
    filmo_cache_clear();
    expect_no_page();
    load_rich();
    filmo_free_home();
    expect_no_page();
}

TEST_F(HomeAccess, EmailWithoutAccountPresence) {
    const char doc[] = R"({"UserInfo": {"Email": "only@mail"}})";
    ASSERT_EQ(0, filmo_parse_homepage_json(doc, sizeof doc - 1));
    EXPECT_STREQ("only@mail", filmo_home_user_email());
    EXPECT_EQ(0, filmo_home_has_userinfo());
    EXPECT_EQ(nullptr, filmo_home_user_id());
}

}  // namespace
