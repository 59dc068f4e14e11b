// The libcurl realisation's translation table, read directly: the step and WinHTTP error number
// for failures that only an outside network can cause (a name that does not resolve, a connect
// time-out, a reset) and that the tests therefore never make happen, next to the ones the fault
// tests also make on 127.0.0.1. Whatever curl answers, the number is one of WinHTTP's.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "vornak_winhttp_curl.h"
#include "vornak_winhttp_errors.h"

namespace {

namespace werr = vornak_winhttp_error;
using phase = wcurl_phase;

std::string step_name(wplat_step step) {
    switch (step) {
    case WPLAT_SEND: return "WinHttpSendRequest";
    case WPLAT_RECEIVE: return "WinHttpReceiveResponse";
    case WPLAT_QUERY_DATA: return "WinHttpQueryDataAvailable";
    case WPLAT_READ: return "WinHttpReadData";
    default: return "step " + std::to_string(static_cast<int>(step));
    }
}

std::string text_of(wplat_fail f) { return step_name(f.step) + " failed: " + std::to_string(f.code); }

std::string text(const char *step, unsigned long code) {
    return std::string(step) + " failed: " + std::to_string(code);
}

const char *const k_send = "WinHttpSendRequest";
const char *const k_receive = "WinHttpReceiveResponse";
const char *const k_query = "WinHttpQueryDataAvailable";

TEST(WinhttpCurlErrors, EachFailureTakesWinhttpsStepAndNumber) {
    struct Case {
        const char *what;
        CURLcode result;
        wcurl_phase when;
        std::string text;
    } cases[] = {
        {"name not resolved", CURLE_COULDNT_RESOLVE_HOST, phase::connecting,
         text(k_send, werr::name_not_resolved)},
        {"proxy name not resolved", CURLE_COULDNT_RESOLVE_PROXY, phase::connecting,
         text(k_send, werr::name_not_resolved)},
        {"connection refused", CURLE_COULDNT_CONNECT, phase::connecting,
         text(k_send, werr::cannot_connect)},
        {"connect time-out", CURLE_OPERATION_TIMEDOUT, phase::connecting,
         text(k_send, werr::timeout)},
        {"handshake failed", CURLE_SSL_CONNECT_ERROR, phase::connecting,
         text(k_send, werr::secure_failure)},
        {"certificate untrusted or for another name", CURLE_PEER_FAILED_VERIFICATION,
         phase::connecting, text(k_send, werr::secure_failure)},
        {"authorities unreadable", CURLE_SSL_CACERT_BADFILE, phase::connecting,
         text(k_send, werr::secure_failure)},
        {"no shared cipher", CURLE_SSL_CIPHER, phase::connecting,
         text(k_send, werr::secure_failure)},
        {"client certificate asked for", CURLE_SSL_CLIENTCERT, phase::connecting,
         text(k_send, werr::client_cert_needed)},
        {"body stalled going out", CURLE_OPERATION_TIMEDOUT, phase::sending,
         text(k_send, werr::timeout)},
        {"reset while the body goes out", CURLE_SEND_ERROR, phase::sending,
         text(k_send, werr::connection_error)},
        {"reset while the request goes out", CURLE_SEND_ERROR, phase::awaiting_head,
         text(k_send, werr::connection_error)},
        {"reset before the head", CURLE_RECV_ERROR, phase::awaiting_head,
         text(k_receive, werr::connection_error)},
        {"no head in time", CURLE_OPERATION_TIMEDOUT, phase::awaiting_head,
         text(k_receive, werr::timeout)},
        {"closed without a word", CURLE_GOT_NOTHING, phase::awaiting_head,
         text(k_receive, werr::invalid_server_response)},
        {"no status line", CURLE_UNSUPPORTED_PROTOCOL, phase::awaiting_head,
         text(k_receive, werr::invalid_server_response)},
        {"head cut short", CURLE_WEIRD_SERVER_REPLY, phase::awaiting_head,
         text(k_receive, werr::invalid_server_response)},
        {"memory ran out for the head", CURLE_OUT_OF_MEMORY, phase::awaiting_head,
         text(k_receive, werr::not_enough_memory)},
        {"body cut short", CURLE_PARTIAL_FILE, phase::reading_body,
         text(k_query, werr::connection_error)},
        {"reset inside the body", CURLE_RECV_ERROR, phase::reading_body,
         text(k_query, werr::connection_error)},
        {"no body bytes in time", CURLE_OPERATION_TIMEDOUT, phase::reading_body,
         text(k_query, werr::timeout)},
        {"body not decodable", CURLE_BAD_CONTENT_ENCODING, phase::reading_body,
         text(k_query, werr::invalid_server_response)},
        {"memory ran out for the body", CURLE_OUT_OF_MEMORY, phase::reading_body,
         text(k_query, werr::not_enough_memory)},
    };
    for (const Case &k : cases)
        EXPECT_EQ(text_of(vornak_winhttp_curl_failure(k.result, k.when)), k.text) << k.what;
}

// A libcurl number never reaches a failure text: every result, those of later libcurl versions
// and nonsense included, becomes one of WinHTTP's numbers, and one without a closer match
// becomes ERROR_WINHTTP_INTERNAL_ERROR.
TEST(WinhttpCurlErrors, EveryResultIsAWinhttpNumber) {
    const unsigned long known[] = {
        werr::not_enough_memory,   werr::timeout,          werr::internal_error,
        werr::invalid_url,         werr::unrecognized_scheme, werr::name_not_resolved,
        werr::login_failure,       werr::operation_cancelled, werr::cannot_connect,
        werr::connection_error,    werr::client_cert_needed,  werr::invalid_server_response,
        werr::secure_failure,      werr::header_size_overflow,
    };
    for (int rc = -1; rc < CURL_LAST + 20; ++rc) {
        unsigned long n = vornak_winhttp_curl_error(rc);
        bool is_known = false;
        for (unsigned long k : known) is_known = is_known || n == k;
        EXPECT_TRUE(is_known) << "curl result " << rc << " gave " << n;
    }
    EXPECT_EQ(vornak_winhttp_curl_error(CURLE_FAILED_INIT), werr::internal_error);
    EXPECT_EQ(vornak_winhttp_curl_error(CURLE_FTP_WEIRD_PASV_REPLY), werr::internal_error);
    EXPECT_EQ(vornak_winhttp_curl_error(9999), werr::internal_error);
    EXPECT_EQ(vornak_winhttp_curl_error(CURLE_OUT_OF_MEMORY), werr::not_enough_memory);
}

}  // namespace
