// The fixture backend over a corpus that each test writes into a fresh temporary directory:
// routing by endpoint and query, the home page hash exchange, the failure modes, the counters,
// and ids that could name a file outside the corpus. Asked first through its transport record
// with a response collector, then through the client's views.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filmo_internal.h"
#include "loopback_server.h"
#include "platform_expect.h"
#include "test_support.h"

namespace {

namespace stdfs = std::filesystem;
using filmo_test::reset_client;
using filmo_test::zlib_compress;

const char kAnonPage[] =
    R"({"Basics":[{"IMDbId":"tt0111161","Title":"The Shawshank Redemption","Year":1994}]})";
const char kAuthPage[] =
    R"({"Basics":[{"IMDbId":"tt0068646","Title":"The Godfather"},{"IMDbId":"tt0468569"}],)"
    R"("UserInfo":{"ID":"u-17","Email":"mara@example.com"}})";

// The corpus every test starts from: file name -> bytes (home pages as their JSON texts).
const std::map<std::string, std::string> &corpus_files() {
    static const std::map<std::string, std::string> files = {
        {"collections.en-US.json",
         R"([{"Id":7,"Name":"Film noir","Playlists":[{"Name":"1940s","IMDbIds":["tt0033870"]}]}])"},
        {"people-detail.nm0000138.json",
         R"({"ID":6193,"Name":"Leonardo DiCaprio","IMDbId":"nm0000138"})"},
        {"people-detail.525.json", R"({"id":525,"name":"Christopher Nolan"})"},
        {"people-detail.404.json", R"({"Status":404,"Detail":"no such person"})"},
        {"people-popular.p1-pascal.json", R"([{"ID":1,"Name":"First"},{"ID":2,"Name":"Second"}])"},
        {"people-popular.p2-pascal.json", R"([{"ID":3,"Name":"Third"}])"},
        {"people-popular.pn2-camel.json",
         R"([{"id":1,"name":"First"},{"id":2,"name":"Second"},{"id":3,"name":"Third"}])"},
        {"people-popular.404.json", R"({"status":404,"detail":"past the last page"})"},
    };
    return files;
}

// What one request brought back through a vornak_collect.
struct Reply {
    int32_t rc = 0;
    int32_t status = 0;
    int32_t collected_status = 0;
    bool has_err = false;
    std::string err;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

using Headers = std::vector<std::pair<std::string, std::string>>;

class FixtureBackend : public ::testing::Test {
protected:
    void SetUp() override {
        reset_client();
        scratch_ = std::make_unique<filmo_test::ScratchDir>();
        root_ = scratch_->path();
        dir_ = root_ + "/corpus";
        stdfs::create_directory(dir_);
        for (const auto &f : corpus_files()) write(f.first, f.second);
        anon_zlib_ = zlib_compress(kAnonPage);
        auth_zlib_ = zlib_compress(kAuthPage);
        write("homepage.anonymous-profile0.zlib", anon_zlib_);
        write("homepage.auth-profile0.zlib", auth_zlib_);
        http_ = filmo_fake_backend(dir_.c_str());
    }

    void TearDown() override {
        reset_client();
        scratch_.reset();
    }

    void write(const std::string &name, const std::string &bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
    }
    void remove(const std::string &name) { stdfs::remove(dir_ + "/" + name); }

    Reply ask(const std::string &url, const std::vector<const char *> &lines = {}) {
        vornak_collect c;
        vornak_collect_init(&c, 0);
        vornak_http_request req{};
        req.size = VORNAK_REQUEST_SIZE;
        req.method = "GET";
        req.url = url.c_str();
        req.headers = lines.empty() ? nullptr : lines.data();
        req.header_count = lines.size();
        req.on_header = vornak_collect_header;
        req.on_body = vornak_collect_body;
        req.sink_ctx = &c;
        Reply r;
        r.status = -7;
        char *err = nullptr;
        r.rc = http_->request(http_->user_data, &req, &r.status, &err);
        if (err) {
            r.has_err = true;
            r.err = err;
            http_->free_buf(http_->user_data, err);
        }
        r.collected_status = c.status;
        if (c.body.data) r.body.assign(c.body.data, c.body.len);
        for (uint64_t off = 0; off < c.headers.len;) {
            std::string name = c.headers.data + off;
            off += name.size() + 1;
            std::string value = c.headers.data + off;
            off += value.size() + 1;
            r.headers.emplace_back(std::move(name), std::move(value));
        }
        vornak_collect_free(&c);
        return r;
    }

    static std::string url(const std::string &tail) {
        return "https://catalogue.test/api/AAA/" + tail;
    }
    static std::string hash_line(int64_t hash) { return "MD5HomePage: " + std::to_string(hash); }
    static int64_t hash_of(const char *text) { return filmo_stable_hash(text, std::strlen(text)); }

