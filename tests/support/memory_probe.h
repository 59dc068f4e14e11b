// How much memory this process holds, for the tests that prove long runs do not grow, and whether
// a memory tool runs under the test (then the figures mean nothing and are not compared).
#ifndef FILMO_MEMORY_PROBE_H
#define FILMO_MEMORY_PROBE_H

#include <malloc.h>
#include <unistd.h>

#include <cstdio>

#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#define FILMO_UNDER_VALGRIND() RUNNING_ON_VALGRIND
#endif
#endif
#ifndef FILMO_UNDER_VALGRIND
#define FILMO_UNDER_VALGRIND() 0
#endif

#if defined(__SANITIZE_ADDRESS__)
#define FILMO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FILMO_ASAN 1
#endif
#endif
#ifndef FILMO_ASAN
#define FILMO_ASAN 0
#endif

namespace filmo_test {

// Bytes the heap holds (arena and mmapped blocks).
inline long long heap_in_use() {
    struct mallinfo2 mi = mallinfo2();
    return static_cast<long long>(mi.uordblks + mi.hblkhd);
}

// Resident memory of this process; -1 when it cannot be read.
inline long long resident_bytes() {
    long long size = 0, resident = 0;
    FILE *f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    if (std::fscanf(f, "%lld %lld", &size, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

}  // namespace filmo_test

#endif
