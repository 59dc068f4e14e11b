// Pieces the tests of the collections, person and popular-people views share: the failure
// exits every view has in common and a walk over the out-of-memory paths of one fetch.
#ifndef FILMO_VIEW_TEST_COMMON_H
#define FILMO_VIEW_TEST_COMMON_H

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "filmo.h"
#include "test_support.h"
#include "vornak_alloc.h"

namespace view_test {

using filmo_test::Answer;

// One way a fetch can end badly: the server's answer, the status and message it must give.
struct Exit {
    const char *what;
    Answer answer;
    int32_t status;
    std::string message;
    int32_t http;  // filmo_last_http_code afterwards
};

inline Answer answer(int32_t status, std::string body) {
    Answer a;
    a.status = status;
    a.body = std::move(body);
    return a;
}

inline Answer broken(const char *err) {
    Answer a;
    a.rc = -1;
    a.err = err;
    return a;
}

// The exits all views share, with the view's own 404 and invalid-JSON texts.
inline std::vector<Exit> shared_exits(const std::string &not_found, const std::string &invalid) {
    Answer chunked = answer(200, "[1,2,");
    chunked.chunk = 2;
    return {
        {"transport text", broken("x"), 1, "transport: transport: x", 0},
        {"transport silent", broken(nullptr), 1, "transport: transport failure", 0},
        {"404", answer(404, "[]"), 5, not_found, 404},
        {"500 with body", answer(500, "[]"), 2, "HTTP 500", 500},
        {"302", answer(302, ""), 2, "HTTP 302", 302},
        {"199", answer(199, "[]"), 2, "HTTP 199", 199},
        {"204 no body", answer(204, ""), 4, "empty body", 204},
        {"200 no body", answer(200, ""), 4, "empty body", 200},
        {"not JSON", answer(200, "nope"), 3, invalid, 200},
        {"one byte", answer(200, "\xff"), 3, invalid, 200},
        {"cut short in chunks", chunked, 3, invalid, 200},
        {"trailing garbage", answer(200, "[] x"), 3, invalid, 200},
        {"comment", answer(200, "[/* c */]"), 3, invalid, 200},
        {"unclosed nesting", answer(200, std::string(100000, '[')), 3, invalid, 200},
    };
}

// Runs fetch with the n-th allocation refused, n = 0, 1, 2, ... until it succeeds. Every refusal
// must end with one of the allowed exits and leave the held view as intact() finds it. Returns
// the messages seen, so a test can insist that each of its own out-of-memory exits was reached.
inline std::set<std::string> walk_oom(filmo_test::ScriptedTransport &t, const std::string &body,
                                      const std::function<int32_t()> &fetch,
                                      const std::set<std::pair<int32_t, std::string>> &allowed,
                                      const std::function<void()> &intact) {
    std::set<std::string> seen;
    size_t calls = t.calls();
    t.ok(body);  // one answer queued at a time: refusals before the GET leave it waiting
    for (long n = 0; n < 10000; ++n) {
        vornak_alloc_fail_after(n);
        int32_t rc = fetch();
        vornak_alloc_fail_after(-1);
        if (rc == FILMO_OK) return seen;
        if (t.calls() != calls) {
            calls = t.calls();
            t.ok(body);
        }
        std::string message = filmo_last_error();
        EXPECT_TRUE(allowed.count({rc, message})) << "n=" << n << " rc=" << rc << " " << message;
        seen.insert(message);
        intact();
        if (::testing::Test::HasFailure()) break;
    }
    ADD_FAILURE() << "the fetch never succeeded";
    return seen;
}

// A local base URL that nothing ever dials: every answer comes from the scripted transport.
inline constexpr const char *kBase = "http://127.0.0.1:9";

// Base of the views' fixtures: a clean client with a scripted transport installed.
class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        filmo_test::reset_client();
        filmo_set_host(kBase);
        t.install();
    }
    void TearDown() override { filmo_test::reset_client(); }

    filmo_test::ScriptedTransport t;
};

// The message a view gives when the collector of the catalogue GET runs out of memory.
inline const std::pair<int32_t, std::string> kResponseOom{1, "transport: oom: response"};

}  // namespace view_test

#endif
