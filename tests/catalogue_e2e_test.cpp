// End to end over the real transport: scripts/catalogue_server.py serves a corpus made here on
// 127.0.0.1, the client fetches all four views through filmo_use_curl, the home page hash
// exchange runs over real HTTP, and the filmo command-line host does the same with --host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "filmo.h"
#include "loopback_server.h"
#include "test_support.h"

namespace {

using filmo_test::ChildProcess;
using filmo_test::ScratchDir;

const char *const k_anonymous_home =
    R"({"List":[{"Id":"trending","Value":"Trending now"}],)"
    R"("Basics":[{"IMDbId":"tt0062622","Title":"2001: A Space Odyssey","Year":1968,)"
    R"("Genres":["Sci-Fi"]}]})";
// Not ASCII on purpose: the server's hash must agree with the client's on UTF-16 units.
const char *const k_member_home =
    R"({"List":[{"Id":"continue","Value":"Reprendre — à suivre 🎬"}],)"
    R"("Basics":[{"IMDbId":"tt0047478","Title":"Shichinin no samurai","Year":1954}]})";

// The corpus under the fixture backend's file names.
void write_corpus(const ScratchDir &dir) {
    dir.write("homepage.anonymous-profile0.zlib", filmo_test::zlib_compress(k_anonymous_home));
    dir.write("homepage.auth-profile0.zlib", filmo_test::zlib_compress(k_member_home));
    dir.write("collections.en-US.json",
              R"([{"Id":11,"Name":"Film noir","IsAuto":true,"Playlists":[{"Name":"Essentials",)"
              R"("IMDbIds":["tt0036775","tt0040068"]}]},{"id":12,"name":"Silent era"}])");
    dir.write("people-detail.nm0000040.json",
              R"({"ID":240,"Name":"Stanley Kubrick","IMDbId":"nm0000040","Gender":2})");
    dir.write("people-detail.404.json", R"({"status":404})");
    dir.write("people-popular.p1-pascal.json",
              R"([{"ID":1,"Name":"Akira Kurosawa"},{"ID":2,"Name":"Agnès Varda"}])");
    dir.write("people-popular.p2-pascal.json", R"([{"ID":3,"Name":"Satyajit Ray"}])");
    dir.write("people-popular.pn2-camel.json", R"([{"id":4,"name":"Chantal Akerman"}])");
    dir.write("people-popular.404.json", R"({"status":404})");
}

class CatalogueE2E : public ::testing::Test {
protected:
    void SetUp() override {
        filmo_test::reset_client();
        write_corpus(corpus_);
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{FILMO_PYTHON, FILMO_SOURCE_DIR "/scripts/catalogue_server.py",
                                     corpus_.path(), "--port", "0", "--quiet"});
        std::string line;
        ASSERT_TRUE(server_->read_line(line, 15000)) << "the catalogue server did not start";
        const std::string prefix = "listening 127.0.0.1:";
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        host_ = "http://127.0.0.1:" + line.substr(prefix.size());
    }
    void TearDown() override { filmo_test::reset_client(); }

    ScratchDir corpus_;
    std::unique_ptr<ChildProcess> server_;
    std::string host_;
};

TEST_F(CatalogueE2E, AllFourViewsOverTheRealTransport) {
    filmo_set_host(host_.c_str());
    ASSERT_EQ(filmo_use_curl(), 0);

    ASSERT_EQ(filmo_get_collections("fr-FR"), 0) << filmo_last_error();
    EXPECT_EQ(filmo_last_http_code(), 200);
    ASSERT_EQ(filmo_collection_count(), 2);
    EXPECT_STREQ(filmo_collection_name(0), "Film noir");
    EXPECT_EQ(filmo_collection_id(1), 12);
    EXPECT_STREQ(filmo_collection_playlist_imdb(0, 0, 1), "tt0040068");

    ASSERT_EQ(filmo_get_people_detail("nm0000040", "en-US"), 0) << filmo_last_error();
    EXPECT_STREQ(filmo_people_name(), "Stanley Kubrick");
    EXPECT_EQ(filmo_get_people_detail("nm9999999", "en-US"), 5);
    EXPECT_EQ(filmo_last_http_code(), 404);
    EXPECT_STREQ(filmo_people_name(), "Stanley Kubrick");

    struct Page {
        int32_t index, numbers, status;
        const char *first;
    } pages[] = {{1, 1, 0, "Akira Kurosawa"},
                 {2, 1, 0, "Satyajit Ray"},
                 {7, 3, 0, "Chantal Akerman"},
                 {3, 1, 5, "Chantal Akerman"}};
    for (const Page &p : pages) {
        EXPECT_EQ(filmo_get_people_popular(p.index, 20, p.numbers, "en-US"), p.status)
            << p.index << "/" << p.numbers << ": " << filmo_last_error();
        EXPECT_STREQ(filmo_people_pop_name(0), p.first) << p.index << "/" << p.numbers;
    }
}

TEST_F(CatalogueE2E, HomePageHashExchange) {
    filmo_set_host(host_.c_str());
    ASSERT_EQ(filmo_use_curl(), 0);

    struct Who {
        const char *user;
        const char *json;
    } people[] = {{"", k_anonymous_home}, {"member-7", k_member_home}};
    for (const Who &w : people) {
        SCOPED_TRACE(w.user);
        filmo_set_homepage_hash(0);
        ASSERT_EQ(filmo_get_homepage(w.user, 1, "en-US", FILMO_HOME_UPDATE), 0)
            << filmo_last_error();
        EXPECT_STREQ(filmo_home_json(), w.json);
        // The server's hash of the page it served is the client's hash of what it inflated.
        int64_t hash = filmo_homepage_hash();
        EXPECT_GT(hash, 0);
        EXPECT_EQ(filmo_last_content_hash(), hash);

        filmo_set_homepage_hash(hash);
        EXPECT_EQ(filmo_get_homepage(w.user, 1, "en-US", FILMO_HOME_UPDATE), 9);
        EXPECT_EQ(filmo_last_content_hash(), hash);
        EXPECT_STREQ(filmo_home_json(), w.json);

        filmo_set_homepage_hash(hash + 1);
        EXPECT_EQ(filmo_get_homepage(w.user, 1, "en-US", FILMO_HOME_UPDATE), 0);
        EXPECT_STREQ(filmo_home_json(), w.json);
    }
}

TEST_F(CatalogueE2E, CommandLineHostWithHost) {
    const std::string tool = FILMO_BINARY_DIR "/tools/filmo";
    if (::access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "filmo is not built in this tree";
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        const char *shows;
    } cases[] = {
        {{"collections"}, 0, "Film noir"},  {{"person", "nm0000040"}, 0, "Stanley Kubrick"},
        {{"popular"}, 0, "Akira Kurosawa"}, {{"home"}, 0, "2001: A Space Odyssey"},
        {{"person", "nm9999999"}, 5, ""},
    };
    for (const Case &k : cases) {
        std::vector<std::string> argv = {tool, "--host", host_};
        argv.insert(argv.end(), k.args.begin(), k.args.end());
        std::string out;
        EXPECT_EQ(filmo_test::run_command(argv, out), k.exit_code) << k.args[0];
        EXPECT_NE(out.find(k.shows), std::string::npos) << k.args[0] << " printed:\n" << out;
    }
}

}  // namespace
