#include "vornak_alloc.h"

#include <atomic>

namespace {
// Allocations left before failures start; negative: never fail.
std::atomic<long> g_left{-1};
std::atomic<long> g_refused{0};

bool refuse() noexcept {
    long left = g_left.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (left == 0) {
            g_refused.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        if (g_left.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return false;
    }
    return false;
}
}  // namespace

void *vornak_malloc(size_t n) { return refuse() ? nullptr : std::malloc(n); }

void *vornak_calloc(size_t count, size_t size) {
    return refuse() ? nullptr : std::calloc(count, size);
}

void *vornak_realloc(void *p, size_t n) { return refuse() ? nullptr : std::realloc(p, n); }

void vornak_alloc_fail_after(long n) {
    g_refused.store(0, std::memory_order_relaxed);
    g_left.store(n, std::memory_order_relaxed);
}

long vornak_alloc_failures() { return g_refused.load(std::memory_order_relaxed); }
