// Cache control across views: times-to-live, expiry as the host sees it, invalidation by view
// and key, clearing and shutdown.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "filmo_internal.h"
#include "test_support.h"

namespace {

using filmo_test::ManualClock;
using filmo_test::reset_client;
using filmo_test::ScriptedTransport;

const char *const kViews[] = {"home", "collections", "person", "popular"};

// The cache fields of one slot, so a test can hold a result without fetching it.
struct Slot {
    yyjson_doc **doc;
    char *key;
    size_t key_size;
    int64_t *fetched_at;
    int32_t *ttl;
    int32_t *valid;
};

Slot slot(const std::string &view) {
    filmo_state &c = g_client;
    if (view == "home")
        return {&c.home_doc, c.home_key, sizeof c.home_key, &c.home_fetched_at, &c.home_ttl,
                &c.home_valid};
    if (view == "collections")
        return {&c.colls_doc, c.colls_key, sizeof c.colls_key, &c.colls_fetched_at, &c.colls_ttl,
                &c.colls_valid};
    if (view == "person")
        return {&c.person_doc, c.person_key, sizeof c.person_key, &c.person_fetched_at,
                &c.person_ttl, &c.person_valid};
    return {&c.pop_doc, c.pop_key, sizeof c.pop_key, &c.pop_fetched_at, &c.pop_ttl, &c.pop_valid};
}

// Holds a result in a slot: a real document (so emptying must release it), key, time, ttl.
void hold(const std::string &view, const char *key, int64_t fetched_at = 1000,
          int32_t ttl = 600) {
    Slot s = slot(view);
    ASSERT_EQ(*s.doc, nullptr) << view;
    *s.doc = yyjson_read("{}", 2, 0);
    std::snprintf(s.key, s.key_size, "%s", key);
    *s.fetched_at = fetched_at;
    *s.ttl = ttl;
    *s.valid = 1;
}

void hold_all() {
    hold("home", "home|u1|0");
    hold("collections", "fr-FR");
    hold("person", "person|nm1|en-US");
    hold("popular", "pop|1|1|en-US");
}

bool held(const std::string &view) { return *slot(view).valid != 0; }

int32_t has(const char *view) {
    int32_t answer = -1;
    EXPECT_EQ(filmo_cache_has(view, nullptr, &answer), 0) << view;
    return answer;
}

class CacheControl : public ::testing::Test {
protected:
    // The clock goes in after the reset, which restores the real one.
    void SetUp() override {
        reset_client();
        clock = std::make_unique<ManualClock>(1000);
    }
    void TearDown() override {
        clock.reset();
        reset_client();
    }
    std::unique_ptr<ManualClock> clock;
};

TEST_F(CacheControl, NothingHeldAtLoad) {
    EXPECT_EQ(filmo_cache_entries(), 0);
    for (const char *v : kViews) EXPECT_EQ(has(v), 0) << v;
    EXPECT_EQ(has("*"), 0);
}

TEST_F(CacheControl, HasRefusesNullAndUnknownViews) {
    hold_all();
    for (const char *bad : {static_cast<const char *>(nullptr), "Home", "people", "", "* "}) {
        int32_t answer = 7;
        filmo_set_err("earlier failure");
        EXPECT_EQ(filmo_cache_has(bad, "fr-FR", &answer), FILMO_ERR_ARG) << (bad ? bad : "null");
        EXPECT_EQ(answer, 0);
        EXPECT_STREQ(filmo_last_error(), "earlier failure");
    }
    EXPECT_EQ(filmo_cache_has("home", nullptr, nullptr), 0);
    EXPECT_EQ(filmo_cache_has(nullptr, nullptr, nullptr), FILMO_ERR_ARG);
}

TEST_F(CacheControl, HasIgnoresTheKey) {
    hold("collections", "fr-FR");
    int32_t answer = 0;
    EXPECT_EQ(filmo_cache_has("collections", "en-US", &answer), 0);
    EXPECT_EQ(answer, 1);
}

TEST_F(CacheControl, SetTtlReplacesOnlyPositiveValues) {
    g_client.person_ttl = 111;
    g_client.pop_ttl = 222;
    filmo_set_err("earlier failure");
    filmo_cache_set_ttl(60, 0, -5, 10);
    EXPECT_EQ(g_client.home_ttl, 60);
    EXPECT_EQ(g_client.person_ttl, 111);
    EXPECT_EQ(g_client.pop_ttl, 222);
    EXPECT_EQ(g_client.colls_ttl, 10);
    EXPECT_STREQ(filmo_last_error(), "earlier failure");
    EXPECT_STREQ(g_client.base_url, "");  // no prologue

    filmo_cache_set_ttl(1, 2, 3, 4);
    EXPECT_EQ(g_client.home_ttl, 1);
    EXPECT_EQ(g_client.person_ttl, 2);
    EXPECT_EQ(g_client.pop_ttl, 3);
    EXPECT_EQ(g_client.colls_ttl, 4);
}

TEST_F(CacheControl, ExpiryAsTheHostSeesIt) {
    for (const char *view : kViews) {
        SCOPED_TRACE(view);
        filmo_cache_clear();
        ManualClock::now = 1000;
        hold(view, "k", 1000, 1560);
        ManualClock::now = 1000 + 1560;
        EXPECT_EQ(has(view), 1);  // exactly ttl seconds old: still fresh
        ManualClock::now = 1000 + 1561;
        EXPECT_EQ(has(view), 0);
        // Expired results stay held: they count and make "*" answer 1.
        EXPECT_EQ(filmo_cache_entries(), 1);
        EXPECT_EQ(has("*"), 1);
        EXPECT_TRUE(held(view));
        // The ttl is read at each look-up, so lengthening it revives the result.
        filmo_cache_set_ttl(2000, 2000, 2000, 2000);
        EXPECT_EQ(has(view), 1);
    }
}

TEST_F(CacheControl, EntriesCountsHeldSlots) {
    int32_t expected = 0;
    for (const char *view : kViews) {
        hold(view, "k");
        EXPECT_EQ(filmo_cache_entries(), ++expected);
        EXPECT_EQ(filmo_cache_entries_count(), expected);
    }
}

TEST_F(CacheControl, InvalidateByViewAndKey) {
    struct Case {
        const char *view;
        const char *key;
        const char *emptied;  // the one view emptied, "*" for all, "" for none
    };
    const Case cases[] = {
        {"collections", "en-US", ""},
        {"collections", "fr-FR", "collections"},
        {"collections", "", "collections"},
        {"collections", nullptr, "collections"},
        {"Collections", nullptr, ""},
        {"people", nullptr, ""},
        {"home", "home|u1|0", "home"},
        {"home", "home|u2|0", ""},
        {"person", "person|nm1|en-US", "person"},
        {"person", "person|nm1|fr-FR", ""},
        {"popular", "pop|1|1|en-US", "popular"},
        {"popular", "pop|1|1|en-U", ""},
        {"*", "fr-FR", "*"},
        {"*", nullptr, "*"},
        {nullptr, "anything", "*"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.view ? c.view : "null") + " / " + (c.key ? c.key : "null"));
        reset_client();
        hold_all();
        filmo_set_err("earlier failure");
        filmo_cache_invalidate(c.view, c.key);
        for (const char *view : kViews) {
            const bool gone = std::strcmp(c.emptied, "*") == 0 || std::strcmp(c.emptied, view) == 0;
            EXPECT_EQ(held(view), !gone) << view;
            EXPECT_EQ(*slot(view).doc == nullptr, gone) << view;
        }
        EXPECT_STREQ(filmo_last_error(), "earlier failure");
    }
}

