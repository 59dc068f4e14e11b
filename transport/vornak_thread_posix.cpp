// The route-table lock and the sleep over POSIX threads.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "vornak_thread.h"

namespace {
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
}

void vornak_lock_take() noexcept {
    if (pthread_mutex_lock(&g_lock) != 0) std::abort();
}

void vornak_lock_give() noexcept { pthread_mutex_unlock(&g_lock); }

void vornak_sleep_ms(unsigned ms) noexcept {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
