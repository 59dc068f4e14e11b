// Client configuration: server base URL, transport installers, last-call status and the
// exported fixture switches.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filmo_internal.h"
#include "test_support.h"

namespace {

using filmo_test::reset_client;
using filmo_test::ScriptedTransport;

const char kRefused[] =
    "io carries no fleet transport (need vornak_http: use filmo_use_curl / filmo_use_fake, or "
    "an io built with vornak_io_over_http)";

class ClientConfig : public ::testing::Test {
protected:
    void SetUp() override { reset_client(); }
    void TearDown() override { reset_client(); }
};

TEST_F(ClientConfig, LoadStateThenFirstConfigurationCall) {
    EXPECT_STREQ(filmo_version(), "1.0.0");
    ASSERT_NE(filmo_last_error(), nullptr);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(filmo_last_content_hash(), 0);
    EXPECT_STREQ(g_client.base_url, "");

    // The first configuration call fills in the default server and marks "no content hash".
    EXPECT_EQ(filmo_set_io(nullptr), 0);
    EXPECT_STREQ(g_client.base_url, FILMO_DEFAULT_BASE_URL);
    EXPECT_EQ(filmo_last_content_hash(), -1);
    EXPECT_EQ(filmo_last_http_code(), 0);
}

TEST_F(ClientConfig, DefaultBaseUrlIsAnHttpsOriginWithoutPath) {
    const std::string url = FILMO_DEFAULT_BASE_URL;
    ASSERT_EQ(url.rfind("https://", 0), 0u);
    EXPECT_EQ(url.find('/', 8), std::string::npos);
}

struct HostCase {
    const char *host;
    const char *stored;
};

TEST_F(ClientConfig, SetHostSchemeRules) {
    const HostCase cases[] = {
        {"api.example.org", "https://api.example.org"},
        {"http://127.0.0.1:8080/base/", "http://127.0.0.1:8080/base/"},
        {"https://example.org/", "https://example.org/"},
        {"example.org:8443/x", "https://example.org:8443/x"},
        // Only the lower-case schemes are recognised.
        {"HTTP://Example.org", "https://HTTP://Example.org"},
        {"Https://example.org", "https://Https://example.org"},
        {"http:/example.org", "https://http:/example.org"},
        {"", FILMO_DEFAULT_BASE_URL},
        {nullptr, FILMO_DEFAULT_BASE_URL},
    };
    for (const HostCase &c : cases) {
        filmo_set_host("http://previous.example");
        filmo_set_host(c.host);
        EXPECT_STREQ(g_client.base_url, c.stored) << (c.host ? c.host : "(null)");
    }
}

TEST_F(ClientConfig, SetHostCutsAt255Bytes) {
    const std::string bare(300, 'h');
    filmo_set_host(bare.c_str());
    EXPECT_EQ(std::string(g_client.base_url), "https://" + bare.substr(0, 247));

    const std::string full = "http://" + std::string(293, 'h');
    filmo_set_host(full.c_str());
    EXPECT_EQ(std::string(g_client.base_url), full.substr(0, 255));
}

TEST_F(ClientConfig, ConfigurationCallsLeaveErrorAndStatusAlone) {
    filmo_set_err("earlier failure");
    g_client.last_http_code = 503;
    g_client.last_content_hash = 1234;

    filmo_set_host("example.org");
    EXPECT_STREQ(filmo_last_error(), "earlier failure");
    EXPECT_EQ(filmo_last_http_code(), 503);
    EXPECT_EQ(filmo_last_content_hash(), -1);

    // Uninstalling does not touch the error text either.
    EXPECT_EQ(filmo_set_io(nullptr), 0);
    EXPECT_STREQ(filmo_last_error(), "earlier failure");
    EXPECT_EQ(filmo_last_http_code(), 503);
}

TEST_F(ClientConfig, SetIoInstallsAndClearsTheError) {
    ScriptedTransport st;
    filmo_set_err("earlier failure");
    EXPECT_EQ(filmo_set_io(st.io()), 0);
    EXPECT_EQ(g_client.transport, st.http());
    EXPECT_EQ(g_client.has_transport, 1);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_content_hash(), -1);
}

