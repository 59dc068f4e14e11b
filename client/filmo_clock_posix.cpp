#include <time.h>

#include "filmo_clock.h"

int64_t filmo_system_seconds() { return static_cast<int64_t>(time(nullptr)); }
