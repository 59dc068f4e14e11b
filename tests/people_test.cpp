// The person-detail view: request, id rules, the person slot's cache rules, failures and
// out-of-memory paths, and the accessors with their fallbacks and coercions.
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

const std::string kPrefix = std::string(view_test::kBase) + "/api/AAA/GetPeopleDetail?id=";

const char *const kPascal = R"({
  "ID": 31, "Name": "Tom Hanks", "KnowsFor": "Acting", "ProfileUrl": "/p.jpg",
  "IMDbId": "nm0000158", "Biography": "bio", "Birthday": "1956-07-09", "Deathday": "never",
  "Homepage": "https://h", "PlaceOfBirth": "Concord", "KnownForDepartment": "Directing",
  "KnownCredits": "100", "Gender": 2, "Popularity": 7.25,
  "NamesTranslate": ["Том Хэнкс", "トム"],
  "Pictures": [{"Url": "u0", "Language": "en", "Width": 500, "Height": 750},
               {"Url": "u1", "Language": "fr", "Width": 1, "Height": 2}],
  "RelatedIMDbIds": ["nm1", "nm2", "nm3"]
})";

const char *const kCamel = R"({
  "id": 31, "name": "Tom Hanks", "knowsFor": "Acting", "profileUrl": "/p.jpg",
  "imDbId": "nm0000158", "biography": "bio", "birthday": "1956-07-09", "deathday": "never",
  "homepage": "https://h", "placeOfBirth": "Concord", "knownForDepartment": "Directing",
  "knownCredits": "100", "gender": 2, "popularity": 7.25,
  "namesTranslate": ["Том Хэнкс", "トム"],
  "pictures": [{"url": "u0", "language": "en", "width": 500, "height": 750},
               {"url": "u1", "language": "fr", "width": 1, "height": 2}],
  "relatedIMDbIds": ["nm1", "nm2", "nm3"]
})";

std::string person(const std::string &members) {
    return R"({"Name": "X")" + (members.empty() ? "" : ", " + members) + "}";
}

class PeopleTest : public view_test::ViewTest {
protected:
    void hold(const char *id, const char *language, const std::string &body) {
        t.ok(body);
        ASSERT_EQ(filmo_get_people_detail(id, language), 0) << filmo_last_error();
    }
};

// Every accessor gives its fallback.
void expect_fallbacks() {
    EXPECT_EQ(filmo_people_id(), -1);
    EXPECT_EQ(filmo_people_gender(), -1);
    EXPECT_EQ(filmo_people_popularity_permille(), -1);
    for (const char *text :
         {filmo_people_name(), filmo_people_knowsfor(), filmo_people_profileurl(),
          filmo_people_imdbid(), filmo_people_biography(), filmo_people_birthday(),
          filmo_people_deathday(), filmo_people_homepage(), filmo_people_placeofbirth(),
          filmo_people_knownfor_department(), filmo_people_knowncredits(),
          filmo_people_names_translate(0), filmo_people_picture_url(0),
          filmo_people_picture_lang(0), filmo_people_related(0)})
        EXPECT_EQ(text, nullptr);
    EXPECT_EQ(filmo_people_names_translate_count(), 0);
    EXPECT_EQ(filmo_people_pictures_count(), 0);
    EXPECT_EQ(filmo_people_related_count(), 0);
    EXPECT_EQ(filmo_people_picture_w(0), 0);
    EXPECT_EQ(filmo_people_picture_h(0), 0);
}

