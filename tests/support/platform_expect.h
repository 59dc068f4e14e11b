// Where the real transport's tests meet the platform's HTTP service: the behaviours a given
// service cannot show (the tests of exactly those skip, saying why), and the process
// environment. The error numbers in the failure texts are WinHTTP's on every platform
// (vornak_winhttp_errors.h).
#ifndef FILMO_PLATFORM_EXPECT_H
#define FILMO_PLATFORM_EXPECT_H

namespace filmo_test {

// Behaviours of the transport that rest on the platform's service.
enum class Gap {
    decompression,    // gzip and deflate decoding on request
    digest,           // answering a Digest challenge
    tls,              // TLS handshakes
    receive_timeout,  // a receive time-out inside the body, with its own number
    head_timeout,     // a receive time-out while waiting for the response head
    stalled_head,     // a receive time-out after part of the head arrived
    send_timeout,     // a send time-out while the request body stalls
    duplicate_request_headers,  // two caller lines of one name both go out
    query_without_path,         // "http://host:port?q" asks for "/?q"
    head_name_space,            // a response header name that ends in a space is a header
    interim_answers,            // a 1xx answer before the final one
    chunk_streaming,            // a chunk is handed on before the next one arrived
    truncated_answer,           // a head or body cut short by a closed connection fails
    head_size_bound,            // a response head over 64 KB fails
    bad_chunk,                  // a chunk size that is no number fails the body
};
// Why this service cannot show `gap`, or null when it can.
const char *platform_gap(Gap gap);

// Sets a variable of the process environment; a null value removes it.
void set_env(const char *name, const char *value);

// Makes a named pipe at `path`: false where the platform has none in its file system.
bool make_fifo(const char *path);

}  // namespace filmo_test

#endif
