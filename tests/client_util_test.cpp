// Pure helpers of the client core: last-error setter, text copies, URL encoding, stable hash,
// JSON readers and cache expiry (the bounded inflate: inflate_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "filmo_internal.h"
#include "test_support.h"

namespace {

class ClientUtil : public ::testing::Test {
protected:
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { filmo_test::reset_client(); }
};

// ---- last error and copies ---------------------------------------------------------------

TEST_F(ClientUtil, ErrorTextFormatsCutsAndClears) {
    filmo_set_err("HTTP %ld / %lld / %llu / %zu", 404L, -5LL, 18446744073709551615ULL,
                  size_t{7});
    EXPECT_STREQ(g_client.last_error, "HTTP 404 / -5 / 18446744073709551615 / 7");

    const std::string long_text(300, 'x');
    filmo_set_err("transport: %s", long_text.c_str());
    EXPECT_EQ(std::strlen(g_client.last_error), 255u);
    EXPECT_EQ(std::string(g_client.last_error), ("transport: " + long_text).substr(0, 255));

    filmo_set_err("%s", "");
    EXPECT_STREQ(g_client.last_error, "");
    filmo_set_err("oom");
    const char *empty = "";
    filmo_set_err(empty, 0);
    EXPECT_STREQ(g_client.last_error, "");
}

TEST_F(ClientUtil, ErrorTextMayWrapTheCurrentOne) {
    filmo_set_err("HTTP %ld", 500L);
    filmo_set_err("transport: %s", g_client.last_error);
    EXPECT_STREQ(g_client.last_error, "transport: HTTP 500");
}

// The copies are the transport library's duplicators (tested there); only the client's own
// contract is checked here.
TEST_F(ClientUtil, TextCopies) {
    vornak_cptr<char> empty(filmo_strndup(nullptr, 0));
    EXPECT_STREQ(empty.get(), "");
    EXPECT_EQ(filmo_strndup(nullptr, 1), nullptr);
    vornak_cptr<char> copy(filmo_strdup("text"));
    EXPECT_STREQ(copy.get(), "text");
}

// ---- URL encoding ------------------------------------------------------------------------

TEST_F(ClientUtil, UrlEncodingKeepsOnlyTheUnreservedSet) {
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"a b&c=d/\xC3\xA9", "a%20b%26c%3Dd%2F%C3%A9"},
        {"-._~", "-._~"},
        {"AZaz09", "AZaz09"},
        {"+%?#", "%2B%25%3F%23"},
        {"\x01\x7F\xFF", "%01%7F%FF"},
        {"", ""},
        {nullptr, ""},
    };
    for (const Case &k : cases) {
        vornak_cptr<char> got(filmo_url_encode(k.in));
        ASSERT_NE(got, nullptr);
        EXPECT_STREQ(got.get(), k.out) << (k.in ? k.in : "(null)");
    }

    // Every byte value: three characters exactly when it is outside the unreserved set.
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
    vornak_cptr<char> got(filmo_url_encode(all.c_str()));
    ASSERT_NE(got, nullptr);
    size_t kept = 0;
    for (int c = 1; c < 256; ++c) kept += std::isalnum(c) || std::strchr("-._~", c) ? 1 : 0;
    EXPECT_EQ(kept, 66u);
    EXPECT_EQ(std::strlen(got.get()), kept + 3 * (255 - kept));
}

TEST_F(ClientUtil, UrlEncodingOutOfMemory) {
    vornak_alloc_fail_after(0);
    EXPECT_EQ(filmo_url_encode("abc"), nullptr);
    EXPECT_EQ(filmo_url_encode(nullptr), nullptr);
}

// ---- stable hash -------------------------------------------------------------------------

int64_t hash_of(const std::string &s) { return filmo_stable_hash(s.data(), s.size()); }

