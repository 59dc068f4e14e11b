// Internal operations of the WinHTTP transport that tests and fuzz targets reach directly.
// Nothing here is exported from the shared library.
#ifndef VORNAK_WINHTTP_INTERNAL_H
#define VORNAK_WINHTTP_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "vornak_http.h"

// Appends the headers of a raw response head (status line first, lines ended by CR, LF or
// both) to `block` as name, 0, value, 0. The text ends at its first 0 byte or after `len`
// bytes; a null head or a zero length adds nothing. Lines without a colon are ignored, the name
// is kept untrimmed, the value starts past spaces and tabs and keeps its trailing blanks, and an
// empty name or value is left out. A failed append is not reported and takes back what it wrote,
// so the block always ends on a whole entry.
void vornak_winhttp_head_block(const char *head, size_t len, vornak_buf *block);

// Calls req->on_header (which must be present) with req->sink_ctx, first for ":status" with
// `status` written as "%ld", then once per entry of `block` in order. True as soon as a call
// answers non-zero; nothing further is delivered then.
bool vornak_winhttp_flush_headers(const vornak_http_request *req, int32_t status,
                                  const vornak_buf *block);

// Test seam, defined by each platform file. On Linux, with a path, every later exchange trusts
// exactly the certificate authorities of that PEM file instead of the system's store; null (the
// state at load) returns to the system's store. The Windows file ignores the path: it always
// keeps the system store. Peer and host name verification stay on either way: nothing turns
// them off. The host serialises this against running exchanges.
void vornak_winhttp_trust_ca_file(const char *pem_path);

#endif
