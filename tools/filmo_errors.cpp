// A plain reading of the error number that ends a transport failure text, for the person at the
// terminal: "WinHttpSendRequest failed: 12029" reads "cannot connect". The numbers are WinHTTP's
// on every platform; the library's text itself stays as it is, for programs.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filmo_cli.h"

namespace filmo_cli {

namespace {

struct reading {
    unsigned long number;
    const char *text;
};

constexpr reading k_readings[] = {
    {8, "out of memory"},                                  // ERROR_NOT_ENOUGH_MEMORY
    {12001, "out of handles"},                             // ERROR_WINHTTP_OUT_OF_HANDLES
    {12002, "timed out"},                                  // ERROR_WINHTTP_TIMEOUT
    {12004, "internal error of the HTTP service"},         // ERROR_WINHTTP_INTERNAL_ERROR
    {12005, "invalid URL"},                                // ERROR_WINHTTP_INVALID_URL
    {12006, "not an http or https URL"},                   // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
    {12007, "host name not found"},                        // ERROR_WINHTTP_NAME_NOT_RESOLVED
    {12015, "login failed"},                               // ERROR_WINHTTP_LOGIN_FAILURE
    {12017, "cancelled"},                                  // ERROR_WINHTTP_OPERATION_CANCELLED
    {12029, "cannot connect"},                             // ERROR_WINHTTP_CANNOT_CONNECT
    {12030, "connection lost"},                            // ERROR_WINHTTP_CONNECTION_ERROR
    {12044, "TLS client certificate asked for"},           // ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
    {12152, "not a valid HTTP answer"},                    // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
    {12157, "TLS channel error"},                          // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
    {12175, "TLS certificate or handshake refused"},       // ERROR_WINHTTP_SECURE_FAILURE
    {12181, "too many response headers"},                  // ERROR_WINHTTP_HEADER_COUNT_EXCEEDED
    {12182, "response head too large"},                    // ERROR_WINHTTP_HEADER_SIZE_OVERFLOW
};

}  // namespace

const char *error_reading(const char *message) {
    static const char marker[] = " failed: ";
    const char *at = nullptr;
    for (const char *p = message; (p = std::strstr(p, marker)) != nullptr; ++p) at = p;
    if (!at) return nullptr;
    const char *digits = at + sizeof marker - 1;
    size_t n = std::strspn(digits, "0123456789");
    if (n == 0 || n > 9 || digits[n] != 0) return nullptr;
    unsigned long number = std::strtoul(digits, nullptr, 10);
    for (const reading &r : k_readings)
        if (r.number == number) return r.text;
    return nullptr;
}

void print_transport_failure(const char *command, const char *host, const char *text) {
    const char *reading = error_reading(text);
    std::fprintf(stderr, "filmo: %s: %s: transport: %s%s%s%s\n", command, host, text,
                 reading ? " (" : "", reading ? reading : "", reading ? ")" : "");
}

}  // namespace filmo_cli
