// Where the real transport's tests meet the platform's HTTP service: the error numbers it puts
// into the failure texts, the behaviours a given service cannot show (the tests of exactly
// those skip, saying why), and the process environment.
#ifndef FILMO_PLATFORM_EXPECT_H
#define FILMO_PLATFORM_EXPECT_H

namespace filmo_test {

// Error numbers of the platform's HTTP service.
struct PlatformErrors {
    unsigned long bad_scheme;  // a scheme other than http or https
    unsigned long bad_url;     // a text that is no URL
    unsigned long no_host;     // "http://" and nothing after it
    unsigned long refused;     // nobody listens on the port
    unsigned long handshake;   // the TLS handshake failed
};
const PlatformErrors &platform_errors();

// Behaviours of the transport that rest on the platform's service.
enum class Gap {
    decompression,    // gzip and deflate decoding on request
    digest,           // answering a Digest challenge
    tls,              // TLS handshakes
    receive_timeout,  // a receive time-out, before and inside the body, with its own number
    duplicate_request_headers,  // two caller lines of one name both go out
    query_without_path,         // "http://host:port?q" asks for "/?q"
    head_name_space,            // a response header name that ends in a space is a header
    interim_answers,            // a 1xx answer before the final one
    chunk_streaming,            // a chunk is handed on before the next one arrived
    truncated_answer,           // a head or body cut short by a closed connection fails
};
// Why this service cannot show `gap`, or null when it can.
const char *platform_gap(Gap gap);

// Sets a variable of the process environment; a null value removes it.
void set_env(const char *name, const char *value);

// Makes a named pipe at `path`: false where the platform has none in its file system.
bool make_fifo(const char *path);

}  // namespace filmo_test

#endif
