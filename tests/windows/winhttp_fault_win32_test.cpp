// The real transport over WinHTTP against servers on 127.0.0.1 that misbehave on purpose: each
// exchange ends in the failure of the step where it broke, with that step's text and WinHTTP's
// error number, and releases everything. Through the client, a failing fetch leaves the results
// already held untouched. The receive time-outs run on Windows only (Wine reports them
// differently).
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filmo.h"
#include "loopback_server.h"
#include "platform_expect.h"
#include "test_support.h"
#include "vornak_http.h"
#include "../winhttp_fault_scripts.h"
#include "../winhttp_test_common.h"

namespace {

using filmo_test::http_response;
using namespace winhttp_fault;
using winhttp_test::Call;
using winhttp_test::Outcome;
using winhttp_test::perform;

const char *const k_query = "WinHttpQueryDataAvailable";
const unsigned long k_bad_answer = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;

TEST_F(WinhttpFault, EachBreakEndsInTheFailureOfItsStep) {
    using filmo_test::Gap;
    expect_breaks({
        {"garbage instead of a status line", garbage, text(k_receive, k_bad_answer), "", nullptr},
        {"head without end, closed", head_cut, text(k_receive, k_bad_answer), "",
         filmo_test::platform_gap(Gap::truncated_answer)},
        {"closed without a word", nothing, text(k_receive, k_bad_answer), "", nullptr},
        {"closed mid-body", body_cut, text(k_query, ERROR_WINHTTP_CONNECTION_ERROR), "0123456789",
         filmo_test::platform_gap(Gap::truncated_answer)},
        {"chunked body cut short", chunks_cut, text(k_query, ERROR_WINHTTP_CONNECTION_ERROR),
         "0123456789abc", filmo_test::platform_gap(Gap::truncated_answer)},
        {"head without end, held open", head_held, text(k_receive, ERROR_WINHTTP_TIMEOUT), "",
         filmo_test::platform_gap(Gap::receive_timeout)},
        {"accepts and never answers", silent, text(k_receive, ERROR_WINHTTP_TIMEOUT), "",
         filmo_test::platform_gap(Gap::receive_timeout)},
        {"body dripping a byte a second", drip_body, text(k_query, ERROR_WINHTTP_TIMEOUT), "x",
         filmo_test::platform_gap(Gap::receive_timeout)},
    });
}

// Text the platform cannot take as UTF-8 fails the step it belongs to, before any connection;
// credentials that cannot be converted skip the retry, and the 401 is the answer.
TEST_F(WinhttpFault, TextsThatAreNoUtf8) {
    filmo_test::HttpServer server([](Conn &c, const HttpRequest &) {
        c.send(http_response(401, "Unauthorized", {"WWW-Authenticate: Basic realm=\"f\""}, "no"));
    });
    struct Case {
        const char *what;
        std::string url, header;
        std::optional<std::string> user, password;
        int32_t rc;
        std::string err;
        size_t requests;
    } cases[] = {
        {"url", server.url("/\xff"), "X-A: 1", std::nullopt, std::nullopt, -1, "utf-8 url", 0},
        {"header", server.url("/"), "X-A: \xc3\x28", std::nullopt, std::nullopt, -1,
         "utf-8 headers", 0},
        {"user", server.url("/"), "X-A: 1", std::string("\xe2\x82"), std::string("pw"), 0, "", 1},
        {"password", server.url("/"), "X-A: 1", std::string("ana"), std::string("\xff"), 0, "",
         1},
    };
    size_t requests = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Call c;
        c.url = k.url;
        c.headers = {k.header};
        c.user = k.user;
        c.password = k.password;
        Outcome o = perform(c);
        EXPECT_EQ(o.rc, k.rc);
        EXPECT_EQ(o.err, k.err);
        EXPECT_EQ(o.status, k.rc == 0 ? 401 : 0);
        requests += k.requests;
        EXPECT_EQ(server.requests().size(), requests);
    }
}

// ---- through the client ------------------------------------------------------------------

TEST_F(WinhttpFault, FailingFetchLeavesHeldResultsAlone) {
    expect_failing_fetch_keeps_held(nothing,
                                    "transport: transport: " + text(k_receive, k_bad_answer));
}

TEST_F(WinhttpFault, RefusedConnectionThroughTheClient) {
    expect_refused_through_client("transport: transport: " +
                                  text(k_send, ERROR_WINHTTP_CANNOT_CONNECT));
}

}  // namespace
