// Heap seam of the library. Every allocation the library makes goes through these, so a test
// can make the n-th one fail and prove the out-of-memory paths. Blocks are ordinary malloc
// blocks: release them with free(), hand them to the host as they are.
#ifndef VORNAK_ALLOC_H
#define VORNAK_ALLOC_H

#include <cstddef>
#include <cstdlib>
#include <memory>

void *vornak_malloc(size_t n);
void *vornak_calloc(size_t count, size_t size);
void *vornak_realloc(void *p, size_t n);

// Test seam (not exported): after `n` more successful allocations every further one fails;
// a negative n turns failures off. Counts allocations from all threads.
void vornak_alloc_fail_after(long n);
// Allocations that were refused since the last vornak_alloc_fail_after.
long vornak_alloc_failures();

// RAII for malloc blocks.
struct vornak_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <class T>
using vornak_cptr = std::unique_ptr<T, vornak_free_deleter>;

#endif
