// The real transport's seam on POSIX hosts is libcurl, which shows every behaviour: no gaps.
#include <sys/stat.h>

#include <cstdlib>

#include "platform_expect.h"

namespace filmo_test {

const char *platform_gap(Gap) { return nullptr; }

void set_env(const char *name, const char *value) {
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool make_fifo(const char *path) { return mkfifo(path, 0600) == 0; }

}  // namespace filmo_test
