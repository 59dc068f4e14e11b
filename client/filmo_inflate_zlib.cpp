// The inflater over zlib: one inflate(Z_NO_FLUSH) per step. zlib's state and its window come
// from the heap seam, so they fail like every other allocation.
#include <zlib.h>

#include "filmo_inflater.h"
#include "filmo_internal.h"

namespace {

voidpf zalloc_seam(voidpf, uInt items, uInt size) { return vornak_calloc(items, size); }
void zfree_seam(voidpf, voidpf p) { std::free(p); }

void *zlib_open() {
    auto *zs = static_cast<z_stream *>(vornak_calloc(1, sizeof(z_stream)));
    if (!zs) return nullptr;
    zs->zalloc = zalloc_seam;
    zs->zfree = zfree_seam;
    if (inflateInit(zs) != Z_OK) {
        std::free(zs);
        return nullptr;
    }
    return zs;
}

int zlib_step(void *state, const uint8_t *in, size_t in_len, uint8_t *out, size_t room,
              size_t *took, size_t *wrote) {
    auto *zs = static_cast<z_stream *>(state);
    zs->next_in = const_cast<Bytef *>(in);
    zs->avail_in = static_cast<uInt>(in_len);
    zs->next_out = out;
    zs->avail_out = static_cast<uInt>(room);
    const int rc = inflate(zs, Z_NO_FLUSH);
    *took = in_len - zs->avail_in;
    *wrote = room - zs->avail_out;
    return rc;  // zlib's own numbering is the interface's
}

void zlib_close(void *state) {
    auto *zs = static_cast<z_stream *>(state);
    inflateEnd(zs);
    std::free(zs);
}

}  // namespace

const filmo_inflater filmo_inflater_zlib = {"zlib", zlib_open, zlib_step, zlib_close};