TEST_F(CacheControl, EmptyingKeepsKeyTimeAndTtl) {
    hold_all();
    g_client.last_content_hash = 42;
    filmo_cache_clear();
    EXPECT_EQ(filmo_cache_entries(), 0);
    EXPECT_EQ(filmo_last_content_hash(), 42);
    for (const char *view : kViews) {
        Slot s = slot(view);
        EXPECT_EQ(*s.doc, nullptr) << view;
        EXPECT_EQ(*s.fetched_at, 1000) << view;
        EXPECT_EQ(*s.ttl, 600) << view;
    }
    EXPECT_STREQ(g_client.colls_key, "fr-FR");
    EXPECT_STREQ(g_client.home_key, "home|u1|0");
}

TEST_F(CacheControl, FreeAllEmptiesEverySlotAndForgetsTheContentHash) {
    hold_all();
    g_client.last_content_hash = 42;
    filmo_free_all();
    EXPECT_EQ(filmo_cache_entries(), 0);
    EXPECT_EQ(filmo_last_content_hash(), -1);
}

TEST_F(CacheControl, ShutdownReturnsToUnconfigured) {
    ScriptedTransport st;
    filmo_set_host("http://127.0.0.1:9/");
    st.install();
    hold_all();
    filmo_cache_set_ttl(11, 22, 33, 44);
    filmo_set_homepage_hash(777);
    filmo_set_err("earlier failure");
    g_client.last_http_code = 502;
    g_client.last_content_hash = 5;

    filmo_shutdown();
    EXPECT_EQ(filmo_cache_entries(), 0);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(filmo_last_content_hash(), -1);
    EXPECT_EQ(g_client.homepage_hash, 0);
    EXPECT_EQ(g_client.has_transport, 0);
    EXPECT_EQ(g_client.transport, nullptr);
    EXPECT_STREQ(g_client.base_url, "http://127.0.0.1:9/");
    EXPECT_EQ(g_client.home_ttl, 11);
    EXPECT_EQ(g_client.person_ttl, 22);
    EXPECT_EQ(g_client.pop_ttl, 33);
    EXPECT_EQ(g_client.colls_ttl, 44);

    // Accessors are neutral and a fetch that needs the server has no transport.
    EXPECT_EQ(filmo_collection_count(), 0);
    EXPECT_EQ(filmo_people_id(), -1);
    EXPECT_EQ(filmo_home_json(), nullptr);
    EXPECT_EQ(filmo_get_people_detail("nm0000001", "en-US"), FILMO_ERR_NO_TRANSPORT);
    EXPECT_STREQ(filmo_last_error(), FILMO_MSG_NO_TRANSPORT);
    EXPECT_EQ(st.calls(), 0u);

    // Still usable: installing again works.
    st.install();
    EXPECT_EQ(g_client.has_transport, 1);
}

