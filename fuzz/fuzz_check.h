// The one check of the fuzz targets: a broken promise names itself and aborts, which libFuzzer
// reports as a crash and keeps the input that caused it.
#ifndef FILMO_FUZZ_CHECK_H
#define FILMO_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

namespace filmo_fuzz {

[[noreturn]] inline void broken(const char *what, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, what);
    std::abort();
}

}  // namespace filmo_fuzz

#define FUZZ_REQUIRE(cond) ((cond) ? (void)0 : filmo_fuzz::broken(#cond, __FILE__, __LINE__))

#endif