class PeopleSpelling : public PeopleTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(PeopleSpelling, EveryAccessorReadsTheSamePerson) {
    hold("nm0000158", "en-US", GetParam());
    EXPECT_EQ(filmo_people_id(), 31);
    EXPECT_STREQ(filmo_people_name(), "Tom Hanks");
    EXPECT_STREQ(filmo_people_knowsfor(), "Acting");
    EXPECT_STREQ(filmo_people_profileurl(), "/p.jpg");
    EXPECT_STREQ(filmo_people_imdbid(), "nm0000158");
    EXPECT_STREQ(filmo_people_biography(), "bio");
    EXPECT_STREQ(filmo_people_birthday(), "1956-07-09");
    EXPECT_STREQ(filmo_people_deathday(), "never");
    EXPECT_STREQ(filmo_people_homepage(), "https://h");
    EXPECT_STREQ(filmo_people_placeofbirth(), "Concord");
    EXPECT_STREQ(filmo_people_knownfor_department(), "Directing");
    EXPECT_STREQ(filmo_people_knowncredits(), "100");
    EXPECT_EQ(filmo_people_gender(), 2);
    EXPECT_EQ(filmo_people_popularity_permille(), 7250);
    ASSERT_EQ(filmo_people_names_translate_count(), 2);
    EXPECT_STREQ(filmo_people_names_translate(0), "Том Хэнкс");
    EXPECT_STREQ(filmo_people_names_translate(1), "トム");
    ASSERT_EQ(filmo_people_pictures_count(), 2);
    EXPECT_STREQ(filmo_people_picture_url(1), "u1");
    EXPECT_STREQ(filmo_people_picture_lang(1), "fr");
    EXPECT_EQ(filmo_people_picture_w(1), 1);
    EXPECT_EQ(filmo_people_picture_h(1), 2);
    EXPECT_STREQ(filmo_people_picture_url(0), "u0");
    EXPECT_STREQ(filmo_people_picture_lang(0), "en");
    EXPECT_EQ(filmo_people_picture_w(0), 500);
    EXPECT_EQ(filmo_people_picture_h(0), 750);
    ASSERT_EQ(filmo_people_related_count(), 3);
    EXPECT_STREQ(filmo_people_related(2), "nm3");
    EXPECT_STREQ(filmo_people_related(0), "nm1");
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 200);
}

INSTANTIATE_TEST_SUITE_P(BothSpellings, PeopleSpelling, ::testing::Values(kPascal, kCamel));

TEST_F(PeopleTest, PascalCaseWinsWhenBothSpellingsArePresent) {
    hold("1", "", R"({"id": 2, "ID": 1, "name": "camel", "Name": "Pascal", "GENDER": 1})");
    EXPECT_EQ(filmo_people_id(), 1);
    EXPECT_STREQ(filmo_people_name(), "Pascal");
    EXPECT_EQ(filmo_people_gender(), 1);  // any other capitalisation is found too
}