TEST_F(ClientConfig, SetIoNullUninstallsAndFetchesFailWithSeven) {
    ScriptedTransport st;
    st.install();
    filmo_set_err("earlier failure");
    EXPECT_EQ(filmo_set_io(nullptr), 0);
    EXPECT_EQ(g_client.transport, nullptr);
    EXPECT_EQ(g_client.has_transport, 0);
    EXPECT_STREQ(filmo_last_error(), "earlier failure");

    EXPECT_EQ(filmo_get_collections("en-US"), FILMO_ERR_NO_TRANSPORT);
    EXPECT_STREQ(filmo_last_error(), FILMO_MSG_NO_TRANSPORT);
    EXPECT_EQ(st.calls(), 0u);
}

// A handle built by hand around a copy of a good transport, so each case can spoil one field.
struct HandMadeIo {
    vornak_http http;
    vornak_io_ctx ctx;
    vornak_io io;
    explicit HandMadeIo(const vornak_http &good) : http(good), ctx{}, io{} {
        ctx.tag = VORNAK_IO_TAG;
        ctx.size = sizeof(vornak_io_ctx);
        ctx.http = &http;
        io.ctx = &ctx;
    }
};

TEST_F(ClientConfig, SetIoRefusesBadHandlesAndKeepsThePreviousTransport) {
    struct Spoil {
        const char *what;
        void (*apply)(HandMadeIo &);
    };
    const Spoil spoils[] = {
        {"tag", [](HandMadeIo &h) { h.ctx.tag = 0x56484B4Eu; }},
        {"context size 23", [](HandMadeIo &h) { h.ctx.size = 23; }},
        {"no context", [](HandMadeIo &h) { h.io.ctx = nullptr; }},
        {"no transport", [](HandMadeIo &h) { h.ctx.http = nullptr; }},
        {"version 2", [](HandMadeIo &h) { h.http.version = 2; }},
        {"transport size 31", [](HandMadeIo &h) { h.http.size = 31; }},
        {"no request", [](HandMadeIo &h) { h.http.request = nullptr; }},
    };
    ScriptedTransport previous;
    previous.install();
    ScriptedTransport other;
    for (const Spoil &s : spoils) {
        HandMadeIo h(*other.http());
        s.apply(h);
        filmo_set_err("%s", "");
        EXPECT_EQ(filmo_set_io(&h.io), FILMO_ERR_TRANSPORT) << s.what;
        EXPECT_STREQ(filmo_last_error(), kRefused) << s.what;
        EXPECT_EQ(g_client.transport, previous.http()) << s.what;
        EXPECT_EQ(g_client.has_transport, 1) << s.what;
    }
    // The unspoilt copy is accepted.
    HandMadeIo good(*other.http());
    EXPECT_EQ(filmo_set_io(&good.io), 0);
    EXPECT_EQ(g_client.transport, &good.http);
    EXPECT_STREQ(filmo_last_error(), "");
}

TEST_F(ClientConfig, UseCurlInstallsTheWinHttpTransport) {
    filmo_set_err("earlier failure");
    g_client.last_http_code = 418;
    ASSERT_EQ(vornak_http_curl(), nullptr);
    EXPECT_EQ(filmo_use_curl(), 0);
    EXPECT_EQ(g_client.transport, vornak_http_winhttp());
    EXPECT_EQ(g_client.has_transport, 1);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_EQ(filmo_last_http_code(), 418);
    EXPECT_STREQ(g_client.base_url, FILMO_DEFAULT_BASE_URL);
    EXPECT_EQ(filmo_last_content_hash(), -1);
}

TEST_F(ClientConfig, InstallersReplaceEachOther) {
    ScriptedTransport st;
    st.install();
    EXPECT_EQ(filmo_use_fake(), 0);
    const vornak_http *fake = g_client.transport;
    ASSERT_NE(fake, nullptr);
    EXPECT_NE(fake, st.http());
    EXPECT_EQ(filmo_use_curl(), 0);
    EXPECT_EQ(g_client.transport, vornak_http_winhttp());
    st.install();
    EXPECT_EQ(g_client.transport, st.http());
}

// ---- fixture switches ----------------------------------------------------------------------

