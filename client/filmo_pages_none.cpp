// Platforms without a big-page hint for heap blocks: the hint does nothing.
#include "filmo_inflater.h"

void filmo_advise_big_pages(void *, size_t) {}
