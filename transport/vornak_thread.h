// The threading calls of the transport library: the one lock that guards the in-memory fake
// transport's route table, and a sleep. One source realises them per platform
// (vornak_thread_posix.cpp, vornak_thread_win32.cpp). Nothing here is exported.
#ifndef VORNAK_THREAD_H
#define VORNAK_THREAD_H

// Takes and gives back the route-table lock. Not recursive. A lock the platform cannot take
// ends the process: nothing may unwind across the C boundary.
void vornak_lock_take() noexcept;
void vornak_lock_give() noexcept;

// Holds the lock for a scope.
struct vornak_lock_guard {
    vornak_lock_guard() noexcept { vornak_lock_take(); }
    ~vornak_lock_guard() { vornak_lock_give(); }
    vornak_lock_guard(const vornak_lock_guard &) = delete;
    vornak_lock_guard &operator=(const vornak_lock_guard &) = delete;
};

// Suspends the calling thread for about `ms` milliseconds.
void vornak_sleep_ms(unsigned ms) noexcept;

#endif
