// Soak: many thousand fetch / read / invalidate cycles over the four views through the fixture
// backend, with every failure mode 1..7 in turn, cache hits, expiry under a moving clock and the
// home page's unchanged answer. After a warm-up the process must not grow: resident memory stays
// within a small tolerance and the heap holds the same bytes at the same point of every cycle.
//
// FILMO_SOAK_CYCLES sets the number of cycles (default 2000). Under AddressSanitizer (whose
// allocator quarantines freed memory) and under valgrind the cycles run but memory is not
// measured; those runs find leaks their own way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "filmo.h"
#include "memory_probe.h"
#include "test_support.h"

namespace {

using filmo_test::heap_in_use;
using filmo_test::ManualClock;
using filmo_test::resident_bytes;
using filmo_test::reset_client;

constexpr int kBasics = 24;

// A home page with every list; the titles carry the page's name so a mix-up would show.
std::string home_page(const std::string &who) {
    std::string basics;
    for (int k = 0; k < kBasics; ++k) {
        if (k) basics += ',';
        basics += R"({"IMDbId":"tt)" + std::to_string(1000 + k) + R"(","Title":")" + who + " " +
                  std::to_string(k) +
                  R"(","Year":1999,"Genres":["Drama","Crime"],"Directors":["D"],)"
                  R"("Ratings":{"imdb":7.5,"meta":80}})";
    }
    return R"({"List":[{"Id":"l","Value":"v"}],"Continues":[{"IMDbId":"tt1","Size":5000000000}],)"
           R"("Level30s":[{"IMDbID":"tt2"}],"Spotlights":[{"Title":"S"}],)"
           R"("ExtentList":[{"Id":"e"}],"Basics":[)" +
           basics +
           R"(],"Peoples":[{"ID":7,"Name":"Ann"}],)"
           R"("CollectionPlaylists":[{"Id":3,"Playlists":[{"Name":"P","IMDbIds":["tt1","tt2"]}]}],)"
           R"("UserInfo":{"ID":")" +
           who + R"(","Profiles":[{"ID":1,"Name":"Kid"}]}})";
}

const char *const kCollections =
    R"([{"Id":3,"Name":"Noir","Playlists":[{"Name":"P","IMDbIds":["tt1","tt2"]}]},)"
    R"({"Id":4,"Name":"Heist"}])";
const char *const kPerson =
    R"({"ID":138,"Name":"Leonardo","Popularity":7.25,"Pictures":[{"Url":"a.jpg","Width":5}],)"
    R"("NamesTranslate":["L"],"RelatedIMDbIds":["nm1","nm2"]})";
const char *const kPageOne = R"([{"ID":1,"Name":"One"},{"ID":2,"Name":"Two"}])";
const char *const kPageTwo = R"([{"ID":3,"Name":"Three"}])";
const char *const kPageCamel = R"([{"id":4,"name":"Four"},{"id":5,"name":"Five"}])";

class Soak : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/filmo-soak-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        put("homepage.anonymous-profile0.zlib", filmo_test::zlib_compress(home_page("anon")));
        put("homepage.auth-profile0.zlib", filmo_test::zlib_compress(home_page("u-1")));
        put("collections.en-US.json", kCollections);
        put("people-detail.nm0000138.json", kPerson);
        put("people-detail.12345.json", kPerson);
        put("people-detail.404.json", R"({"status":404})");
        put("people-popular.p1-pascal.json", kPageOne);
        put("people-popular.p2-pascal.json", kPageTwo);
        put("people-popular.pn2-camel.json", kPageCamel);
        put("people-popular.404.json", "[]");
    }
    static void TearDownTestSuite() {
        for (const std::string &f : files_) std::remove((dir_ + "/" + f).c_str());
        rmdir(dir_.c_str());
    }
    static void put(const std::string &name, const std::string &bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
        files_.push_back(name);
    }

    void SetUp() override {
        reset_client();
        ASSERT_EQ(filmo_fake_corpus(dir_.c_str()), 0);
        ASSERT_EQ(filmo_use_fake(), 0);
    }
    void TearDown() override { reset_client(); }

    static std::string dir_;
    static std::vector<std::string> files_;
};
std::string Soak::dir_;
std::vector<std::string> Soak::files_;