    std::unique_ptr<filmo_test::ScratchDir> scratch_;
    std::string root_, dir_, anon_zlib_, auth_zlib_;
    const vornak_http *http_ = nullptr;
};

// ---- the transport record --------------------------------------------------------------------

TEST_F(FixtureBackend, RecordIsAUsableVersionOneTransport) {
    EXPECT_EQ(http_->size, 32u);
    EXPECT_EQ(http_->version, 1u);
    EXPECT_NE(http_->request, nullptr);
    EXPECT_NE(http_->free_buf, nullptr);
    EXPECT_EQ(filmo_fake_backend(nullptr), http_);  // always the one static record
}

struct Route {
    const char *tail;  // URL after /api/AAA/
    std::vector<const char *> absent;
    int32_t status;
    const char *expect;  // the file whose bytes make the body, or the failure text
};

TEST_F(FixtureBackend, RoutesEachRequestToItsFile) {
    const Route routes[] = {
        {"GetCollectionPopular?language=en-US", {}, 200, "collections.en-US.json"},
        {"GetCollectionPopular?language=ja-JP", {}, 200, "collections.en-US.json"},
        {"GetPeopleDetail?id=nm0000138&language=en-US", {}, 200, "people-detail.nm0000138.json"},
        {"GetPeopleDetail?id=525", {}, 200, "people-detail.525.json"},
        {"GetPeopleDetail?id=nm0000001&language=en-US", {}, 404, "people-detail.404.json"},
        {"GetPeopleDetail?id=nm0000138%20", {}, 404, "people-detail.404.json"},  // not decoded
        {"GetPeoplePopular?pageIndex=1&language=en-US&pageNumbers=1", {}, 200,
         "people-popular.p1-pascal.json"},
        {"GetPeoplePopular?pageIndex=2&language=en-US&pageNumbers=1", {}, 200,
         "people-popular.p2-pascal.json"},
        {"GetPeoplePopular?pageIndex=3&language=en-US&pageNumbers=1", {}, 404,
         "people-popular.404.json"},
        {"GetPeoplePopular?pageIndex=3&language=en-US&pageNumbers=5", {}, 200,
         "people-popular.pn2-camel.json"},
        {"GetPeoplePopular?pageIndex=1&pageNumbers=2", {}, 200, "people-popular.pn2-camel.json"},
        {"GetPeoplePopular?language=en-US&pageNumbers=1", {}, 200, "people-popular.p1-pascal.json"},
        {"GetPeoplePopular?pageIndex=&pageNumbers=1", {}, 200, "people-popular.p1-pascal.json"},
        {"GetPeoplePopular?pageIndex=0&pageNumbers=1", {}, 404, "people-popular.404.json"},
        {"GetPeoplePopular?pageIndex=02&pageNumbers=1", {}, 200, "people-popular.p2-pascal.json"},
        {"GetPeoplePopular?pageIndex=2abc", {}, 200, "people-popular.p2-pascal.json"},
        {"GetPeoplePopular?pageNumbers=&pageIndex=2", {}, 200, "people-popular.p2-pascal.json"},
        {"GetPeoplePopular?pageNumbers=x9&pageIndex=1", {}, 200, "people-popular.p1-pascal.json"},
        // Numbers far beyond any integer are read without overflow.
        {"GetPeoplePopular?pageIndex=99999999999999999999999", {}, 404, "people-popular.404.json"},
        {"GetPeoplePopular?pageIndex=1&pageNumbers=99999999999999999999999", {}, 200,
         "people-popular.pn2-camel.json"},
        // Missing page files fall back to the 404 files, the popular one first.
        {"GetPeoplePopular?pageIndex=2&pageNumbers=1", {"people-popular.p2-pascal.json"}, 404,
         "people-popular.404.json"},
        {"GetPeoplePopular?pageIndex=7",
         {"people-popular.404.json"}, 404, "people-detail.404.json"},
        {"GetPeoplePopular?pageIndex=1",
         {"people-popular.p1-pascal.json", "people-popular.404.json"}, 404,
         "people-detail.404.json"},
        // The first endpoint named in the URL wins, in a fixed order.
        {"GetPeoplePopular?next=GetCollectionPopular", {}, 200, "collections.en-US.json"},
    };
    for (const Route &r : routes) {
        SCOPED_TRACE(r.tail);
        for (const char *name : r.absent) remove(name);
        uint64_t fails = filmo_fake_fail_internal();
        Reply got = ask(url(r.tail));
        EXPECT_EQ(got.rc, 0);
        EXPECT_FALSE(got.has_err);
        EXPECT_EQ(got.status, r.status);
        EXPECT_EQ(got.collected_status, r.status);
        EXPECT_TRUE(got.headers.empty());
        EXPECT_EQ(got.body, corpus_files().at(r.expect));
        EXPECT_EQ(filmo_fake_fail_internal(), fails);
        for (const char *name : r.absent) write(name, corpus_files().at(name));
    }
}

TEST_F(FixtureBackend, RefusesWhatItCannotServeAndCountsIt) {
    const Route cases[] = {
        {"GetSomethingElse?id=1", {}, 0, "fake: unrouted URL"},
        {"GetPeopleDetail?language=en-US", {}, 0, "fake: GetPeopleDetail without id"},
        {"GetPeopleDetail?id=&language=en-US", {}, 0, "fake: GetPeopleDetail without id"},
        {"GetPeopleDetail?id=nm0000001", {"people-detail.404.json"}, 0,
         "fake: 404 fixture missing"},
        {"GetPeoplePopular?pageIndex=9",
         {"people-popular.404.json", "people-detail.404.json"}, 0, "fake: 404 fixture missing"},
        {"GetCollectionPopular?language=en-US", {"collections.en-US.json"}, 0,
         "fake: collections fixture missing"},
        {"GetHomePage?userId=&profileId=0", {"homepage.anonymous-profile0.zlib"}, 0,
         "fake: homepage fixture missing"},
        {"GetHomePage?userId=u-17&profileId=0", {"homepage.auth-profile0.zlib"}, 0,
         "fake: homepage fixture missing"},
    };
    uint64_t fails = filmo_fake_fail_internal();
    for (const Route &c : cases) {
        SCOPED_TRACE(c.tail);
        std::map<std::string, std::string> saved;
        for (const char *name : c.absent) {
            {  // closed before the removal: Windows refuses to remove an open file
                std::ifstream in(dir_ + "/" + name, std::ios::binary);
                saved[name].assign(std::istreambuf_iterator<char>(in), {});
            }
            remove(name);
        }
        Reply got = ask(url(c.tail));
        EXPECT_EQ(got.rc, -1);
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(got.err, c.expect);
        EXPECT_TRUE(got.body.empty());
        EXPECT_EQ(filmo_fake_fail_internal(), ++fails);
        for (const auto &s : saved) write(s.first, s.second);
    }
}

// A corpus name that is a named pipe is no file: the fetch fails as for a missing one, at once,
// without waiting for a writer that never comes.
TEST_F(FixtureBackend, PipeNamedLikeACorpusFileIsMissing) {
    const Route cases[] = {
        {"GetCollectionPopular?language=en-US", {"collections.en-US.json"}, 0,
         "fake: collections fixture missing"},
        {"GetHomePage?userId=&profileId=0", {"homepage.anonymous-profile0.zlib"}, 0,
         "fake: homepage fixture missing"},
        {"GetPeopleDetail?id=nm0000001", {"people-detail.404.json"}, 0,
         "fake: 404 fixture missing"},
    };
    for (const Route &c : cases) {
        SCOPED_TRACE(c.tail);
        const std::string pipe = dir_ + "/" + c.absent[0];
        remove(c.absent[0]);
        if (!filmo_test::make_fifo(pipe.c_str())) GTEST_SKIP() << "no named pipes here";
        auto asked = std::async(std::launch::async, [&] { return ask(url(c.tail)); });
        if (asked.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << "the fetch waits on the pipe";
            std::ofstream{pipe};  // a writer comes and goes: the open returns
        }
        Reply got = asked.get();
        EXPECT_EQ(got.rc, -1);
        EXPECT_EQ(got.err, c.expect);
    }
}

struct ModeCase {
    int32_t mode;
    int32_t rc;
    int32_t status;
    std::string body;
    const char *err;
};

TEST_F(FixtureBackend, EachModeAnswersEveryUrlTheSameWay) {
    const ModeCase modes[] = {
        {1, -1, 0, "", "fake: injected transport failure"},
        {2, 0, 500, "{\"error\":\"fake 500\"}", nullptr},
        {3, 0, 404, "{\"status\":404}", nullptr},
        {4, 0, 200, "{ this is not json", nullptr},
        {5, 0, 200, "", nullptr},
        {6, 0, 200, "null", nullptr},
        {7, 0, 200, "\xFF", nullptr},
    };
    const std::string urls[] = {url("GetPeopleDetail?id=nm0000138"),
                                url("GetHomePage?userId=&profileId=0"), url("Nowhere"), ""};
    for (const ModeCase &m : modes) {
        filmo_fake_set_mode(m.mode);
        for (const std::string &u : urls) {
            SCOPED_TRACE("mode " + std::to_string(m.mode) + " " + u);
            uint64_t calls = filmo_fake_calls_internal();
            uint64_t fails = filmo_fake_fail_internal();
            Reply got = ask(u);
            EXPECT_EQ(got.rc, m.rc);
            EXPECT_EQ(got.status, m.status);
            EXPECT_EQ(got.collected_status, m.status);
            EXPECT_EQ(got.body, m.body);
            EXPECT_TRUE(got.headers.empty());
            EXPECT_EQ(got.has_err, m.err != nullptr);
            if (m.err) {
                EXPECT_EQ(got.err, m.err);
            }
            EXPECT_EQ(filmo_fake_calls_internal(), calls + 1);
            EXPECT_EQ(filmo_fake_fail_internal(), fails);  // no mode counts as unserved
        }
    }
    // A stored mode beyond 7 cannot come from filmo_fake_mode; it serves the corpus.
    filmo_fake_set_mode(8);
    EXPECT_EQ(ask(url("GetPeopleDetail?id=525")).body, corpus_files().at("people-detail.525.json"));
}

TEST_F(FixtureBackend, DeliversStatusThenHeadersThenTheWholeBody) {
    struct Trace {
        std::vector<std::string> events;
    } trace;
    vornak_http_request req{};
    req.size = VORNAK_REQUEST_SIZE;
    req.method = "GET";
    std::string u = url("GetHomePage?userId=&profileId=0");
    req.url = u.c_str();
    // Sinks that ask to stop: the backend still delivers the whole answer.
    req.on_header = [](void *ctx, const char *name, const char *value) -> int32_t {
        static_cast<Trace *>(ctx)->events.push_back(std::string(name) + "=" + value);
        return 1;
    };
    req.on_body = [](void *ctx, const void *, uint64_t n) -> int32_t {
        static_cast<Trace *>(ctx)->events.push_back("body " + std::to_string(n));
        return 1;
    };
    req.sink_ctx = &trace;
    int32_t status = 0;
    ASSERT_EQ(http_->request(http_->user_data, &req, &status, nullptr), 0);  // no err wanted
    EXPECT_EQ(status, 200);
    const std::vector<std::string> want = {
        ":status=200", "ContentHash=" + std::to_string(hash_of(kAnonPage)),
        "ContentSize=" + std::to_string(anon_zlib_.size()),
        "body " + std::to_string(anon_zlib_.size())};
    EXPECT_EQ(trace.events, want);

    // Without sinks the status still arrives.
    vornak_http_request bare{};
    bare.size = VORNAK_REQUEST_SIZE;
    bare.url = u.c_str();
    EXPECT_EQ(http_->request(http_->user_data, &bare, &status, nullptr), 0);
    EXPECT_EQ(status, 200);
}

// ---- the home page hash exchange -------------------------------------------------------------

TEST_F(FixtureBackend, HomePageCarriesItsHashAndCompressedSize) {
    struct Page {
        const char *tail;
        const char *text;
        const std::string *zlib;
    } pages[] = {
        {"GetHomePage?userId=&profileId=0&language=en-US&zip=true&version=2", kAnonPage, &anon_zlib_},
        {"GetHomePage?profileId=0&zip=true", kAnonPage, &anon_zlib_},
        {"GetHomePage?userId=u-17&profileId=3&zip=true", kAuthPage, &auth_zlib_},
    };
    for (const Page &p : pages) {
        SCOPED_TRACE(p.tail);
        Reply got = ask(url(p.tail));
        ASSERT_EQ(got.rc, 0);
        EXPECT_EQ(got.status, 200);
        EXPECT_EQ(got.body, *p.zlib);
        Headers want = {{"ContentHash", std::to_string(hash_of(p.text))},
                        {"ContentSize", std::to_string(p.zlib->size())}};
        EXPECT_EQ(got.headers, want);
    }
}

TEST_F(FixtureBackend, KnownHashEarnsTheOneByteAnswer) {
    const int64_t h = hash_of(kAnonPage);
    const std::string exact = hash_line(h);
    const std::string folded = "md5homepage:   +" + std::to_string(h) + " trailing text";
    const std::string other = hash_line(h + 1);
    const std::string negative = hash_line(-h);
    struct Case {
        const char *what;
        std::vector<const char *> lines;
        bool unchanged;
    } cases[] = {
        {"exact", {exact.c_str()}, true},
        {"case folded, blanks, sign, trailing text", {folded.c_str()}, true},
        {"null entries skipped", {nullptr, exact.c_str(), nullptr}, true},
        {"later line wins (match last)", {other.c_str(), exact.c_str()}, true},
        {"later line wins (mismatch last)", {exact.c_str(), other.c_str()}, false},
        {"another hash", {other.c_str()}, false},
        {"negated hash", {negative.c_str()}, false},
        {"no such header", {"Accept: */*"}, false},
        {"prefix without colon", {"MD5HomePage 1"}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Reply got = ask(url("GetHomePage?userId=&profileId=0"), c.lines);
        ASSERT_EQ(got.rc, 0);
        EXPECT_EQ(got.status, 200);
        if (c.unchanged) {
            EXPECT_EQ(got.body, "\xFF");
            EXPECT_EQ(got.headers, (Headers{{"ContentHash", std::to_string(h)}}));
        } else {
            EXPECT_EQ(got.body, anon_zlib_);
            EXPECT_EQ(got.headers.size(), 2u);
        }
    }
    // The signed-in page has a hash of its own.
    const std::string auth = hash_line(hash_of(kAuthPage));
    EXPECT_EQ(ask(url("GetHomePage?userId=u-17"), {auth.c_str()}).body, "\xFF");
    EXPECT_EQ(ask(url("GetHomePage?userId="), {auth.c_str()}).body, anon_zlib_);
}

TEST_F(FixtureBackend, PageThatDoesNotInflateIsSentWithoutHash) {
    const std::string junk = "this is no zlib stream";
    write("homepage.anonymous-profile0.zlib", junk);
    const std::string minus_one = hash_line(-1);
    const std::vector<std::vector<const char *>> variants = {{}, {minus_one.c_str()}};
    for (const auto &lines : variants) {
        Reply got = ask(url("GetHomePage?userId="), lines);
        ASSERT_EQ(got.rc, 0);
        EXPECT_EQ(got.body, junk);
        EXPECT_EQ(got.headers, (Headers{{"ContentHash", "-1"}, {"ContentSize", "22"}}));
    }
    write("homepage.anonymous-profile0.zlib", "");  // an empty file is sent as an empty body
    Reply got = ask(url("GetHomePage?userId="));
    EXPECT_EQ(got.rc, 0);
    EXPECT_EQ(got.body, "");
    EXPECT_EQ(got.headers, (Headers{{"ContentHash", "-1"}, {"ContentSize", "0"}}));
}

TEST_F(FixtureBackend, HashFollowsAFileRewrittenInPlace) {
    // Stored (level 0) streams of texts of one length have one size; the rewrite also keeps the
    // time stamp, so only the bytes tell the two pages apart.
    const std::string first = R"({"Basics":[{"Title":"AAAA"}]})";
    const std::string second = R"({"Basics":[{"Title":"BBBB"}]})";
    const std::string path = dir_ + "/homepage.anonymous-profile0.zlib";
    write("homepage.anonymous-profile0.zlib", zlib_compress(first, 0));
    const auto stamp = stdfs::last_write_time(path);
    Reply a = ask(url("GetHomePage?userId="));
    ASSERT_EQ(a.headers.at(0).second, std::to_string(hash_of(first.c_str())));
    EXPECT_EQ(ask(url("GetHomePage?userId=")).headers, a.headers);  // served again, same hash

    write("homepage.anonymous-profile0.zlib", zlib_compress(second, 0));
    stdfs::last_write_time(path, stamp);
    Reply b = ask(url("GetHomePage?userId="));
    EXPECT_EQ(b.headers.at(0).second, std::to_string(hash_of(second.c_str())));
    EXPECT_EQ(b.headers.at(1), a.headers.at(1));  // same ContentSize
    const std::string stale = hash_line(hash_of(first.c_str()));
    EXPECT_EQ(ask(url("GetHomePage?userId="), {stale.c_str()}).body, zlib_compress(second, 0));
}

TEST_F(FixtureBackend, RunningOutOfMemoryNeverLeavesAWrongHashBehind) {
    // A fresh page, so no hash from an earlier test is remembered for it.
    const std::string text = R"({"Basics":[{"Title":"Out of memory"}],"List":[]})";
    const std::string page = zlib_compress(text);
    write("homepage.anonymous-profile0.zlib", page);
    const int64_t h = hash_of(text.c_str());
    for (long n = 0;; ++n) {
        SCOPED_TRACE("allocations allowed: " + std::to_string(n));
        uint64_t fails = filmo_fake_fail_internal();
        vornak_alloc_fail_after(n);
        Reply got = ask(url("GetHomePage?userId="));
        bool refused = vornak_alloc_failures() > 0;
        vornak_alloc_fail_after(-1);
        if (got.rc != 0) {
            // Only the file read can fail the request; its text may itself be lost.
            EXPECT_EQ(filmo_fake_fail_internal(), fails + 1);
            if (got.has_err) {
                EXPECT_EQ(got.err, "fake: homepage fixture missing");
            }
        } else {
            EXPECT_EQ(got.status, 200);
        }
        if (!refused) {
            EXPECT_EQ(got.body, page);
            EXPECT_EQ(got.headers.at(0).second, std::to_string(h));
            break;
        }
        ASSERT_LT(n, 100);
    }
    // Whatever the shortages produced, the page is now answered with its true hash.
    const std::string known = hash_line(h);
    EXPECT_EQ(ask(url("GetHomePage?userId="), {known.c_str()}).body, "\xFF");
    EXPECT_EQ(ask(url("GetHomePage?userId=")).headers.at(0).second, std::to_string(h));
}

// ---- ids that could leave the corpus ---------------------------------------------------------

TEST_F(FixtureBackend, IdsThatCouldNameAPathOutsideTheCorpusAreNeverOpened) {
    const std::string planted = R"({"Name":"planted"})";
    const std::string long_id(113, 'n');  // "people-detail." + 113 = 127: ".json" would be cut
    stdfs::create_directory(dir_ + "/people-detail.x");
    stdfs::create_directory(dir_ + "/people-detail.sub");
    std::ofstream(root_ + "/leak.json") << planted;
    std::ofstream(dir_ + "/people-detail.sub/nm1.json") << planted;
    write("people-detail....json", planted);
    write("people-detail.a\\b.json", planted);
    write("people-detail." + long_id, planted);
    write("people-detail.nm.1.json", planted);

    const std::string escaping[] = {"x/../../leak", "sub/nm1", "..", "a\\b", long_id};
    for (const std::string &id : escaping) {
        SCOPED_TRACE(id);
        Reply got = ask(url("GetPeopleDetail?id=" + id + "&language=en-US"));
        EXPECT_EQ(got.rc, 0);
        EXPECT_EQ(got.status, 404);
        EXPECT_EQ(got.body, corpus_files().at("people-detail.404.json"));
    }
    // A single dot is an ordinary character of an id.
    Reply dotted = ask(url("GetPeopleDetail?id=nm.1"));
    EXPECT_EQ(dotted.status, 200);
    EXPECT_EQ(dotted.body, planted);
}

// ---- counters and the last URL ---------------------------------------------------------------

TEST_F(FixtureBackend, CountsRequestsAndKeepsTheLastUrl) {
    filmo_fake_wipe_stats();
    EXPECT_EQ(filmo_fake_calls(), 0u);
    EXPECT_STREQ(filmo_fake_last_url(), "");

    ask(url("GetCollectionPopular?language=en-US"));
    ask(url("Unrouted"));
    EXPECT_EQ(filmo_fake_calls(), 2u);
    EXPECT_EQ(filmo_fake_url_count(), 2u);
    EXPECT_EQ(filmo_fake_fail_count(), 1u);
    EXPECT_EQ(std::string(filmo_fake_last_url()), url("Unrouted"));

    const std::string longest = url("GetPeopleDetail?id=nm0000138&pad=" + std::string(2000, 'p'));
    EXPECT_EQ(ask(longest).status, 200);
    EXPECT_EQ(std::string(filmo_fake_last_url()), longest.substr(0, 1023));

    vornak_http_request no_url{};
    no_url.size = VORNAK_REQUEST_SIZE;
    int32_t status = 0;
    EXPECT_EQ(http_->request(http_->user_data, &no_url, &status, nullptr), -1);
    EXPECT_STREQ(filmo_fake_last_url(), "");
    EXPECT_EQ(http_->request(http_->user_data, nullptr, &status, nullptr), -1);
    EXPECT_EQ(filmo_fake_calls(), 5u);
    EXPECT_EQ(filmo_fake_fail_count(), 3u);

    // Reset clears the statistics and keeps the mode and the directory.
    ASSERT_EQ(filmo_fake_mode(2), 0);
    filmo_fake_reset();
    EXPECT_EQ(filmo_fake_calls(), 0u);
    EXPECT_EQ(filmo_fake_url_count(), 0u);
    EXPECT_EQ(filmo_fake_fail_count(), 0u);
    EXPECT_STREQ(filmo_fake_last_url(), "");
    EXPECT_EQ(ask(url("GetCollectionPopular")).status, 500);
    ASSERT_EQ(filmo_fake_mode(0), 0);
    EXPECT_EQ(ask(url("GetCollectionPopular")).body, corpus_files().at("collections.en-US.json"));
}

// ---- through the client's views --------------------------------------------------------------

class FixtureViews : public FixtureBackend {
protected:
    void SetUp() override {
        FixtureBackend::SetUp();
        filmo_set_host("http://films.test");
        ASSERT_EQ(filmo_fake_corpus(dir_.c_str()), 0);
        ASSERT_EQ(filmo_use_fake(), 0);
        filmo_fake_reset();
    }
};

TEST_F(FixtureViews, ServesEveryView) {
    ASSERT_EQ(filmo_get_collections("de-DE"), 0) << filmo_last_error();
    EXPECT_STREQ(filmo_fake_last_url(), "http://films.test/api/AAA/GetCollectionPopular?language=de-DE");
    EXPECT_EQ(filmo_collection_count(), 1);
    EXPECT_STREQ(filmo_collection_name(0), "Film noir");
    EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 0), "tt0033870");

