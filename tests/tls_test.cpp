// HTTPS through the real transport against the local catalogue server behind TLS, with
// certificates made for this run: a certificate the transport cannot trust is refused in the send
// step with WinHTTP's number (12175, ERROR_WINHTTP_SECURE_FAILURE) before anything reaches the
// sinks, and no exported call, request flag or environment variable makes it trusted. The
// system's store is loaded by every handshake that uses it, which is slow under valgrind: only a
// few do. The success path over HTTPS is in catalogue_e2e_test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "catalogue_server.h"
#include "filmo.h"
#include "test_support.h"
#include "vornak_http.h"
#include "vornak_winhttp_internal.h"
#include "winhttp_test_common.h"

namespace {

using filmo_test::CatalogueServer;
using filmo_test::ScratchDir;
using filmo_test::TestPki;
using winhttp_test::Call;
using winhttp_test::Outcome;
using winhttp_test::perform;

const char *const k_refused = "WinHttpSendRequest failed: 12175";
// The client wraps the transport's text twice ("transport: " in the GET and in the view).
const std::string k_client_refused = std::string("transport: transport: ") + k_refused;

// The corpus and the certificates are made once per process; servers as each test needs them.
class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        corpus_ = new ScratchDir;
        filmo_test::write_catalogue_corpus(*corpus_);
        pki_ = new TestPki;
    }
    static void TearDownTestSuite() {
        delete pki_;
        delete corpus_;
        pki_ = nullptr;
        corpus_ = nullptr;
    }
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { filmo_test::reset_client(); }

    static std::unique_ptr<CatalogueServer> serve(const std::string &cert) {
        auto s = std::make_unique<CatalogueServer>(corpus_->path(), cert);
        EXPECT_TRUE(s->started()) << "the catalogue server did not start: " << s->startup_line();
        return s;
    }
    static std::string collections_url(const CatalogueServer &s) {
        return s.base() + "/api/AAA/GetCollectionPopular?language=en-US";
    }

    static ScratchDir *corpus_;
    static TestPki *pki_;
};
ScratchDir *Tls::corpus_ = nullptr;
TestPki *Tls::pki_ = nullptr;

// Fails a fetch of every view against an untrusted server: the send step's text and WinHTTP's
// number, no HTTP status. The keys differ from those of the views held, so none is a cache hit.
void expect_client_refuses(const std::string &bad_host) {
    filmo_set_host(bad_host.c_str());
    struct Fetch {
        const char *view;
        int32_t (*run)();
    } fetches[] = {
        {"home", [] { return filmo_get_homepage("member-7", 1, "en-US", FILMO_HOME_UPDATE); }},
        {"collections", [] { return filmo_get_collections("fr-FR"); }},
        {"person", [] { return filmo_get_people_detail("nm0000041", "en-US"); }},
        {"popular", [] { return filmo_get_people_popular(2, 20, 1, "en-US"); }},
    };
    for (const Fetch &f : fetches) {
        EXPECT_EQ(f.run(), FILMO_ERR_TRANSPORT) << f.view;
        EXPECT_EQ(filmo_last_error(), k_client_refused) << f.view;
        EXPECT_EQ(filmo_last_http_code(), 0) << f.view;
    }
}

// Every certificate the transport must not trust, with and without the test CA in place of the
// system's store.
TEST_F(Tls, UntrustedCertificatesAreRefusedBeforeAnyDelivery) {
    auto good = serve(pki_->local());
    auto self_signed = serve(pki_->self_signed());
    auto other_host = serve(pki_->other_host());
    ASSERT_TRUE(good->started() && self_signed->started() && other_host->started());

    // What the client holds before the refusals, from the trusted server.
    vornak_winhttp_trust_ca_file(pki_->ca().c_str());
    filmo_set_host(good->base().c_str());
    ASSERT_EQ(filmo_use_curl(), 0);
    ASSERT_EQ(filmo_get_homepage("", 1, "en-US", FILMO_HOME_UPDATE), 0) << filmo_last_error();
    ASSERT_EQ(filmo_get_collections("en-US"), 0) << filmo_last_error();
    ASSERT_EQ(filmo_get_people_detail("nm0000040", "en-US"), 0) << filmo_last_error();
    ASSERT_EQ(filmo_get_people_popular(1, 20, 1, "en-US"), 0) << filmo_last_error();

    struct Case {
        const char *what;
        const CatalogueServer *server;
        bool trust_test_ca;
    } cases[] = {
        {"self-signed, test CA trusted", self_signed.get(), true},
        {"self-signed, system store", self_signed.get(), false},
        {"another host name, test CA trusted", other_host.get(), true},
        {"another host name, system store", other_host.get(), false},
        {"test CA unknown to the system store", good.get(), false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        vornak_winhttp_trust_ca_file(k.trust_test_ca ? pki_->ca().c_str() : nullptr);

        Call c;
        c.url = collections_url(*k.server);
        Outcome o = perform(c);
        EXPECT_EQ(o.rc, -1);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, k_refused);
        EXPECT_TRUE(o.events.empty());

        if (!k.trust_test_ca) continue;  // the system's store is slow to load under valgrind
        expect_client_refuses(k.server->base());
        EXPECT_STREQ(filmo_home_basic_title(0), "2001: A Space Odyssey");
        EXPECT_STREQ(filmo_collection_name(0), "Film noir");
        EXPECT_STREQ(filmo_people_name(), "Stanley Kubrick");
        EXPECT_STREQ(filmo_people_pop_name(1), "Agnès Varda");
    }

    // The refusals left the trusted path as it was.
    vornak_winhttp_trust_ca_file(pki_->ca().c_str());
    Call c;
    c.url = collections_url(*good);
    Outcome o = perform(c);
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(o.header(":status"), "200");
    EXPECT_NE(o.body.find("Film noir"), std::string::npos);
}

