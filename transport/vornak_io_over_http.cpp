// Placeholder until this module is written.
#include "filmo_internal.h"