TEST_F(ClientUtil, StableHashWorkedValues) {
    struct Case {
        std::string bytes;
        int64_t hash;
    } cases[] = {
        {"", 371857150},
        {"abc", 1099313834},
        {"a", 372029373},
        {"\xC3\xA9", 372029253},             // the one unit U+00E9
        {"\xF0\x9F\x98\x80", 1126268081},    // U+1F600 as the pair D83D DE00
        {std::string("a\0b", 3), 372029373},  // a zero unit ends the hashing
        {"\xE6\x8D\xA0\xE1\xB6\xBA", 0},     // units 6360 1DBA sum to exactly INT32_MIN
    };
    for (const Case &k : cases) EXPECT_EQ(hash_of(k.bytes), k.hash) << k.bytes;
    // The two-byte form of U+00E9 and its overlong three-byte form decode to the same unit.
    EXPECT_EQ(hash_of("\xE0\x83\xA9"), 372029253);
}

TEST_F(ClientUtil, StableHashRefusesMalformedUtf8) {
    const std::string cases[] = {
        "ab\xC3",             // ends inside a sequence
        "\xE2\x82",           // three-byte lead with one continuation
        "\xF0\x9F\x98",       // four-byte lead cut short
        "\x80",               // lone continuation byte
        "a\xBF",              // continuation byte at a lead position
        "\xF8\x88\x80\x80",   // five-byte lead
        "\xFF",               //
        "\xC3\x28",           // continuation of the wrong form
        "\xE2\x28\xA1",       //
        std::string("a\0\xC3", 3),  // a zero unit does not excuse what follows
    };
    for (const std::string &s : cases) EXPECT_EQ(hash_of(s), 0) << testing::PrintToString(s);
    EXPECT_EQ(filmo_stable_hash(nullptr, 0), 0);
    EXPECT_EQ(filmo_stable_hash(nullptr, 5), 0);
}

TEST_F(ClientUtil, StableHashIsNeverNegativeAndNeverAbove31Bits) {
    uint32_t seed = 12345;
    for (int i = 0; i < 2000; ++i) {
        std::string s;
        for (int k = 0; k < i % 17 + 1; ++k) {
            seed = seed * 1103515245u + 12345u;
            s.push_back(static_cast<char>(0x20 + (seed >> 16) % 0x5F));
        }
        const int64_t h = hash_of(s);
        ASSERT_GE(h, 0);
        ASSERT_LE(h, 2147483647);
    }
}

TEST_F(ClientUtil, StableHashNeedsNoMemory) {
    vornak_alloc_fail_after(0);
    EXPECT_EQ(hash_of("abc"), 1099313834);
    EXPECT_EQ(hash_of(""), 371857150);
    EXPECT_EQ(vornak_alloc_failures(), 0);
}