long cycles_wanted() {
    const char *v = std::getenv("FILMO_SOAK_CYCLES");
    long n = v ? std::strtol(v, nullptr, 10) : 0;
    return n > 0 ? n : 2000;
}

// The held views answer as the corpus says; pointers a failed fetch must not disturb.
struct Held {
    const char *home_title, *colls_name, *person_name, *pop_name;
    bool operator==(const Held &o) const {
        return home_title == o.home_title && colls_name == o.colls_name &&
               person_name == o.person_name && pop_name == o.pop_name;
    }
};
Held held() {
    return {filmo_home_basic_title(0), filmo_collection_name(0), filmo_people_name(),
            filmo_people_pop_name(0)};
}

// Reads every view through its accessors and checks what the corpus put there.
void read_views(const std::string &who, int page) {
    ASSERT_EQ(filmo_home_basics_count(), kBasics);
    for (int k = 0; k < kBasics; ++k) {
        ASSERT_STREQ(filmo_home_basic_title(k), (who + " " + std::to_string(k)).c_str());
        ASSERT_EQ(filmo_home_basic_genres_count(k), 2);
        ASSERT_STREQ(filmo_home_basic_director(k, 0), "D");
        ASSERT_DOUBLE_EQ(filmo_home_basic_rating_value(k, 1), 80.0);
    }
    ASSERT_STREQ(filmo_home_user_id(), who.c_str());
    ASSERT_EQ(filmo_home_continue_size(0), 5000000000LL);
    ASSERT_STREQ(filmo_home_collection_playlist_imdb(0, 0, 1), "tt2");
    ASSERT_EQ(filmo_home_collection_id(1), -1);

    ASSERT_EQ(filmo_collection_count(), 2);
    ASSERT_STREQ(filmo_collection_playlist_imdb(0, 0, 0), "tt1");
    ASSERT_EQ(filmo_collection_id(1), 4);

    ASSERT_STREQ(filmo_people_name(), "Leonardo");
    ASSERT_EQ(filmo_people_popularity_permille(), 7250);
    ASSERT_EQ(filmo_people_picture_w(0), 5);
    ASSERT_STREQ(filmo_people_related(1), "nm2");

    static const char *const first[] = {"One", "Three", "Four"};
    ASSERT_STREQ(filmo_people_pop_name(0), first[page]);
}

// What each failure mode makes of a fetch that reaches the backend: home page, collections,
// person, popular.
struct ModeExit {
    int32_t home, colls, person, pop;
};
const ModeExit kModes[8] = {
    {0, 0, 0, 0},  // mode 0 serves the corpus
    {FILMO_ERR_TRANSPORT, FILMO_ERR_TRANSPORT, FILMO_ERR_TRANSPORT, FILMO_ERR_TRANSPORT},
    {FILMO_ERR_HTTP, FILMO_ERR_HTTP, FILMO_ERR_HTTP, FILMO_ERR_HTTP},
    {FILMO_ERR_NOT_FOUND, FILMO_ERR_NOT_FOUND, FILMO_ERR_NOT_FOUND, FILMO_ERR_NOT_FOUND},
    {FILMO_ERR_DECODE, FILMO_ERR_DECODE, FILMO_ERR_DECODE, FILMO_ERR_DECODE},
    {FILMO_ERR_DECODE, FILMO_ERR_EMPTY, FILMO_ERR_EMPTY, FILMO_ERR_EMPTY},
    {FILMO_ERR_DECODE, FILMO_ERR_DECODE, FILMO_ERR_DECODE, FILMO_ERR_DECODE},
    {FILMO_HOME_UNCHANGED, FILMO_ERR_DECODE, FILMO_ERR_DECODE, FILMO_ERR_DECODE},
};

const int kPageIndex[3] = {1, 2, 1};
const int kPageNumbers[3] = {1, 1, 2};

