// The socket calls of the test servers, one source per platform (posix/, win32/). Sockets are
// plain ints here; the portable half (loopback_server.cpp) builds the servers on top.
#ifndef FILMO_SOCKET_OPS_H
#define FILMO_SOCKET_OPS_H

#include <cstddef>
#include <cstdint>

namespace filmo_test::sock {

// A socket listening on 127.0.0.1 with an ephemeral port (*port); throws when there is none.
int listen_loopback(uint16_t *port);
// Readable within ms milliseconds: 1; not yet: 0; failure: -1.
int wait_readable(int fd, int ms);
// An accepted connection, or -1.
int accept_one(int listen_fd);
// Bytes received (0: the peer closed, negative: failure) and bytes sent (<= 0: failure).
long recv_some(int fd, char *buf, size_t n);
long send_some(int fd, const char *bytes, size_t n);
// Waits at most ms milliseconds; true when the peer closed or the connection broke meanwhile.
bool peer_gone(int fd, int ms);
void shutdown_both(int fd);
void close_fd(int fd);

}  // namespace filmo_test::sock

#endif
