// What `filmo record` and `filmo check` share: the host transport they install with
// filmo_set_io (the library's own real transport underneath, with every answer kept exactly as
// it came: status, header lines, body bytes), and the writing of their reports.
#ifndef FILMO_HOSTIO_H
#define FILMO_HOSTIO_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <yyjson.h>

#include "filmo.h"

namespace filmo_cli {

// One exchange as the transport saw it.
struct exchange {
    std::string url;
    int32_t rc = -1;         // the transport's result: 0 when an answer came
    int32_t status = 0;      // the HTTP status of that answer
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool body_whole = true;  // false when the library refused part of it (its size bound)
    bool kept = true;        // false when memory ran out while keeping it
    std::string error;       // the transport's failure text

    bool answered() const { return rc == 0; }
    // The first header of that name (ASCII case ignored), or null.
    const std::string *header(const char *name) const;
};

// Installed, every request of the library goes through here; last() is the latest exchange.
// One client, one request at a time, as the library itself requires.
class keeping_transport {
public:
    // A time-out above 0 replaces the library's own for connecting, sending and receiving.
    explicit keeping_transport(int32_t timeout_ms);
    keeping_transport(const keeping_transport &) = delete;
    keeping_transport &operator=(const keeping_transport &) = delete;

    // filmo_set_io with this transport; false (the library's last error set) when refused.
    bool install();
    const exchange &last() const { return last_; }
    // Forgets the last exchange, so that a fetch the library refused before asking shows as
    // one with no URL.
    void forget() { last_ = exchange(); }

private:
    static int32_t request(void *self, const vornak_http_request *req, int32_t *status,
                           char **err);
    static void free_buf(void *self, char *text);
    static int32_t on_header(void *self, const char *name, const char *value);
    static int32_t on_body(void *self, const void *bytes, uint64_t n);

    const vornak_http *real_;
    int32_t timeout_ms_;
    vornak_http http_{};
    exchange last_;
    // The library's own sinks of the request under way.
    vornak_header_sink lib_header_ = nullptr;
    vornak_body_sink lib_body_ = nullptr;
    void *lib_ctx_ = nullptr;
};

// What came, for a report: "HTTP 404 with 14 bytes" or "transport: <the failure text>".
std::string what_came(const exchange &e);

// Installs a keeping transport for the server at host and uninstalls it at the end of scope, so
// that the library never holds a transport that is gone.
class host_session {
public:
    host_session(const char *host, int32_t timeout_s);
    ~host_session();
    host_session(const host_session &) = delete;
    host_session &operator=(const host_session &) = delete;
    // False with the library's last error when the transport was refused.
    bool ready() const { return ready_; }
    // Empties the client's views and forgets the last exchange, so that the next fetch asks
    // the server and last() is its exchange (no URL when the library asked nothing).
    void forget() {
        filmo_cache_clear();
        transport_.forget();
    }
    const exchange &last() const { return transport_.last(); }

private:
    keeping_transport transport_;
    bool ready_;
};

}  // namespace filmo_cli

#endif  // FILMO_HOSTIO_H