// One GET straight through the installed transport; the fixture answers it by its mode.
int32_t get(const char *url, std::string *err_out = nullptr) {
    char *body = nullptr;
    size_t len = 0;
    int32_t status = 0;
    char err[256] = "";
    const int32_t rc = filmo_http_get(url, nullptr, &body, &len, nullptr, &status, err, sizeof err);
    std::free(body);
    if (err_out) *err_out = err;
    return rc;
}

TEST_F(ClientConfig, UseFakeInstallsTheBackendAndClearsTheError) {
    filmo_set_err("earlier failure");
    EXPECT_EQ(filmo_use_fake(), 0);
    EXPECT_EQ(g_client.has_transport, 1);
    EXPECT_NE(g_client.transport, nullptr);
    EXPECT_STREQ(filmo_last_error(), "");
    EXPECT_STREQ(g_client.base_url, FILMO_DEFAULT_BASE_URL);
    EXPECT_EQ(filmo_last_content_hash(), -1);
}

TEST_F(ClientConfig, FakeCorpusNeedsADirectoryAndInstallsNothing) {
    EXPECT_EQ(filmo_fake_corpus(nullptr), FILMO_ERR_TRANSPORT);
    EXPECT_STREQ(filmo_last_error(), "corpus dir required");
    filmo_set_err("%s", "");
    EXPECT_EQ(filmo_fake_corpus(""), FILMO_ERR_TRANSPORT);
    EXPECT_STREQ(filmo_last_error(), "corpus dir required");

    filmo_set_err("earlier failure");
    EXPECT_EQ(filmo_fake_corpus("/nonexistent/filmo-corpus"), 0);
    EXPECT_STREQ(filmo_last_error(), "earlier failure");
    EXPECT_EQ(g_client.has_transport, 0);
    EXPECT_EQ(g_client.transport, nullptr);
}

TEST_F(ClientConfig, FakeModeRefusesOutOfRangeAndKeepsTheMode) {
    ASSERT_EQ(filmo_use_fake(), 0);
    ASSERT_EQ(filmo_fake_mode(1), 0);
    for (int32_t bad : {8, -1, INT32_MIN}) {
        filmo_set_err("%s", "");
        EXPECT_EQ(filmo_fake_mode(bad), FILMO_ERR_TRANSPORT) << bad;
        EXPECT_STREQ(filmo_last_error(), "fake mode 0..7") << bad;
    }
    // Still mode 1: every request fails with the injected text.
    std::string err;
    EXPECT_EQ(get("http://127.0.0.1/api/AAA/GetCollectionPopular?language=en-US", &err), -1);
    EXPECT_EQ(err, "transport: fake: injected transport failure");

    filmo_set_err("earlier failure");
    for (int32_t mode = 0; mode <= 7; ++mode) EXPECT_EQ(filmo_fake_mode(mode), 0) << mode;
    EXPECT_STREQ(filmo_last_error(), "earlier failure");
}

TEST_F(ClientConfig, FakeStatisticsAndReset) {
    ASSERT_EQ(filmo_use_fake(), 0);
    ASSERT_EQ(filmo_fake_mode(2), 0);
    EXPECT_STREQ(filmo_fake_last_url(), "");
    const char url[] = "http://127.0.0.1/api/AAA/GetPeopleDetail?id=nm1";
    EXPECT_EQ(get(url), 0);
    EXPECT_EQ(filmo_last_http_code(), 500);
    ASSERT_EQ(filmo_fake_mode(0), 0);
    EXPECT_EQ(get("http://127.0.0.1/elsewhere"), -1);  // unrouted: counted as a failure

    EXPECT_EQ(filmo_fake_calls(), 2u);
    EXPECT_EQ(filmo_fake_url_count(), 2u);
    EXPECT_EQ(filmo_fake_fail_count(), 1u);
    EXPECT_STREQ(filmo_fake_last_url(), "http://127.0.0.1/elsewhere");

    // Switching transports keeps the backend's counters.
    EXPECT_EQ(filmo_use_curl(), 0);
    EXPECT_EQ(filmo_fake_calls(), 2u);

    filmo_fake_reset();
    EXPECT_EQ(filmo_fake_calls(), 0u);
    EXPECT_EQ(filmo_fake_url_count(), 0u);
    EXPECT_EQ(filmo_fake_fail_count(), 0u);
    EXPECT_STREQ(filmo_fake_last_url(), "");
}

}  // namespace
