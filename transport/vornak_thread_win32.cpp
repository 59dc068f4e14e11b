// The route-table lock and the sleep over the Windows API: a slim reader/writer lock, taken
// exclusively, and Sleep.
#include <windows.h>

#include "vornak_thread.h"

namespace {
SRWLOCK g_lock = SRWLOCK_INIT;
}

void vornak_lock_take() noexcept { AcquireSRWLockExclusive(&g_lock); }

void vornak_lock_give() noexcept { ReleaseSRWLockExclusive(&g_lock); }

void vornak_sleep_ms(unsigned ms) noexcept { Sleep(ms); }