// Verification stays on whatever a caller sets: every flag bit of a raw request (with user,
// password and time-outs besides), the io adapter, the ranged GET and the client's own
// installers. The test CA is trusted here, so the handshakes are cheap and only the certificate's
// own fault (self-signed) is in play.
TEST_F(Tls, NoExportedCallTurnsVerificationOff) {
    auto server = serve(pki_->self_signed());
    ASSERT_TRUE(server->started());
    vornak_winhttp_trust_ca_file(pki_->ca().c_str());
    const std::string url = collections_url(*server);

    std::vector<int32_t> flags = {0, -1};
    for (int bit = 0; bit < 32; ++bit) flags.push_back(static_cast<int32_t>(1u << bit));
    for (int32_t f : flags) {
        Call c;
        c.url = url;
        c.flags = f;
        c.user = "ana";
        c.password = "s3cret";
        c.timeout_ms = c.connect_timeout_ms = c.recv_timeout_ms = 5000;
        Outcome o = perform(c);
        EXPECT_EQ(o.err, k_refused) << "flags " << f;
        EXPECT_TRUE(o.events.empty()) << "flags " << f;
    }

    vornak_io *io = vornak_io_over_http(vornak_http_winhttp(), nullptr);
    ASSERT_NE(io, nullptr);
    char *body = nullptr, *err = nullptr;
    int32_t status = -1;
    EXPECT_EQ(io->get(io->ctx, url.c_str(), &body, &status, &err), -1);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(status, 0);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, k_refused);
    io->free_buf(io->ctx, err);

    vornak_collect col;
    vornak_collect_init(&col, 0);
    const vornak_http *h = vornak_http_winhttp();
    err = nullptr;
    EXPECT_EQ(vornak_http_range(h, url.c_str(), 0, 9, &col, &status, &err), -1);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err, k_refused);
    EXPECT_EQ(col.body.len, 0u);
    h->free_buf(h->user_data, err);
    vornak_collect_free(&col);

    filmo_set_host(server->base().c_str());
    ASSERT_EQ(filmo_set_io(io), 0);
    EXPECT_EQ(filmo_get_collections("en-US"), FILMO_ERR_TRANSPORT);
    EXPECT_EQ(filmo_last_error(), k_client_refused);
    ASSERT_EQ(filmo_use_curl(), 0);
    expect_client_refuses(server->base());
}

// Nothing is taken from the environment: variables that name the test CA as a trusted bundle or
// ask to skip verification leave the system's store in charge, and it does not know the test CA.
TEST_F(Tls, EnvironmentAddsNoTrust) {
    auto server = serve(pki_->local());
    ASSERT_TRUE(server->started());
    const std::string ca = pki_->ca();
    const char *vars[][2] = {{"SSL_CERT_FILE", ca.c_str()},
                             {"SSL_CERT_DIR", pki_->dir().c_str()},
                             {"CURL_CA_BUNDLE", ca.c_str()},
                             {"CURL_SSL_NO_VERIFY", "1"}};
    for (auto &v : vars) setenv(v[0], v[1], 1);
    Call c;
    c.url = collections_url(*server);
    c.flags = -1;
    Outcome o = perform(c);
    EXPECT_EQ(o.err, k_refused);
    EXPECT_TRUE(o.events.empty());
    filmo_set_host(server->base().c_str());
    ASSERT_EQ(filmo_use_curl(), 0);
    EXPECT_EQ(filmo_get_collections("en-US"), FILMO_ERR_TRANSPORT);
    EXPECT_EQ(filmo_last_error(), k_client_refused);
    for (auto &v : vars) unsetenv(v[0]);
}

}  // namespace
