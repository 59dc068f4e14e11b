// The libcurl realisation's translation of a failed transfer into the step and error number
// WinHTTP reports for the same situation. Tests reach it directly: some results (a name that
// does not resolve) only an outside network can cause. Nothing here is exported.
#ifndef VORNAK_WINHTTP_CURL_H
#define VORNAK_WINHTTP_CURL_H

#include "vornak_winhttp_platform.h"

// How far the exchange had got when the transfer failed.
enum class wcurl_phase {
    connecting,     // resolving, connecting, TLS handshake: the request has not gone out
    sending,        // the request body is still going out
    awaiting_head,  // the request went out; no complete response head yet
    reading_body,   // the head arrived; the body is being read
};

// The WinHTTP error number for curl's result (a CURLcode); a WinHTTP number for every result.
unsigned long vornak_winhttp_curl_error(int curl_result);

// The step that fails, with its WinHTTP number, for a transfer that ended with `curl_result`
// in `phase`.
wplat_fail vornak_winhttp_curl_failure(int curl_result, wcurl_phase phase);

#endif