TEST_F(CacheControl, ShutdownKeepsTheFixtureState) {
    ASSERT_EQ(filmo_use_fake(), 0);
    ASSERT_EQ(filmo_fake_mode(2), 0);
    ASSERT_EQ(filmo_get_collections("en-US"), FILMO_ERR_HTTP);
    ASSERT_EQ(filmo_fake_calls(), 1u);
    filmo_shutdown();
    EXPECT_EQ(filmo_fake_calls(), 1u);
    EXPECT_STRNE(filmo_fake_last_url(), "");
    // The mode survives too.
    ASSERT_EQ(filmo_use_fake(), 0);
    EXPECT_EQ(filmo_get_collections("en-US"), FILMO_ERR_HTTP);
}

// The same control through a real view: the collections slot is keyed by its language.
TEST_F(CacheControl, CollectionsFetchedThenInvalidatedByLanguage) {
    ScriptedTransport st;
    st.install();
    st.ok("[]").ok("[]");
    ASSERT_EQ(filmo_get_collections("fr-FR"), 0) << filmo_last_error();
    EXPECT_EQ(has("collections"), 1);
    EXPECT_EQ(filmo_get_collections("fr-FR"), 0);
    EXPECT_EQ(st.calls(), 1u);  // answered from the slot

    filmo_cache_invalidate("collections", "en-US");
    EXPECT_EQ(has("collections"), 1);
    filmo_cache_invalidate("collections", "fr-FR");
    EXPECT_EQ(has("collections"), 0);
    EXPECT_EQ(filmo_get_collections("fr-FR"), 0);
    EXPECT_EQ(st.calls(), 2u);
}

}  // namespace