TEST_F(PeopleTest, MembersOfAnotherKindGiveTheFallback) {
    hold("1", "", person(R"("ID": "31", "Gender": true, "Popularity": "7", "KnowsFor": 5,
        "Biography": null, "ProfileUrl": [], "NamesTranslate": "a", "Pictures": {"Url": "u"},
        "RelatedIMDbIds": [1, "nm2", {}, null])"));
    EXPECT_EQ(filmo_people_id(), -1);
    EXPECT_EQ(filmo_people_gender(), -1);
    EXPECT_EQ(filmo_people_popularity_permille(), -1);
    EXPECT_EQ(filmo_people_knowsfor(), nullptr);
    EXPECT_EQ(filmo_people_biography(), nullptr);
    EXPECT_EQ(filmo_people_profileurl(), nullptr);
    EXPECT_EQ(filmo_people_names_translate_count(), 0);
    EXPECT_EQ(filmo_people_names_translate(0), nullptr);
    EXPECT_EQ(filmo_people_pictures_count(), 0);
    EXPECT_EQ(filmo_people_picture_url(0), nullptr);
    EXPECT_EQ(filmo_people_picture_w(0), 0);
    // Counts take elements of every kind; element accessors only their own kind.
    ASSERT_EQ(filmo_people_related_count(), 4);
    EXPECT_EQ(filmo_people_related(0), nullptr);
    EXPECT_STREQ(filmo_people_related(1), "nm2");
    EXPECT_EQ(filmo_people_related(2), nullptr);
    EXPECT_EQ(filmo_people_related(3), nullptr);
}

TEST_F(PeopleTest, ElementAccessorsOutOfRangeOrOfAnotherKind) {
    hold("1", "", person(R"("ID": 12.9, "Gender": -7.9, "NamesTranslate": ["a", 5, "c"],
        "Pictures": [7, {"Url": "u1", "Width": "9", "Height": 3000000000}, {}])"));
    EXPECT_EQ(filmo_people_id(), 12);
    EXPECT_EQ(filmo_people_gender(), -7);
    ASSERT_EQ(filmo_people_names_translate_count(), 3);
    EXPECT_EQ(filmo_people_names_translate(1), nullptr);
    EXPECT_STREQ(filmo_people_names_translate(2), "c");
    ASSERT_EQ(filmo_people_pictures_count(), 3);
    EXPECT_EQ(filmo_people_picture_url(0), nullptr);  // not an object
    EXPECT_STREQ(filmo_people_picture_url(1), "u1");
    EXPECT_EQ(filmo_people_picture_w(1), 0);
    EXPECT_EQ(filmo_people_picture_h(1), -1294967296);
    EXPECT_EQ(filmo_people_picture_lang(2), nullptr);
    for (int32_t i : {-1, 3, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(filmo_people_names_translate(i), nullptr);
        EXPECT_EQ(filmo_people_picture_url(i), nullptr);
        EXPECT_EQ(filmo_people_picture_lang(i), nullptr);
        EXPECT_EQ(filmo_people_picture_w(i), 0);
        EXPECT_EQ(filmo_people_picture_h(i), 0);
        EXPECT_EQ(filmo_people_related(i), nullptr);
    }
}

TEST_F(PeopleTest, PositionalReadsInAnyOrderAfterReplacement) {
    // Arrays of objects are walked; reads out of order, interleaved across arrays, and after
    // the document was replaced must all land on the right element.
    auto page = [](const std::string &tag, int n) {
        std::string pics, names, related;
        for (int i = 0; i < n; ++i) {
            std::string v = tag + std::to_string(i);
            const char *sep = i ? "," : "";
            pics += sep + std::string(R"({"Url": ")") + v + R"(", "Width": )" +
                    std::to_string(i) + "}";
            names += sep + std::string(R"({"n": ")") + v + R"("})";
            related += sep + std::string("[\"") + v + "\"]";
        }
        return person(R"("Pictures": [)" + pics + R"(], "NamesTranslate": ["s", )" + names +
                      R"(], "RelatedIMDbIds": [)" + related + ", \"" + tag + "\"]");
    };
    const int n = 300;
    hold("1", "", page("a", n));
    std::vector<int> order;
    for (int i = 0; i < n; ++i) order.push_back(i);
    for (int i = n - 1; i >= 0; i -= 7) order.push_back(i);
    for (int i = 0; i < n; i += 13) order.insert(order.end(), {i, n - 1 - i, i});
    for (int i : order) {
        std::string want = "a" + std::to_string(i);
        ASSERT_STREQ(filmo_people_picture_url(i), want.c_str()) << i;
        ASSERT_EQ(filmo_people_picture_w(i), i);
        ASSERT_EQ(filmo_people_names_translate(i + 1), nullptr);
        ASSERT_EQ(filmo_people_related(i), nullptr);
    }
    EXPECT_STREQ(filmo_people_names_translate(0), "s");
    EXPECT_STREQ(filmo_people_related(n), "a");

    ASSERT_STREQ(filmo_people_picture_url(n - 1), ("a" + std::to_string(n - 1)).c_str());
    hold("2", "", page("b", n));
    EXPECT_STREQ(filmo_people_picture_url(n - 1), ("b" + std::to_string(n - 1)).c_str());
    EXPECT_STREQ(filmo_people_picture_url(0), "b0");
    EXPECT_STREQ(filmo_people_related(n), "b");
}

TEST_F(PeopleTest, PopularityPerMille) {
    struct Case {
        const char *json;
        int32_t permille;
    } cases[] = {
        {"7.25", 7250},
        {"12.3456", 12346},
        {"0.0004", 0},
        {"0.0005", 1},
        {"2000000.0", 2000000000},
        {"2000000.5", 2000000000},
        {"1e300", 2000000000},
        {"-1.5", -1499},
        {"-0.0015", -1},
        {"3", 3000},
        {"-2147483.6", -2147483599},
        {"-2147483.6485", INT32_MIN},
        {"-1e300", INT32_MIN},
        {"3000000000", INT32_MIN},  // an integer reads as its low 32 bits
        {"4294967296", 0},
        {"true", -1},
        {"null", -1},
    };
    int id = 0;
    for (const Case &c : cases) {
        t.ok(person(std::string(R"("Popularity": )") + c.json));
        ASSERT_EQ(filmo_get_people_detail(std::to_string(++id).c_str(), "en"), 0);
        EXPECT_EQ(filmo_people_popularity_permille(), c.permille) << c.json;
    }
}

TEST_F(PeopleTest, PopularityThatNoStrictAnswerCarries) {
    // Documents a lenient reader made: whatever they hold, the conversion stays defined.
    struct Case {
        const char *json;
        int32_t permille;
    } cases[] = {{"NaN", -1}, {"Infinity", 2000000000}, {"-Infinity", INT32_MIN}};
    for (const Case &c : cases) {
        std::string json = std::string(R"({"Popularity": )") + c.json + "}";
        yyjson_doc *doc = yyjson_read(json.data(), json.size(), YYJSON_READ_ALLOW_INF_AND_NAN);
        ASSERT_NE(doc, nullptr) << c.json;
        filmo_free_person();
        g_client.person_doc = doc;
        g_client.person_root = yyjson_doc_get_root(doc);
        g_client.person_valid = 1;
        EXPECT_EQ(filmo_people_popularity_permille(), c.permille) << c.json;
    }
}

TEST_F(PeopleTest, SendsIdAndLanguageEncodedAndWhole) {
    const std::string long_id(400, '7');
    struct Case {
        const char *id, *language;
        std::string query;
    } cases[] = {
        {"nm0000158", nullptr, "nm0000158&language=en-US"},
        {"42", "", "42&language=en-US"},
        {"nm", "pt BR&x", "nm&language=pt%20BR%26x"},
        {"nm/..?a=1", "é", "nm%2F..%3Fa%3D1&language=%C3%A9"},
        {long_id.c_str(), "de", long_id + "&language=de"},
    };
    for (const Case &c : cases) {
        t.ok(person(""));
        ASSERT_EQ(filmo_get_people_detail(c.id, c.language), 0) << filmo_last_error();
        const Seen &s = t.seen().back();
        EXPECT_EQ(s.url, kPrefix + c.query);
        EXPECT_EQ(s.method, "GET");
        EXPECT_TRUE(s.headers_null);
    }
    // The longest base URL and a long id still go out whole.
    const std::string host = "http://" + std::string(248, 'h'), other_id(400, '8');
    filmo_set_host(host.c_str());
    t.ok(person(""));
    ASSERT_EQ(filmo_get_people_detail(other_id.c_str(), "fr"), 0);
    EXPECT_EQ(t.seen().back().url,
              host + "/api/AAA/GetPeopleDetail?id=" + other_id + "&language=fr");
}

TEST_F(PeopleTest, IdRules) {
    const char *const accepted[] = {"nm", "NM12", "nM5", "Nm", "nmx y", "0", "0123456789"};
    const char *const refused[] = {"n", "n1", "N", "mn1", "12a", "-12", " 12", "12 ", "tt1", "+1"};
    const std::string malformed = "id must be an nmID (nm\xE2\x80\xA6) or a numeric TMDb person id";
    for (const char *id : accepted) {
        t.ok(person(""));
        EXPECT_EQ(filmo_get_people_detail(id, "en"), 0) << id;
    }
    size_t calls = t.calls();
    for (const char *id : refused) {
        EXPECT_EQ(filmo_get_people_detail(id, "en"), 6) << id;
        EXPECT_EQ(filmo_last_error(), malformed);
    }
    for (const char *id : {static_cast<const char *>(nullptr), ""}) {
        EXPECT_EQ(filmo_get_people_detail(id, "en"), 6);
        EXPECT_STREQ(filmo_last_error(), "id required");
        EXPECT_EQ(filmo_person_fetch(id, "en"), 6);
        EXPECT_STREQ(filmo_last_error(), "id required");
    }
    EXPECT_EQ(t.calls(), calls);
    EXPECT_EQ(filmo_last_http_code(), 0);
}

TEST_F(PeopleTest, NoTransportFailsEvenWhenTheSlotIsFresh) {
    hold("nm1", "en", kPascal);
    filmo_set_io(nullptr);
    EXPECT_EQ(filmo_get_people_detail("nm1", "en"), 7);
    EXPECT_STREQ(filmo_last_error(), "no transport installed (filmo_use_curl / filmo_set_io)");
    EXPECT_EQ(filmo_get_people_detail("12a", "en"), 7);  // the transport is looked at first
    EXPECT_EQ(filmo_get_people_detail("", "en"), 6);     // but a missing id before that
    EXPECT_STREQ(filmo_last_error(), "id required");
    EXPECT_STREQ(filmo_people_name(), "Tom Hanks");
}

TEST_F(PeopleTest, EveryFailureKeepsTheHeldPerson) {
    std::vector<Exit> exits =
        view_test::shared_exits("no such person (HTTP 404)", "people detail: invalid JSON");
    for (const char *root : {"[]", "[{\"Name\": \"x\"}]", "1", "\"x\"", "null"})
        exits.push_back({root, view_test::answer(200, root), 3,
                         "people detail: root is not an object", 200});
    for (const char *body : {"{}", R"({"name": ""})", R"({"Name": 5})", R"({"Name": null})",
                             R"({"Name": 5, "name": "x"})", R"({"Name": ["x"]})"})
        exits.push_back({body, view_test::answer(200, body), 4, "people detail: no person payload",
                         200});
    hold("nm1", "en", kPascal);
    int id = 100;
    for (const Exit &e : exits) {
        SCOPED_TRACE(e.what);
        size_t calls = t.calls();
        t.push(e.answer);
        EXPECT_EQ(filmo_get_people_detail(std::to_string(++id).c_str(), "en"), e.status);
        EXPECT_EQ(filmo_last_error(), e.message);
        EXPECT_EQ(filmo_last_http_code(), e.http);
        EXPECT_EQ(t.calls(), calls + 1);
        EXPECT_STREQ(filmo_people_name(), "Tom Hanks");
        EXPECT_STREQ(filmo_people_picture_url(1), "u1");
        EXPECT_STREQ(g_client.person_key, "person|nm1|en");
    }
}

TEST_F(PeopleTest, CacheRules) {
    ManualClock clock(1000);
    hold("nm1", nullptr, kPascal);
    EXPECT_STREQ(g_client.person_key, "person|nm1|en-US");
    EXPECT_EQ(g_client.person_ttl, 21600);

    clock.now += 21600;  // exactly ttl old: fresh, no request, no HTTP status
    EXPECT_EQ(filmo_get_people_detail("nm1", "en-US"), 0);
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(t.calls(), 1u);

    clock.now += 1;  // expired: the server is asked, and a failure keeps the old person
    t.push(view_test::answer(404, ""));
    EXPECT_EQ(filmo_get_people_detail("nm1", "en-US"), 5);
    EXPECT_STREQ(filmo_people_name(), "Tom Hanks");
    hold("nm1", "en-US", person(""));
    EXPECT_EQ(g_client.person_fetched_at, 22601);
    EXPECT_STREQ(filmo_people_name(), "X");

    hold("nm1", "fr", kCamel);  // another language is another key
    EXPECT_STREQ(filmo_people_name(), "Tom Hanks");
    EXPECT_EQ(t.calls(), 4u);
}

TEST_F(PeopleTest, HostTimeToLiveAndKeysCutAt79Bytes) {
    ManualClock clock(1000);
    filmo_cache_set_ttl(0, 5, 0, 0);
    // "person|" takes 7 bytes: ids agreeing in their first 72 bytes share one key.
    const std::string a = std::string(72, '1') + "2", b = std::string(72, '1') + "3";
    hold(a.c_str(), "en", kPascal);
    EXPECT_EQ(g_client.person_ttl, 5);
    EXPECT_EQ(std::string(g_client.person_key).size(), 79u);
    EXPECT_EQ(filmo_get_people_detail(b.c_str(), "any language"), 0);
    EXPECT_EQ(t.calls(), 1u);
    clock.now += 6;
    hold(b.c_str(), "en", person(""));
    EXPECT_EQ(t.calls(), 2u);
}

TEST_F(PeopleTest, IdBorrowedFromTheHeldPersonOutlivesItsReplacement) {
    hold("1", "en", person(R"("IMDbId": "nm77")"));
    hold(filmo_people_imdbid(), filmo_people_name(), person(R"("IMDbId": "nm88")"));
    EXPECT_STREQ(g_client.person_key, "person|nm77|X");
    EXPECT_STREQ(filmo_people_imdbid(), "nm88");
}

TEST_F(PeopleTest, NothingHeld) {
    expect_fallbacks();
    hold("1", "en", kPascal);
    filmo_cache_invalidate("person", nullptr);
    expect_fallbacks();
    EXPECT_STREQ(g_client.person_key, "person|1|en");
}

TEST_F(PeopleTest, DeepAndHugeDocuments) {
    std::string deep = person(R"("Pictures": [)" + std::string(100000, '[') +
                              std::string(100000, ']') + R"(, {"Url": "u"}])");
    hold("1", "en", deep);
    EXPECT_EQ(filmo_people_picture_url(0), nullptr);
    EXPECT_STREQ(filmo_people_picture_url(1), "u");

    std::string bio(8 << 20, 'b');
    hold("2", "en", person(R"("Biography": ")" + bio + "\""));
    EXPECT_EQ(std::string(filmo_people_biography()).size(), bio.size());
}

TEST_F(PeopleTest, OutOfMemoryKeepsTheHeldPerson) {
    hold("nm1", "en", kPascal);
    auto seen = view_test::walk_oom(
        t, kCamel, [] { return filmo_get_people_detail("nm2", "pt BR"); },
        {{8, "oom"}, view_test::kResponseOom}, [] {
            EXPECT_STREQ(filmo_people_name(), "Tom Hanks");
            EXPECT_STREQ(filmo_people_picture_lang(1), "fr");
            EXPECT_STREQ(g_client.person_key, "person|nm1|en");
        });
    EXPECT_EQ(seen.count("oom"), 1u);
    EXPECT_STREQ(g_client.person_key, "person|nm2|pt BR");
}

}  // namespace
