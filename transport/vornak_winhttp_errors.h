// The error numbers the WinHTTP transport's failure texts carry ("WinHttpSendRequest failed:
// 12029"), the same on every platform: on Windows they are GetLastError's, elsewhere the
// platform file translates its own failures into the number WinHTTP gives for the same
// situation. Spelled out here because only Windows has winhttp.h; the Windows file checks each
// against the SDK's name. Nothing here is exported.
#ifndef VORNAK_WINHTTP_ERRORS_H
#define VORNAK_WINHTTP_ERRORS_H

namespace vornak_winhttp_error {

enum : unsigned long {
    not_enough_memory = 8,           // ERROR_NOT_ENOUGH_MEMORY
    timeout = 12002,                 // ERROR_WINHTTP_TIMEOUT
    internal_error = 12004,          // ERROR_WINHTTP_INTERNAL_ERROR
    invalid_url = 12005,             // ERROR_WINHTTP_INVALID_URL
    unrecognized_scheme = 12006,     // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
    name_not_resolved = 12007,       // ERROR_WINHTTP_NAME_NOT_RESOLVED
    login_failure = 12015,           // ERROR_WINHTTP_LOGIN_FAILURE
    operation_cancelled = 12017,     // ERROR_WINHTTP_OPERATION_CANCELLED
    cannot_connect = 12029,          // ERROR_WINHTTP_CANNOT_CONNECT
    connection_error = 12030,        // ERROR_WINHTTP_CONNECTION_ERROR
    client_cert_needed = 12044,      // ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
    invalid_server_response = 12152, // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
    secure_failure = 12175,          // ERROR_WINHTTP_SECURE_FAILURE
    header_size_overflow = 12182,    // ERROR_WINHTTP_HEADER_SIZE_OVERFLOW
};

}  // namespace vornak_winhttp_error

#endif
