// The real transport on Windows is WinHTTP: what Wine's WinHTTP (8.0, as run by the test
// command) cannot show. Wine is known by the wine_get_version export of ntdll.
#include <windows.h>

#include <cstdlib>

#include "platform_expect.h"

namespace filmo_test {

namespace {

bool under_wine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

}  // namespace

const char *platform_gap(Gap gap) {
    if (!under_wine()) return nullptr;
    switch (gap) {
    case Gap::decompression:
        return "Wine's WinHTTP refuses WINHTTP_OPTION_DECOMPRESSION (12009): runs on Windows";
    case Gap::digest:
        return "Wine's WinHTTP does not answer Digest challenges: runs on Windows";
    case Gap::tls:
        return "TLS against the test servers is not set up under Wine: runs on Windows";
    case Gap::receive_timeout:
        return "Wine's WinHTTP reports a receive time-out inside the body as 10060, not 12002: "
               "runs on Windows";
    case Gap::duplicate_request_headers:
        return "Wine's WinHTTP sends only the last of two request lines of one name";
    case Gap::query_without_path:
        return "Wine's WinHttpCrackUrl drops a query that follows the port directly";
    case Gap::head_name_space:
        return "Wine's WinHTTP ends the head at a header name that ends in a space";
    case Gap::interim_answers:
        return "Wine's WinHTTP fails on a 1xx answer before the final one (12152)";
    case Gap::chunk_streaming:
        return "Wine's WinHTTP holds a chunk back until the next chunk's size arrived";
    case Gap::truncated_answer:
        return "Wine's WinHTTP takes a head or body cut short by a closed connection for whole";
    case Gap::head_size_bound:
        return "Wine's WinHTTP takes a response head of any size: runs on Windows";
    case Gap::bad_chunk:
        return "Wine's WinHTTP takes a chunk size that is no number for the end of the body";
    case Gap::head_timeout:
        return "Wine's WinHTTP times the wait for the head out as asked, but reports 10060 "
               "(WSAETIMEDOUT), not 12002: runs on Windows";
    case Gap::stalled_head:
        return "Wine's WinHTTP takes a head that stalls part-way for whole once the receive "
               "time-out passes, and then faults inside WinHttpReadData: runs on Windows";
    case Gap::send_timeout:
        return "Wine's WinHTTP times a stalled send out as asked, but reports 10060 "
               "(WSAETIMEDOUT), not 12002: runs on Windows";
    }
    return nullptr;
}

void set_env(const char *name, const char *value) { _putenv_s(name, value ? value : ""); }

bool make_fifo(const char *) { return false; }

}  // namespace filmo_test
