// Helpers shared by the tests: a scripted host transport, zlib bodies, a clean client.
#ifndef FILMO_TEST_SUPPORT_H
#define FILMO_TEST_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "filmo.h"
#include "vornak_http.h"

namespace filmo_test {

// One scripted answer of the host transport.
struct Answer {
    int32_t rc = 0;        // what request() returns
    int32_t status = 200;  // delivered as ":status" (only when rc == 0)
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    const char *err = nullptr;  // error text handed out (a heap copy), or none
    size_t chunk = 0;           // deliver the body in chunks of this size (0: one piece)
};

// What the transport was asked.
struct Seen {
    std::string method;
    std::string url;
    std::vector<std::string> headers;
    uint64_t header_count = 0;
    bool headers_null = false;
    int32_t timeout_ms = 0, connect_timeout_ms = 0, flags = 0, recv_timeout_ms = 0;
};

// A host transport with scripted answers, wrapped in an io handle for filmo_set_io. Answers
// are served in order; with none left it answers 599 with an empty body.
class ScriptedTransport {
public:
    ScriptedTransport();
    ScriptedTransport(const ScriptedTransport &) = delete;
    ScriptedTransport &operator=(const ScriptedTransport &) = delete;

    ScriptedTransport &push(Answer a);
    ScriptedTransport &ok(std::string body, int32_t status = 200);
    ScriptedTransport &fail(const char *err);
    void install();  // filmo_set_io with this transport's handle

    const vornak_io *io() const { return &io_; }
    const vornak_http *http() const { return &http_; }
    const std::vector<Seen> &seen() const { return seen_; }
    size_t calls() const { return seen_.size(); }
    int errors_freed() const { return freed_; }

private:
    static int32_t request(void *self, const vornak_http_request *req, int32_t *status,
                           char **err);
    static void free_buf(void *self, char *text);

    vornak_http http_{};
    vornak_io_ctx ctx_{};
    vornak_io io_{};
    std::deque<Answer> answers_;
    std::vector<Seen> seen_;
    int freed_ = 0;
};

// zlib-format (RFC 1950) compression of a text at the given level.
std::string zlib_compress(const std::string &text, int level = 6);

// Returns the client to its state at load: every slot emptied, times-to-live, base URL, known
// hash and counters zeroed, the real clock, no allocation failures, fixture backend and
// in-memory fake transport reset.
void reset_client();

// The usable size of a heap block from malloc (the platform's own query).
size_t heap_block_size(void *block);

// A clock the test moves by hand.
struct ManualClock {
    static int64_t now;
    static int64_t read() { return now; }
    ManualClock(int64_t start);
    ~ManualClock();
};

}  // namespace filmo_test

#endif
