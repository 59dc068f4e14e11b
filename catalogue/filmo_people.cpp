// Placeholder until this module is written.
#include "filmo_internal.h"
void filmo_free_person() {}
void filmo_free_pop() {}
