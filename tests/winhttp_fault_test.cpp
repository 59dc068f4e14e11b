// The real transport against servers on 127.0.0.1 that misbehave on purpose, on every platform
// from one table: each exchange ends in the failure of the step where WinHTTP breaks off, with
// WinHTTP's error number (GetLastError's on Windows, the translated one elsewhere), within its
// time-outs, and releases everything. A fault the platform's service cannot show skips with the
// reason printed. Through the client, a failing fetch leaves the results already held untouched.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "filmo.h"
#include "filmo_internal.h"
#include "loopback_server.h"
#include "platform_expect.h"
#include "test_support.h"
#include "vornak_http.h"
#include "vornak_winhttp_errors.h"
#include "winhttp_fault_scripts.h"
#include "winhttp_test_common.h"

namespace {

using filmo_test::Gap;
using filmo_test::http_response;
using filmo_test::platform_gap;
using namespace winhttp_fault;
using winhttp_test::Call;
using winhttp_test::Outcome;
using winhttp_test::perform;
namespace werr = vornak_winhttp_error;

TEST_F(WinhttpFault, EachBreakEndsInTheFailureOfItsStep) {
    const char *no_timeout = platform_gap(Gap::receive_timeout);
    const char *no_head_timeout = platform_gap(Gap::head_timeout);
    const char *no_stalled_head = platform_gap(Gap::stalled_head);
    const char *no_cut = platform_gap(Gap::truncated_answer);
    const char *no_bound = platform_gap(Gap::head_size_bound);
    expect_breaks({
        {"garbage instead of a status line", garbage, text(k_receive, werr::invalid_server_response),
         ""},
        {"closed without a word", nothing, text(k_receive, werr::invalid_server_response), ""},
        {"head without end, closed", head_cut, text(k_receive, werr::invalid_server_response), "",
         no_cut},
        {"head without end, held open", head_held, text(k_receive, werr::timeout), "",
         no_stalled_head},
        {"accepts and never answers", silent, text(k_receive, werr::timeout), "",
         no_head_timeout},
        {"head dripping a byte a second", drip_head, text(k_receive, werr::timeout), "",
         no_stalled_head},
        {"a 1 MB header", huge_header, text(k_receive, werr::header_size_overflow), "",
         no_bound},
        {"a head past its bound", endless_headers, text(k_receive, werr::header_size_overflow),
         "", no_bound},
        {"closed mid-body", body_cut, text(k_query, werr::connection_error), "0123456789", no_cut},
        {"chunked body cut short", chunks_cut, text(k_query, werr::connection_error),
         "0123456789abc", no_cut},
        {"chunk size not a number", chunk_garbage, text(k_query, werr::invalid_server_response),
         "0123456789", platform_gap(Gap::bad_chunk)},
        {"body dripping a byte a second", drip_body, text(k_query, werr::timeout), "x",
         no_timeout},
    });
}

// The receive time-out is measured from the last byte moved, not over the whole answer.
TEST_F(WinhttpFault, SlowButSteadyAnswerIsNoTimeout) {
    LoopbackServer server([](Conn &c) {
        HttpRequest r;
        if (!c.read_request(r)) return;
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n");
        for (char ch : std::string("steady drips"))
            if (!c.send(std::string(1, ch)) || !c.pause_ms(150)) return;
    });
    Call c;
    c.url = server.url("/");
    c.recv_timeout_ms = 1000;
    Outcome o = perform(c);
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(o.body, "steady drips");
    EXPECT_GT(o.elapsed_ms, 1000);
}

// Which time-out governs the wait for the head: recv_timeout_ms, or timeout_ms when flags bit 1
// is set. Where the platform's number for it differs, the time-out itself is still checked.
TEST_F(WinhttpFault, ReceiveTimeOutFollowsTheFlag) {
    const char *gap = platform_gap(Gap::head_timeout);
    if (gap) std::printf("[  SKIPPED ] the time-out's text: %s\n", gap);
    struct Case {
        int32_t timeout_ms, recv_timeout_ms, flags;
    } cases[] = {
        {20000, 400, 0},
        {400, 20000, VORNAK_FLAG_NO_RECV_TIMEOUT},
    };
    for (const Case &k : cases) {
        LoopbackServer server(after_request(silent));
        Call c;
        c.url = server.url("/");
        c.timeout_ms = k.timeout_ms;
        c.recv_timeout_ms = k.recv_timeout_ms;
        c.flags = k.flags;
        Outcome o = perform(c);
        EXPECT_EQ(o.rc, -1) << "flags " << k.flags;
        if (!gap) {
            EXPECT_EQ(o.err, text(k_receive, werr::timeout)) << "flags " << k.flags;
        }
        EXPECT_GE(o.elapsed_ms, 350) << "flags " << k.flags;
        EXPECT_LT(o.elapsed_ms, 5000) << "flags " << k.flags;
    }
}

// A server that answers late, but within a receive time-out longer than WinHTTP's own default
// for the head: the answer is taken.
TEST_F(WinhttpFault, LongReceiveTimeOutAlsoCoversTheHead) {
    LoopbackServer server([](Conn &c) {
        HttpRequest r;
        if (c.read_request(r) && c.pause_ms(1500))
            c.send(http_response(200, "OK", {}, "late"));
    });
    Call c;
    c.url = server.url("/");
    c.timeout_ms = 1000;  // the session's: it must not govern the head
    c.recv_timeout_ms = 8000;
    Outcome o = perform(c);
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_EQ(o.body, "late");
}

// A server that reads nothing stalls a large body: timeout_ms governs sending.
TEST_F(WinhttpFault, StalledSendFailsTheSend) {
    const char *gap = platform_gap(Gap::send_timeout);
    if (gap) std::printf("[  SKIPPED ] the time-out's text: %s\n", gap);
    LoopbackServer server([](Conn &c) { c.pause_ms(10000); });
    Call c;
    c.method = "PUT";
    c.body = std::string(64 * 1024 * 1024, 'b');
    c.url = server.url("/upload");
    c.timeout_ms = 500;
    c.recv_timeout_ms = 20000;
    Outcome o = perform(c);
    EXPECT_EQ(o.rc, -1);
    if (!gap) {
        EXPECT_EQ(o.err, text(k_send, werr::timeout));
    }
    EXPECT_LT(o.elapsed_ms, 5000);
}

// The authentication retry that breaks ends the exchange with its own step's failure: no status,
// nothing delivered, and no later step reports on the request it left behind. The first answer
// closes its connection, so the retry goes out on a new one on every platform.
TEST_F(WinhttpFault, FailedRetryEndsTheExchange) {
    struct Case {
        const char *what;
        Script second;  // what the server does with the retry
        std::string err;
    } cases[] = {
        {"closed without a word", nothing, text(k_receive, werr::invalid_server_response)},
        {"garbage", garbage, text(k_receive, werr::invalid_server_response)},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        std::atomic<int> seen{0};
        Script second = k.second;
        LoopbackServer server([&seen, second](Conn &c) {
            HttpRequest r;
            if (!c.read_request(r)) return;
            if (seen++ > 0) {
                second(c);
                return;
            }
            c.send(http_response(401, "Unauthorized",
                                 {"WWW-Authenticate: Basic realm=\"f\"", "Connection: close"},
                                 "denied"));
        });
        Call c;
        c.url = server.url("/private");
        c.user = "ana";
        c.password = "s3cret";
        c.recv_timeout_ms = 3000;
        Outcome o = perform(c);
        EXPECT_EQ(o.rc, -1);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, k.err);
        EXPECT_TRUE(o.events.empty());
        EXPECT_GE(seen.load(), 2);
    }
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

// The answer is cut short inside the body.
void cut_body_of_50(Conn &c) { c.send("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"Id\":"); }

TEST_F(WinhttpFault, FailingFetchLeavesHeldResultsAlone) {
    struct Case {
        const char *what;
        Script failing;
        std::string err;
        const char *skip;
    } cases[] = {
        {"closed without a word", nothing, text(k_receive, werr::invalid_server_response),
         nullptr},
        {"closed mid-body", cut_body_of_50, text(k_query, werr::connection_error),
         platform_gap(Gap::truncated_answer)},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        if (k.skip) {
            std::printf("[  SKIPPED ] %s: %s\n", k.what, k.skip);
            continue;
        }
        filmo_test::reset_client();
        expect_failing_fetch_keeps_held(k.failing, "transport: transport: " + k.err);
    }
}

// The catalogue GET's 32 MB bound holds over the wire: a body of exactly 33554432 bytes is
// taken whole, one byte more ends the exchange with the bound's message and hands out nothing.
TEST_F(WinhttpFault, BodyBoundHoldsOverTheWire) {
    const size_t bound = size_t{32} * 1048576;
    LoopbackServer server([bound](Conn &c) {
        HttpRequest r;
        if (!c.read_request(r)) return;
        const size_t len = r.target.find("over") != std::string::npos ? bound + 1 : bound;
        // A JSON array padded with blanks to the exact length, sent in 1 MB pieces.
        if (!c.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(len) + "\r\n\r\n["))
            return;
        const std::string blanks(1048576, ' ');
        size_t left = len - 2;
        while (left > 0) {
            const size_t n = left < blanks.size() ? left : blanks.size();
            if (!c.send(blanks.substr(0, n))) return;  // the client stopped reading
            left -= n;
        }
        c.send("]");
    });
    filmo_set_host(server.url("").c_str());
    ASSERT_EQ(filmo_use_curl(), 0);

    ASSERT_EQ(filmo_get_collections("exact"), 0) << filmo_last_error();
    EXPECT_EQ(filmo_collection_count(), 0);
    EXPECT_EQ(filmo_cache_entries(), 1);

    EXPECT_EQ(filmo_get_collections("over"), 1);
    EXPECT_STREQ(filmo_last_error(), "transport: body exceeds 32 MB bound");
    EXPECT_EQ(filmo_last_http_code(), 200);
    EXPECT_STREQ(g_client.colls_key, "exact");  // the held view stays
}

TEST_F(WinhttpFault, RefusedConnectionThroughTheClient) {
    expect_refused_through_client("transport: transport: " +
                                  text(k_send, werr::cannot_connect));
}

}  // namespace
