// The real transport against servers on 127.0.0.1 that misbehave on purpose: each exchange ends
// in the failure of the step where it broke, with that step's text and curl's error number,
// within its time-outs, and releases everything. Through the client, a failing fetch leaves the
// results already held untouched.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filmo.h"
#include "filmo_internal.h"
#include "loopback_server.h"
#include "test_support.h"
#include "vornak_http.h"
#include "winhttp_fault_scripts.h"
#include "winhttp_test_common.h"

namespace {

using filmo_test::Conn;
using filmo_test::http_response;
using filmo_test::HttpRequest;
using filmo_test::LoopbackServer;
using namespace winhttp_fault;
using winhttp_test::Call;
using winhttp_test::Outcome;
using winhttp_test::perform;

const char *const k_read = "WinHttpReadData";

TEST_F(WinhttpFault, EachBreakEndsInTheFailureOfItsStep) {
    expect_breaks({
        {"garbage instead of a status line", garbage, text(k_receive, CURLE_UNSUPPORTED_PROTOCOL),
         ""},
        {"head without end, held open", head_held, text(k_receive, CURLE_OPERATION_TIMEDOUT), ""},
        {"head without end, closed", head_cut, text(k_receive, CURLE_WEIRD_SERVER_REPLY), ""},
        {"closed without a word", nothing, text(k_receive, CURLE_GOT_NOTHING), ""},
        {"accepts and never answers", silent, text(k_receive, CURLE_OPERATION_TIMEDOUT), ""},
        {"closed mid-body", body_cut, text(k_read, CURLE_PARTIAL_FILE), "0123456789"},
        {"chunked body cut short", chunks_cut, text(k_read, CURLE_PARTIAL_FILE), "0123456789abc"},
        {"chunk size not a number", chunk_garbage, text(k_read, CURLE_RECV_ERROR), "0123456789"},
        {"a 1 MB header", huge_header, text(k_receive, CURLE_OUT_OF_MEMORY), ""},
        {"a head past its bound", endless_headers, text(k_receive, CURLE_WRITE_ERROR), ""},
        {"head dripping a byte a second", drip_head, text(k_receive, CURLE_OPERATION_TIMEDOUT), ""},
        {"body dripping a byte a second", drip_body, text(k_read, CURLE_OPERATION_TIMEDOUT), "x"},
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

// Which time-out governs receiving: recv_timeout_ms, or timeout_ms when flags bit 1 is set.
TEST_F(WinhttpFault, ReceiveTimeOutFollowsTheFlag) {
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
        EXPECT_EQ(o.err, text(k_receive, CURLE_OPERATION_TIMEDOUT)) << "flags " << k.flags;
        EXPECT_GE(o.elapsed_ms, 350) << "flags " << k.flags;
        EXPECT_LT(o.elapsed_ms, 5000) << "flags " << k.flags;
    }
}

// A server that reads nothing stalls a large body: timeout_ms governs sending.
TEST_F(WinhttpFault, StalledSendFailsTheSend) {
    LoopbackServer server([](Conn &c) { c.pause_ms(10000); });
    Call c;
    c.method = "PUT";
    c.body = std::string(64 * 1024 * 1024, 'b');
    c.url = server.url("/upload");
    c.timeout_ms = 500;
    c.recv_timeout_ms = 20000;
    Outcome o = perform(c);
    EXPECT_EQ(o.rc, -1);
    EXPECT_EQ(o.err, text(k_send, CURLE_OPERATION_TIMEDOUT));
    EXPECT_LT(o.elapsed_ms, 5000);
}

// ---- through the client ------------------------------------------------------------------

// The answer is cut short inside the body.
void cut_body_of_50(Conn &c) { c.send("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"Id\":"); }

TEST_F(WinhttpFault, FailingFetchLeavesHeldResultsAlone) {
    expect_failing_fetch_keeps_held(cut_body_of_50,
                                    "transport: transport: " + text(k_read, CURLE_PARTIAL_FILE));
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
    expect_refused_through_client("transport: transport: " + text(k_send, CURLE_COULDNT_CONNECT));
}

}  // namespace
