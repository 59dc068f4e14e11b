// The in-memory fake under several threads: requests (direct, HEAD, ranged, dripped and through
// the io adapter) race with registrations and counter reads. Every answer must arrive whole and
// consistent, and the counters must add up. Meant to run under ASan+UBSan and ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "vornak_http.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 120;
constexpr int kRoutes = 48;

struct Seen {
    int32_t status = 0;
    std::string body;
    static int32_t on_header(void *, const char *, const char *) { return 0; }
    static int32_t on_body(void *ctx, const void *bytes, uint64_t n) {
        static_cast<Seen *>(ctx)->body.append(static_cast<const char *>(bytes), n);
        return 0;
    }
};

Seen ask(const char *method, const char *url, const char *range = nullptr) {
    const char *lines[1] = {range};
    vornak_http_request req;
    std::memset(&req, 0, sizeof req);
    req.size = VORNAK_REQUEST_SIZE;
    req.method = method;
    req.url = url;
    req.headers = lines;
    req.header_count = range ? 1 : 0;
    req.on_header = &Seen::on_header;
    req.on_body = &Seen::on_body;
    Seen s;
    req.sink_ctx = &s;
    char *err = nullptr;
    const vornak_http *h = vornak_http_fake();
    if (h->request(nullptr, &req, &s.status, &err) != 0) s.status = -1;
    h->free_buf(nullptr, err);
    return s;
}

// The first and the second answer a route is given; a reader sees exactly one of them.
std::string first_body(int i) { return "first " + std::to_string(i); }
std::string second_body(int i) { return "second answer of route " + std::to_string(i); }

void register_route(int i, bool second) {
    char url[16];
    std::snprintf(url, sizeof url, "/c%d", i);
    std::string body = second ? second_body(i) : first_body(i);
    ASSERT_EQ(vornak_fake_set("GET", url, second ? 201 : 200, "X-Route: yes\n", body.data(),
                              body.size()),
              0);
}

struct Tally {
    int requests = 0;
    int get_served = 0;  // GET or HEAD answered by a GET route
    int writes = 0;
    int bad = 0;         // answers that were neither of a route's two versions
};

void worker(int t, const vornak_io *io, const std::string &file, std::atomic<bool> *go,
            Tally *tally) {
    while (!go->load()) std::this_thread::yield();
    char url[16];
    for (int r = 0; r < kRounds; ++r) {
        int i = (r * 7 + t * 13) % kRoutes;
        std::snprintf(url, sizeof url, "/c%d", i);
        Seen s = ask(r % 5 == 0 ? "HEAD" : "GET", url);
        ++tally->requests;
        if (s.status == 200 || s.status == 201) {
            ++tally->get_served;
            const std::string want = s.status == 200 ? first_body(i) : second_body(i);
            if (s.body != want) ++tally->bad;
        } else if (s.status != 404) {
            ++tally->bad;
        }
        switch (r % 6) {
        case 0: {
            Seen part = ask("GET", "/file", "Range: bytes=100-163");
            ++tally->requests;
            ++tally->get_served;
            if (part.status != 206 || part.body != file.substr(100, 64)) ++tally->bad;
            break;
        }
        case 1: {
            char *body = nullptr, *err = nullptr;
            int32_t status = 0;
            ++tally->requests;
            ++tally->get_served;
            if (io->get(io->ctx, "/file", &body, &status, &err) != 0 || status != 200 ||
                !body || file.compare(0, std::string::npos, body) != 0)
                ++tally->bad;
            io->free_buf(io->ctx, body);
            io->free_buf(io->ctx, err);
            break;
        }
        case 2:
            ask("PUT", url);
            ++tally->requests;
            ++tally->writes;
            break;
        case 3:
            if (r % 30 == 3) {
                // A drip sleeps with the lock released; others go on meanwhile.
                Seen d = ask("GET", "/drip");
                ++tally->requests;
                ++tally->get_served;
                if (d.status != 200 || d.body != std::string(128, 'd')) ++tally->bad;
            }
            break;
        default:
            break;
        }
    }
}

TEST(FakeConcurrency, RequestsRaceWithRegistrations) {
    filmo_test::reset_client();
    vornak_fake_reset();
    std::string file(1000, '\0');
    for (size_t k = 0; k < file.size(); ++k) file[k] = static_cast<char>('a' + k % 26);
    ASSERT_EQ(vornak_fake_file("/file", file.data(), file.size(), 1), 0);
    ASSERT_EQ(vornak_fake_drip("/drip", 200, std::string(128, 'd').data(), 128, 0), 0);
    const vornak_io *io = vornak_io_over_http(vornak_http_fake(), nullptr);
    ASSERT_NE(io, nullptr);

    std::atomic<bool> go{false};
    std::vector<Tally> tallies(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(worker, t, io, std::cref(file), &go, &tallies[t]);
    // Each reader asks one kind of question for as long as the workers run, so that an
    // unguarded read has no lock of its own to hide behind.
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    auto read_while_running = [&](int32_t (*question)()) {
        readers.emplace_back([&, question] {
            while (!go.load()) std::this_thread::yield();
            while (!done.load()) {
                EXPECT_GE(question(), 0);
                std::this_thread::yield();
            }
        });
    };
    read_while_running([] { return vornak_fake_calls(nullptr, nullptr); });
    read_while_running([] { return vornak_fake_calls("GET", "/c1"); });
    read_while_running([] { return vornak_fake_calls_method("GET"); });
    read_while_running([] { return vornak_fake_writes_sent(); });

    go.store(true);
    // Routes appear (growing the table past 16 and 32) and are replaced while requests run.
    for (int i = 0; i < kRoutes; ++i) register_route(i, false);
    for (int i = 0; i < kRoutes; ++i) register_route(i, true);
    for (auto &th : threads) th.join();
    done.store(true);
    for (auto &th : readers) th.join();

    Tally sum;
    for (const Tally &t : tallies) {
        sum.requests += t.requests;
        sum.get_served += t.get_served;
        sum.writes += t.writes;
        sum.bad += t.bad;
    }
    EXPECT_EQ(sum.bad, 0);
    EXPECT_EQ(vornak_fake_calls(nullptr, nullptr), sum.requests);
    EXPECT_EQ(vornak_fake_calls_method("GET"), sum.get_served);
    EXPECT_EQ(vornak_fake_calls_method("PUT"), 0);
    EXPECT_EQ(vornak_fake_writes_sent(), sum.writes);
    EXPECT_NE(vornak_fake_last_request(), nullptr);  // read once every thread is done
    vornak_fake_reset();
}

}  // namespace
