// The list rule shared by the home page index and the playlists of a collection.
#ifndef FILMO_LIST_RULE_H
#define FILMO_LIST_RULE_H

#include <yyjson.h>

#include <cstdint>
#include <cstdlib>

#include "vornak_alloc.h"

// The list rule: a missing, non-array or empty member gives no array and count 0; otherwise
// one zeroed record per element, filled from the object elements in document order (others
// are skipped). `fill` may allocate inner arrays and fail; `release` then takes the records
// made so far, the failing one included, with their inner arrays and the array itself.
template <class R>
void release_plain(R *recs, size_t) {
    std::free(recs);
}

template <class R, class Count>
int32_t index_list(yyjson_val *arr, R **out, Count *count, int32_t (*fill)(R &, yyjson_val *),
                   void (*release)(R *, size_t) = &release_plain<R>) {
    *out = nullptr;
    *count = 0;
    size_t n = yyjson_arr_size(arr);  // 0 for anything but a non-empty array
    if (n == 0) return 0;
    R *recs = static_cast<R *>(vornak_calloc(n, sizeof(R)));
    if (!recs) return -1;
    size_t made = 0;
    size_t idx, max;
    yyjson_val *el;
    yyjson_arr_foreach(arr, idx, max, el) {
        if (!yyjson_is_obj(el)) continue;
        if (fill(recs[made], el) != 0) {
            release(recs, made + 1);
            return -1;
        }
        ++made;
    }
    *out = recs;
    *count = made;
    return 0;
}

#endif
