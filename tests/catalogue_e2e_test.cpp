// End to end over the real transport: scripts/catalogue_server.py serves a corpus made here on
// 127.0.0.1, over HTTP and over HTTPS; the client fetches all four views through filmo_use_curl,
// the home page hash exchange runs over the wire, and the filmo command-line host does the same
// with --host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "catalogue_server.h"
#include "filmo.h"
#include "test_support.h"
#include "vornak_winhttp_internal.h"

namespace {

using filmo_test::CatalogueServer;
using filmo_test::k_anonymous_home;
using filmo_test::k_member_home;
using filmo_test::ScratchDir;
using filmo_test::TestPki;

// Runs over plain HTTP and over HTTPS; the HTTPS server shows a certificate for 127.0.0.1 from a
// CA made for this run, which the transport trusts through its test seam only.
class CatalogueE2E : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        filmo_test::reset_client();
        filmo_test::write_catalogue_corpus(corpus_);
        std::string cert;
        if (GetParam()) {
            pki_ = std::make_unique<TestPki>();
            vornak_winhttp_trust_ca_file(pki_->ca().c_str());
            cert = pki_->local();
        }
        server_ = std::make_unique<CatalogueServer>(corpus_.path(), cert);
        ASSERT_TRUE(server_->started())
            << "the catalogue server did not start: " << server_->startup_line();
        host_ = server_->base();
    }
    void TearDown() override { filmo_test::reset_client(); }

    ScratchDir corpus_;
    std::unique_ptr<TestPki> pki_;
    std::unique_ptr<CatalogueServer> server_;
    std::string host_;
};

INSTANTIATE_TEST_SUITE_P(Scheme, CatalogueE2E, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &p) {
                             return p.param ? "https" : "http";
                         });

TEST_P(CatalogueE2E, AllFourViewsOverTheRealTransport) {
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

TEST_P(CatalogueE2E, HomePageHashExchange) {
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

// The command-line host trusts only the system's store: over HTTPS every command fails in the
// transport, with the certificate refused.
TEST_P(CatalogueE2E, CommandLineHostWithHost) {
    const std::string tool = FILMO_BINARY_DIR "/tools/filmo";
    if (::access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "filmo is not built in this tree";
    const bool tls = GetParam();
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
        EXPECT_EQ(filmo_test::run_command(argv, out), tls ? 1 : k.exit_code) << k.args[0];
        const std::string shows = tls ? "WinHttpSendRequest failed: 12175" : k.shows;
        EXPECT_NE(out.find(shows), std::string::npos) << k.args[0] << " printed:\n" << out;
    }
}

}  // namespace
