// The C runtime's 64-bit clock: no year-2038 limit whatever time_t the runtime was built with.
#include <time.h>

#include "filmo_clock.h"

int64_t filmo_system_seconds() { return static_cast<int64_t>(_time64(nullptr)); }