    ASSERT_EQ(filmo_get_people_detail("nm0000138", nullptr), 0) << filmo_last_error();
    EXPECT_STREQ(filmo_fake_last_url(),
                 "http://films.test/api/AAA/GetPeopleDetail?id=nm0000138&language=en-US");
    EXPECT_STREQ(filmo_people_name(), "Leonardo DiCaprio");
    EXPECT_EQ(filmo_people_id(), 6193);
    ASSERT_EQ(filmo_get_people_detail("525", "en-US"), 0);
    EXPECT_STREQ(filmo_people_name(), "Christopher Nolan");

    ASSERT_EQ(filmo_get_people_popular(1, 20, 1, nullptr), 0);
    EXPECT_EQ(filmo_people_pop_count(), 2);
    ASSERT_EQ(filmo_get_people_popular(2, 20, 1, nullptr), 0);
    EXPECT_STREQ(filmo_people_pop_name(0), "Third");
    ASSERT_EQ(filmo_get_people_popular(1, 20, 2, nullptr), 0);
    EXPECT_EQ(filmo_people_pop_count(), 3);
    EXPECT_EQ(filmo_people_pop_id(2), 3);  // camelCase page

    ASSERT_EQ(filmo_get_homepage(nullptr, 0, nullptr, 0), 0) << filmo_last_error();
    EXPECT_EQ(filmo_home_basics_count(), 1);
    EXPECT_STREQ(filmo_home_basic_title(0), "The Shawshank Redemption");
    EXPECT_EQ(filmo_home_has_userinfo(), 0);
    ASSERT_EQ(filmo_get_homepage("u-17", 0, nullptr, 0), 0) << filmo_last_error();
    EXPECT_EQ(filmo_home_basics_count(), 2);
    EXPECT_STREQ(filmo_home_user_email(), "mara@example.com");