// The hash as its definition reads: the whole text decoded to UTF-16 first, then the units
// hashed in pairs. The library hashes while decoding and takes ASCII eight bytes at a time.
int64_t reference_hash(const std::string &s) {
    std::vector<uint16_t> u;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
        uint32_t cp = more == 0 ? c : more == 1 ? c & 0x1F : more == 2 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; k <= more; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        i += more + 1;
        if (cp <= 0xFFFF) {
            u.push_back(static_cast<uint16_t>(cp));
        } else {
            u.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            u.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    uint32_t h1 = 5381, h2 = 5381;
    for (size_t i = 0; i < u.size(); i += 2) {
        if (u[i] == 0) break;
        h1 = (h1 * 33u) ^ u[i];
        if (i + 1 == u.size() || u[i + 1] == 0) break;
        h2 = (h2 * 33u) ^ u[i + 1];
    }
    const int32_t r = static_cast<int32_t>(h1 + h2 * 1566083941u);
    return r == INT32_MIN ? 0 : std::llabs(r);
}

TEST_F(ClientUtil, StableHashAgreesWithItsDefinitionAcrossAsciiRuns) {
    // Multi-byte characters and zero bytes at every offset around the eight-byte ASCII steps,
    // after runs of odd and even length, so each lane meets each kind of unit.
    const std::string inserts[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                   std::string(1, '\0')};
    for (const std::string &ins : inserts) {
        for (size_t before = 0; before < 20; ++before) {
            for (size_t after = 0; after < 12; ++after) {
                std::string s(before, 'a');
                for (size_t i = 0; i < before; ++i) s[i] = static_cast<char>('a' + i % 26);
                s += ins;
                for (size_t i = 0; i < after; ++i) s.push_back(static_cast<char>('A' + i % 26));
                ASSERT_EQ(hash_of(s), reference_hash(s)) << before << " " << after;
            }
        }
    }
}

// ---- JSON readers ------------------------------------------------------------------------

// A parsed document whose root object is read by the tests.
struct Doc {
    explicit Doc(const std::string &json) : doc(filmo_parse_json(json.data(), json.size())) {
        if (!doc) throw std::runtime_error("bad test JSON: " + json);
    }
    yyjson_val *root() const { return yyjson_doc_get_root(doc.get()); }
    yyjson_val *at(const char *key) const { return yyjson_obj_get(root(), key); }
    filmo_doc_ptr doc;
};

int32_t read_id(const char *json, const char *first = "Id", const char *second = "id") {
    Doc d(json);
    int32_t v = -99;
    filmo_ji(&v, d.root(), first, second);
    return v;
}

TEST_F(ClientUtil, LookupPrefersTheFirstSpellingThenTheSecondThenAnyCase) {
    struct Case {
        const char *json;
        const char *first, *second;
        int32_t value;
    } cases[] = {
        {R"({"Id":5,"id":7})", "Id", "id", 5},
        {R"({"id":7,"Id":5})", "Id", "id", 5},
        {R"({"id":7})", "Id", "id", 7},
        {R"({"ID":9})", "Id", "id", 9},
        {R"({"iD":1,"ID":2})", "Id", "id", 1},
        {R"({"x":1})", "Id", "id", 0},
        {R"({"BAR":1})", "Foo", "bar", 0},    // the second spelling is matched exactly only
        {R"({"bar":4})", "Foo", "bar", 4},
        {R"({"ID":3})", nullptr, "id", 3},     // no first spelling: the second one folds
        {R"({"ID":3})", "id", "id", 3},
        {R"({"Idx":3})", "Id", "id", 0},
        {R"({"I\u0000x":4})", "i", nullptr, 4},  // keys compare up to their first NUL
        {R"({"\u00c9":6})", "\xC3\xA9", nullptr, 0},  // only A to Z fold
    };
    for (const Case &k : cases)
        EXPECT_EQ(read_id(k.json, k.first, k.second), k.value)
            << k.json << " " << (k.first ? k.first : "(null)");
}

TEST_F(ClientUtil, LookupOnlyInObjects) {
    Doc d(R"({"arr":[{"Id":1}],"s":"Id","o":{"Id":2}})");
    EXPECT_EQ(filmo_geti(d.at("arr"), "Id", "id"), nullptr);
    EXPECT_EQ(filmo_geti(d.at("s"), "Id", "id"), nullptr);
    EXPECT_EQ(filmo_geti(nullptr, "Id", "id"), nullptr);
    EXPECT_EQ(filmo_geti(d.at("o"), nullptr, nullptr), nullptr);
    EXPECT_EQ(yyjson_get_int(filmo_geti(d.at("o"), "Id", "id")), 2);
}

struct Num {
    const char *json;  // the member's value
    int32_t found;
    int32_t i32;
    int64_t i64;
    double d;
};

TEST_F(ClientUtil, NumberReadersCoerceAndClamp) {
    const Num cases[] = {
        {"12.9", 1, 12, 12, 12.9},
        {"-12.9", 1, -12, -12, -12.9},
        {"2100000000.5", 1, INT32_MAX, 2100000000, 2100000000.5},
        {"2099999999.0", 1, 2099999999, 2099999999, 2099999999.0},
        {"-2100000000.0", 1, INT32_MIN, -2100000000, -2100000000.0},
        {"-2099999999.9", 1, -2099999999, -2099999999, -2099999999.9},
        {"1e300", 1, INT32_MAX, INT64_MAX, 1e300},
        {"-1e300", 1, INT32_MIN, INT64_MIN, -1e300},
        {"1e19", 1, INT32_MAX, INT64_MAX, 1e19},
        {"-9e18", 1, INT32_MIN, INT64_MIN, -9e18},
        {"8.9e18", 1, INT32_MAX, 8900000000000000000LL, 8.9e18},
        {"3000000000", 1, -1294967296, 3000000000LL, -1294967296.0},
        {"4294967296", 1, 0, 4294967296LL, 0.0},
        {"4294967295", 1, -1, 4294967295LL, -1.0},
        {"-1", 1, -1, -1, -1.0},
        {"-3000000000", 1, 1294967296, -3000000000LL, 1294967296.0},
        {"18446744073709551615", 1, -1, INT64_MAX, -1.0},
        {"-9223372036854775808", 1, 0, INT64_MIN, 0.0},
        {"7", 1, 7, 7, 7.0},
        {"\"12\"", 0, 0, 0, 0.0},
        {"true", 0, 0, 0, 0.0},
        {"null", 0, 0, 0, 0.0},
        {"[1]", 0, 0, 0, 0.0},
        {"{\"v\":1}", 0, 0, 0, 0.0},
    };
    for (const Num &k : cases) {
        Doc d(std::string("{\"V\":") + k.json + "}");
        int32_t i32 = -7;
        int64_t i64 = -7;
        double dbl = -7.0;
        EXPECT_EQ(filmo_ji(&i32, d.root(), "V", "v"), k.found) << k.json;
        EXPECT_EQ(i32, k.i32) << k.json;
        EXPECT_EQ(filmo_jll(&i64, d.root(), "V", "v"), k.found) << k.json;
        EXPECT_EQ(i64, k.i64) << k.json;
        EXPECT_EQ(filmo_jd(&dbl, d.root(), "V", "v"), k.found) << k.json;
        EXPECT_EQ(dbl, k.d) << k.json;

        yyjson_val *v = d.at("V");
        int32_t direct = -7;
        EXPECT_EQ(filmo_val_ji(v, &direct), k.found) << k.json;
        EXPECT_EQ(direct, k.i32) << k.json;
        EXPECT_EQ(filmo_val_jd(v), k.d) << k.json;
    }
}

TEST_F(ClientUtil, ReadersWriteTheirDefaultForAMissingMember) {
    Doc d(R"({"other":1})");
    const char *s = "x";
    int32_t i = 5, b = 5;
    int64_t ll = 5;
    double dbl = 5.0;
    EXPECT_EQ(filmo_js(&s, d.root(), "Name", "name"), 0);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(filmo_ji(&i, d.root(), "Name", "name"), 0);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(filmo_jll(&ll, d.root(), "Name", "name"), 0);
    EXPECT_EQ(ll, 0);
    EXPECT_EQ(filmo_jd(&dbl, nullptr, "Name", "name"), 0);
    EXPECT_EQ(dbl, 0.0);
    EXPECT_EQ(filmo_jb(&b, d.root(), "Name", "name"), 0);
    EXPECT_EQ(b, 0);
    int32_t direct = 5;
    EXPECT_EQ(filmo_val_ji(nullptr, &direct), 0);
    EXPECT_EQ(direct, 0);
    EXPECT_EQ(filmo_val_jd(nullptr), 0.0);
}

TEST_F(ClientUtil, StringAndBooleanReadersTakeOnlyTheirOwnKind) {
    Doc d(R"({"S":"text","N":12,"T":true,"F":false,"One":1,"St":"true","Nul":null})");
    struct Case {
        const char *name;
        const char *text;
        int32_t bool_found, bool_value;
    } cases[] = {
        {"S", "text", 0, 0}, {"N", nullptr, 0, 0}, {"T", nullptr, 1, 1},
        {"F", nullptr, 1, 0}, {"One", nullptr, 0, 0}, {"St", "true", 0, 0},
        {"Nul", nullptr, 0, 0},
    };
    for (const Case &k : cases) {
        const char *s = "junk";
        EXPECT_EQ(filmo_js(&s, d.root(), k.name, nullptr), k.text ? 1 : 0) << k.name;
        if (k.text) {
            EXPECT_STREQ(s, k.text);
            EXPECT_EQ(s, yyjson_get_str(d.at(k.name)));  // points into the document
        } else {
            EXPECT_EQ(s, nullptr) << k.name;
        }
        int32_t b = 9;
        EXPECT_EQ(filmo_jb(&b, d.root(), k.name, nullptr), k.bool_found) << k.name;
        EXPECT_EQ(b, k.bool_value) << k.name;
    }
}

TEST_F(ClientUtil, StringArrays) {
    Doc d(R"({"mixed":["tt1",5,null,"tt2"],"empty":[],"numbers":[1,2],"obj":{"a":"b"}})");
    const char **texts = reinterpret_cast<const char **>(1);
    size_t count = 9;

    ASSERT_EQ(filmo_load_strarr(d.at("mixed"), &texts, &count), 0);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(texts[0], "tt1");
    EXPECT_STREQ(texts[1], "tt2");
    std::free(texts);

    vornak_alloc_fail_after(0);  // an empty array allocates nothing
    for (const char *key : {"empty", "obj", "none"}) {
        texts = reinterpret_cast<const char **>(1);
        count = 9;
        EXPECT_EQ(filmo_load_strarr(d.at(key), &texts, &count), 0) << key;
        EXPECT_EQ(texts, nullptr) << key;
        EXPECT_EQ(count, 0u) << key;
    }
    EXPECT_EQ(vornak_alloc_failures(), 0);

    texts = reinterpret_cast<const char **>(1);
    count = 9;
    EXPECT_EQ(filmo_load_strarr(d.at("mixed"), &texts, &count), -1);
    EXPECT_EQ(texts, nullptr);
    EXPECT_EQ(count, 0u);
    vornak_alloc_fail_after(-1);

    ASSERT_EQ(filmo_load_strarr(d.at("numbers"), &texts, &count), 0);
    EXPECT_NE(texts, nullptr);
    EXPECT_EQ(count, 0u);
    std::free(texts);
}

// ---- cache expiry ------------------------------------------------------------------------

TEST_F(ClientUtil, ExpiryFollowsTheInjectedClock) {
    filmo_test::ManualClock clock(1000000);
    struct Case {
        int64_t fetched_at;
        int32_t ttl;
        int32_t expired;
    } cases[] = {
        {1000000 - 1560, 1560, 0},  // exactly ttl old: still fresh
        {1000000 - 1561, 1560, 1},
        {1000000, 1, 0},
        {1000000 + 50, 1, 0},       // stored "in the future": fresh
        {0, 1560, 1},               // never stored
        {0, 0, 0},                  // no ttl: never expires
        {1, -5, 0},
        {INT64_MIN, 1, 1},          // no overflow for an absurd fetch time
        {INT64_MAX, 1, 0},
    };
    for (const Case &k : cases)
        EXPECT_EQ(filmo_cache_expired(k.fetched_at, k.ttl), k.expired)
            << k.fetched_at << " / " << k.ttl;
    EXPECT_EQ(filmo_now(), 1000000);
    filmo_test::ManualClock::now += 10;
    EXPECT_EQ(filmo_now(), 1000010);
}

TEST_F(ClientUtil, DefaultClockIsTheSystemTime) {
    filmo_set_clock(nullptr);
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const int64_t now = filmo_now();
    EXPECT_GE(now, before);
    EXPECT_LE(now, before + 2);
}

}  // namespace
