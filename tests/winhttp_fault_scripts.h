// What the real transport's fault tests use: servers that misbehave on purpose (each script runs
// once the request was read, on the connection's own thread), and the checks run against them.
#ifndef FILMO_WINHTTP_FAULT_SCRIPTS_H
#define FILMO_WINHTTP_FAULT_SCRIPTS_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filmo.h"
#include "loopback_server.h"
#include "test_support.h"
#include "winhttp_test_common.h"

namespace winhttp_fault {

using filmo_test::Conn;
using filmo_test::HttpRequest;
using filmo_test::LoopbackServer;

// Every fault test starts and ends with a client in its state at load.
class WinhttpFault : public ::testing::Test {
protected:
    void SetUp() override { filmo_test::reset_client(); }
    void TearDown() override { filmo_test::reset_client(); }
};

// "<step> failed: <code>", the transport's failure text.
inline std::string text(const char *step, unsigned long code) {
    return std::string(step) + " failed: " + std::to_string(code);
}

const char *const k_send = "WinHttpSendRequest";
const char *const k_receive = "WinHttpReceiveResponse";
const char *const k_query = "WinHttpQueryDataAvailable";

// What a broken server does once it has read the request.
using Script = void (*)(Conn &);

inline void garbage(Conn &c) { c.send("SSH-2.0-OpenSSH_9.2\r\nnot http at all\r\n\r\n"); }
inline void head_held(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\nX-A: 1\r\n");
    c.pause_ms(10000);
}
inline void head_cut(Conn &c) { c.send("HTTP/1.1 200 OK\r\nX-A: 1\r\n"); }
inline void nothing(Conn &) {}
inline void silent(Conn &c) { c.pause_ms(10000); }
inline void body_cut(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
}
inline void chunks_cut(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n0123456789\r\n10\r\nabc");
}
inline void chunk_garbage(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n0123456789\r\n");
    if (c.pause_ms(100)) c.send("zz\r\n");
}
inline void huge_header(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\nX-Big: " + std::string(1024 * 1024, 'a') + "\r\n\r\n");
}
inline void endless_headers(Conn &c) {
    std::string h = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 6000; ++i)
        h += "X-H" + std::to_string(i) + ": " + std::string(80, 'v') + "\r\n";
    c.send(h + "Content-Length: 0\r\n\r\n");
}
inline void drip_head(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\n");
    for (int i = 0; i < 10 && c.send("X") && c.pause_ms(1000);) ++i;
}
inline void drip_body(Conn &c) {
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n");
    for (int i = 0; i < 20 && c.send("x") && c.pause_ms(1000);) ++i;
}

inline LoopbackServer::Handler after_request(Script script) {
    return [script](Conn &c) {
        HttpRequest r;
        if (c.read_request(r)) script(c);
    };
}

// One broken server and how the exchange with it ends.
struct Break {
    const char *what;
    Script script;
    std::string err;
    std::string body;            // what reached on_body before the failure
    const char *skip = nullptr;  // why this platform cannot show it, or null
};

// Each exchange fails with its step's text within its time-outs, and the sinks saw only what
// came before the failure.
inline void expect_breaks(const std::vector<Break> &cases) {
    for (const Break &k : cases) {
        SCOPED_TRACE(k.what);
        if (k.skip) {
            std::printf("[  SKIPPED ] %s: %s\n", k.what, k.skip);
            continue;
        }
        LoopbackServer server(after_request(k.script));
        winhttp_test::Call c;
        c.url = server.url("/x");
        c.recv_timeout_ms = 400;
        c.timeout_ms = 10000;
        winhttp_test::Outcome o = winhttp_test::perform(c);
        EXPECT_EQ(o.rc, -1);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, k.err);
        EXPECT_LT(o.elapsed_ms, 5000);
        EXPECT_EQ(o.body, k.body);
        if (k.body.empty()) {
            EXPECT_TRUE(o.events.empty());
        } else {
            EXPECT_EQ(o.headers.at(0).first, ":status");
        }
    }
}

// Through the client: the server answers the collections once, then every request with
// `failing`; the failed fetches report `failure` and leave the results already held alone.
inline void expect_failing_fetch_keeps_held(Script failing, const std::string &failure) {
    const char *home = R"({"List":[{"Id":"a","Value":"b"}],"Basics":[]})";
    ASSERT_EQ(filmo_parse_homepage_json(home, std::strlen(home)), 0);
    std::atomic<int> served{0};
    LoopbackServer server([&served, failing](Conn &c) {
        HttpRequest r;
        if (!c.read_request(r)) return;
        if (served++ == 0 && r.target.find("GetCollectionPopular") != std::string::npos) {
            c.send(filmo_test::http_response(200, "OK", {}, R"([{"Id":7,"Name":"Noir"}])"));
            return;
        }
        failing(c);
    });
    filmo_set_host(server.url("").c_str());
    ASSERT_EQ(filmo_use_curl(), 0);
    ASSERT_EQ(filmo_get_collections("en-US"), 0) << filmo_last_error();
    ASSERT_EQ(filmo_collection_count(), 1);

    EXPECT_EQ(filmo_get_homepage("user", 1, "en-US", 1), 1);
    EXPECT_EQ(std::string(filmo_last_error()), failure);
    EXPECT_STREQ(filmo_home_json(), home);
    EXPECT_STREQ(filmo_home_list_id(0), "a");

    EXPECT_EQ(filmo_get_people_detail("nm1", "en-US"), 1);
    EXPECT_EQ(std::string(filmo_last_error()), failure);
    EXPECT_STREQ(filmo_home_json(), home);
    EXPECT_EQ(filmo_collection_count(), 1);
    EXPECT_STREQ(filmo_collection_name(0), "Noir");
}

// Through the client: nobody listens, and the fetch reports `failure`.
inline void expect_refused_through_client(const std::string &failure) {
    std::string host = "http://127.0.0.1:" + std::to_string(filmo_test::unused_port());
    filmo_set_host(host.c_str());
    ASSERT_EQ(filmo_use_curl(), 0);
    EXPECT_EQ(filmo_get_collections("en-US"), 1);
    EXPECT_EQ(std::string(filmo_last_error()), failure);
    EXPECT_EQ(filmo_last_http_code(), 0);
    EXPECT_EQ(filmo_collection_count(), 0);
}

}  // namespace winhttp_fault

#endif