    EXPECT_EQ(filmo_fake_calls(), 8u);
    EXPECT_EQ(filmo_fake_fail_count(), 0u);
}

TEST_F(FixtureViews, NotFoundAnswersComeFromThe404Files) {
    ASSERT_EQ(filmo_get_people_detail("nm0000138", nullptr), 0);
    EXPECT_EQ(filmo_get_people_detail("nm0000001", nullptr), FILMO_ERR_NOT_FOUND);
    EXPECT_STREQ(filmo_last_error(), "no such person (HTTP 404)");
    EXPECT_EQ(filmo_last_http_code(), 404);
    EXPECT_STREQ(filmo_people_name(), "Leonardo DiCaprio");  // the held person stays
    EXPECT_EQ(filmo_get_people_popular(3, 20, 1, nullptr), FILMO_ERR_NOT_FOUND);
    EXPECT_STREQ(filmo_last_error(), "people popular: HTTP 404 (dead page)");

    remove("people-detail.404.json");
    EXPECT_EQ(filmo_get_people_detail("nm0000002", nullptr), FILMO_ERR_TRANSPORT);
    EXPECT_STREQ(filmo_last_error(), "transport: transport: fake: 404 fixture missing");
    EXPECT_EQ(filmo_fake_fail_count(), 1u);
}

TEST_F(FixtureViews, UnchangedHomePageKeepsTheHeldOne) {
    ASSERT_EQ(filmo_get_homepage(nullptr, 0, nullptr, 0), 0) << filmo_last_error();
    const int64_t h = filmo_homepage_hash();
    EXPECT_EQ(h, hash_of(kAnonPage));
    EXPECT_EQ(filmo_last_content_hash(), h);  // the server's and the client's hash agree
    const char *held = filmo_home_json();
    ASSERT_NE(held, nullptr);

    filmo_set_homepage_hash(filmo_homepage_hash());
    EXPECT_EQ(filmo_get_homepage(nullptr, 0, nullptr, FILMO_HOME_UPDATE), FILMO_HOME_UNCHANGED);
    EXPECT_STREQ(filmo_last_error(), "server: homepage unchanged (1-byte 0xFF)");
    EXPECT_EQ(filmo_last_content_hash(), h);
    EXPECT_EQ(filmo_home_json(), held);
    EXPECT_STREQ(filmo_home_json(), kAnonPage);
    EXPECT_STREQ(filmo_home_basic_title(0), "The Shawshank Redemption");

    // Another page, or another known hash, is sent whole again.
    EXPECT_EQ(filmo_get_homepage("u-17", 0, nullptr, 0), 0);
    EXPECT_EQ(filmo_home_basics_count(), 2);
    filmo_set_homepage_hash(h + 1);
    EXPECT_EQ(filmo_get_homepage(nullptr, 0, nullptr, FILMO_HOME_UPDATE), 0);
    EXPECT_EQ(filmo_home_basics_count(), 1);
}

using Fetch = int32_t (*)();

struct ViewModeCase {
    int32_t mode;
    const char *view;
    Fetch fetch;
    int32_t status;
    const char *message;
};

int32_t get_colls() { return filmo_get_collections(nullptr); }
int32_t get_person() { return filmo_get_people_detail("nm0000138", nullptr); }
int32_t get_popular() { return filmo_get_people_popular(1, 20, 1, nullptr); }
int32_t get_home() { return filmo_get_homepage(nullptr, 0, nullptr, FILMO_HOME_UPDATE); }

TEST_F(FixtureViews, FailureModesReachTheViewsAsTheirOwnErrors) {
    const ViewModeCase cases[] = {
        {1, "collections", get_colls, 1, "transport: transport: fake: injected transport failure"},
        {1, "home", get_home, 1, "transport: transport: fake: injected transport failure"},
        {2, "person", get_person, 2, "HTTP 500"},
        {2, "home", get_home, 2, "HTTP 500"},
        {3, "person", get_person, 5, "no such person (HTTP 404)"},
        {3, "popular", get_popular, 5, "people popular: HTTP 404 (dead page)"},
        {3, "collections", get_colls, 5, "HTTP 404"},
        {4, "collections", get_colls, 3, "collections: invalid JSON"},
        {4, "person", get_person, 3, "people detail: invalid JSON"},
        {4, "popular", get_popular, 3, "people popular: invalid JSON"},
        {5, "collections", get_colls, 4, "empty body"},
        {5, "person", get_person, 4, "empty body"},
        {5, "popular", get_popular, 4, "empty body"},
        {5, "home", get_home, 3, "zlib: empty input"},
        {6, "collections", get_colls, 3, "collections: root is not an array"},
        {6, "person", get_person, 3, "people detail: root is not an object"},
        {6, "popular", get_popular, 3, "people popular: root is not an array"},
        {7, "person", get_person, 3, "people detail: invalid JSON"},
        {7, "home", get_home, 9, "server: homepage unchanged (1-byte 0xFF)"},
    };
    for (const ViewModeCase &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " " + c.view);
        filmo_cache_clear();
        ASSERT_EQ(filmo_fake_mode(c.mode), 0);
        uint64_t calls = filmo_fake_calls();
        uint64_t fails = filmo_fake_fail_count();
        EXPECT_EQ(c.fetch(), c.status);
        EXPECT_STREQ(filmo_last_error(), c.message);
        EXPECT_EQ(filmo_fake_calls(), calls + 1);
        EXPECT_EQ(filmo_fake_fail_count(), fails);
    }
}