// One cycle: fill every view (answered from the cache or fetched), read them, fail one fetch of
// every view in one mode against a different key, prove the held views intact, then empty some
// or all views. The clock moves so results expire now and then.
void cycle(long i, ManualClock &clock) {
    const std::string who = i % 2 ? "u-1" : "anon";
    const char *user = i % 2 ? "u-1" : "";
    const int page = static_cast<int>(i % 3);
    clock.now += 7 * 60;

    ASSERT_EQ(filmo_fake_mode(0), 0);
    ASSERT_EQ(filmo_get_homepage(user, 0, "en-US", i % 5 == 0 ? FILMO_HOME_UPDATE : 0), 0)
        << filmo_last_error();
    ASSERT_EQ(filmo_get_collections("en-US"), 0) << filmo_last_error();
    ASSERT_EQ(filmo_get_people_detail("nm0000138", nullptr), 0) << filmo_last_error();
    ASSERT_EQ(filmo_get_people_popular(kPageIndex[page], 20, kPageNumbers[page], "en-US"), 0)
        << filmo_last_error();
    read_views(who, page);

    // The server's unchanged answer: the host states the hash of the page it holds.
    if (i % 4 == 1) {
        filmo_set_homepage_hash(filmo_homepage_hash());
        const Held before = held();
        ASSERT_EQ(filmo_get_homepage(user, 0, "de-DE", FILMO_HOME_UPDATE), FILMO_HOME_UNCHANGED);
        ASSERT_TRUE(held() == before);
        filmo_set_homepage_hash(0);
    }

    const int mode = 1 + static_cast<int>(i % 7);
    ASSERT_EQ(filmo_fake_mode(mode), 0);
    const Held before = held();
    const ModeExit &want = kModes[mode];
    EXPECT_EQ(filmo_get_homepage(user, 0, "en-US", FILMO_HOME_UPDATE), want.home) << mode;
    EXPECT_EQ(filmo_get_collections("fr-FR"), want.colls) << mode;
    EXPECT_EQ(filmo_get_people_detail("12345", "en-US"), want.person) << mode;
    EXPECT_EQ(filmo_get_people_popular(kPageIndex[page], 20, kPageNumbers[page], "fr-FR"),
              want.pop)
        << mode;
    ASSERT_TRUE(held() == before) << "a failed fetch disturbed a held view in mode " << mode;
    ASSERT_EQ(filmo_fake_mode(0), 0);

    switch (i % 4) {
    case 0: filmo_cache_clear(); break;
    case 1: filmo_cache_invalidate("*", nullptr); break;
    case 2:
        filmo_cache_invalidate("collections", "en-US");
        filmo_cache_invalidate("person", nullptr);
        break;
    default: filmo_cache_invalidate("popular", ""); break;
    }
}

TEST_F(Soak, CyclesOverEveryViewAndFailureModeKeepMemoryFlat) {
    const long n = cycles_wanted();
    const long warm = n / 10 < 500 ? 500 : n / 10;
    const bool measure = !FILMO_ASAN && !FILMO_UNDER_VALGRIND();
    ManualClock clock(1700000000);
    long long heap0 = 0, rss0 = 0;
    for (long i = 0; i < n + warm; ++i) {
        cycle(i, clock);
        if (HasFatalFailure() || HasNonfatalFailure()) FAIL() << "cycle " << i;
        if (i == warm - 1) {
            // Empty views, the same point of the cycle as the final reading. Reading the resident
            // size first lets stdio make its one-time allocations before the heap is counted.
            filmo_cache_clear();
            rss0 = resident_bytes();
            heap0 = heap_in_use();
        }
    }
    EXPECT_EQ(filmo_fake_fail_count(), 0u);
    if (!measure) return;
    filmo_cache_clear();
    const long long heap_growth = heap_in_use() - heap0;
    const long long rss_growth = resident_bytes() - rss0;
    RecordProperty("heap_growth_bytes", std::to_string(heap_growth));
    RecordProperty("rss_growth_bytes", std::to_string(rss_growth));
    // The tolerance covers the allocator's per-size caches of freed blocks, which mallinfo2
    // counts as in use; one leaked block every few cycles is far above it.
    EXPECT_LE(heap_growth, 8192) << "the heap grew over " << n << " cycles";
    EXPECT_LE(rss_growth, 1 << 20) << "resident memory grew over " << n << " cycles";
}

}  // namespace
