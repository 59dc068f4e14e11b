// Big pages for large blocks on Linux: madvise(MADV_HUGEPAGE) over the 2 MiB-aligned inside of
// the block. Transparent huge pages in "madvise" mode take the hint; otherwise it is ignored.
#include <sys/mman.h>

#include <cstdint>

#include "filmo_inflater.h"

void filmo_advise_big_pages(void *block, size_t size) {
    constexpr uintptr_t k_huge = uintptr_t{2} << 20;
    const uintptr_t start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + k_huge - 1) & ~(k_huge - 1);
    const uintptr_t end = (start + size) & ~(k_huge - 1);
    if (end > first) (void)madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
}
