// The real transport's seam on POSIX hosts is libcurl: its error numbers, and no gaps.
#include <curl/curl.h>

#include <sys/stat.h>

#include <cstdlib>

#include "platform_expect.h"

namespace filmo_test {

const PlatformErrors &platform_errors() {
    static const PlatformErrors errors{CURLE_UNSUPPORTED_PROTOCOL, CURLE_URL_MALFORMAT,
                                       CURLE_URL_MALFORMAT, CURLE_COULDNT_CONNECT,
                                       CURLE_SSL_CONNECT_ERROR};
    return errors;
}

const char *platform_gap(Gap) { return nullptr; }

void set_env(const char *name, const char *value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool make_fifo(const char *path) { return mkfifo(path, 0600) == 0; }

}  // namespace filmo_test
