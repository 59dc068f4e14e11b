// The platform's wall clock for the cache: seconds since 1970. One source per platform
// (filmo_clock_posix.cpp, filmo_clock_win32.cpp). Not exported.
#ifndef FILMO_CLOCK_H
#define FILMO_CLOCK_H

#include <cstdint>

int64_t filmo_system_seconds();

#endif