TEST_F(FixtureViews, ConfigurationErrors) {
    ASSERT_EQ(filmo_fake_mode(2), 0);
    for (int32_t bad : {8, -1, 1000}) {
        filmo_set_err("%s", "");
        EXPECT_EQ(filmo_fake_mode(bad), 1);
        EXPECT_STREQ(filmo_last_error(), "fake mode 0..7");
    }
    EXPECT_EQ(get_person(), 2);  // still mode 2

    EXPECT_EQ(filmo_fake_corpus(""), 1);
    EXPECT_STREQ(filmo_last_error(), "corpus dir required");
    filmo_set_err("%s", "");
    EXPECT_EQ(filmo_fake_corpus(nullptr), 1);
    EXPECT_STREQ(filmo_last_error(), "corpus dir required");

    // Recording a directory installs nothing.
    filmo_shutdown();
    filmo_set_err("%s", "earlier");
    EXPECT_EQ(filmo_fake_corpus(dir_.c_str()), 0);
    EXPECT_STREQ(filmo_last_error(), "earlier");
    EXPECT_EQ(filmo_get_collections(nullptr), FILMO_ERR_NO_TRANSPORT);
}

TEST_F(FixtureViews, ReplacesTheTransportInstalledBefore) {
    filmo_test::ScriptedTransport host;
    host.install();
    EXPECT_EQ(filmo_get_collections(nullptr), 2);  // the script's 599
    ASSERT_EQ(filmo_use_fake(), 0);
    EXPECT_EQ(filmo_get_collections(nullptr), 0);
    EXPECT_EQ(host.calls(), 1u);
    EXPECT_EQ(filmo_fake_calls(), 1u);
}

}  // namespace
