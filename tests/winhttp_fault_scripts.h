// Servers that misbehave on purpose, for the real transport's fault tests: each script runs
// once the request was read, on the connection's own thread.
#ifndef FILMO_WINHTTP_FAULT_SCRIPTS_H
#define FILMO_WINHTTP_FAULT_SCRIPTS_H

#include <string>

#include "loopback_server.h"

namespace winhttp_fault {

using filmo_test::Conn;
using filmo_test::HttpRequest;
using filmo_test::LoopbackServer;

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


}  // namespace winhttp_fault

#endif
