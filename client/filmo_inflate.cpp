// The bounded inflate: a whole zlib stream held in memory into one NUL-terminated malloc block,
// under two guards (64 MB of output at most, 64 bytes out per byte consumed). The inflater that
// runs each step is the build's choice (filmo_inflater.h); this is the one place that decides.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "filmo_inflater.h"
#include "filmo_internal.h"

namespace {

constexpr size_t k_inflate_max = size_t{64} * 1048576;  // 64 MB of output at most
constexpr size_t k_inflate_ratio = 64;                  // output bytes per input byte consumed
constexpr size_t k_big_input = size_t{16} * 1048576;
constexpr size_t k_min_start = 4096;
constexpr size_t k_big_pages_from = size_t{4} << 20;

size_t start_capacity(size_t input_len) {
    if (input_len >= k_big_input) return k_inflate_max;
    return input_len * 4 < k_min_start ? k_min_start : input_len * 4;
}

// Both inflaters count bytes in 32 bits; a step is given at most that much at once.
size_t counted(size_t n) { return n > UINT32_MAX ? UINT32_MAX : n; }

struct stream_closer {
    const filmo_inflater &inflater;
    void *state;
    ~stream_closer() { inflater.close(state); }
};

}  // namespace

int32_t filmo_inflate_with(const filmo_inflater &inflater, const void *input, size_t input_len,
                           char **out, size_t *out_len, char *err, size_t err_size,
                           int64_t *guard_margin) {
    char scratch[1];
    if (!err || err_size == 0) {
        err = scratch;
        err_size = sizeof scratch;
    }
    if (out) *out = nullptr;
    if (out_len) *out_len = 0;
    if (guard_margin) *guard_margin = std::numeric_limits<int64_t>::max();
    if (!input || input_len == 0) {
        std::snprintf(err, err_size, "zlib: empty input");
        return -1;
    }
    if (!out || !out_len) {  // nowhere to hand the data: refuse before doing any work
        std::snprintf(err, err_size, "zlib: no output");
        return -1;
    }

    void *state = inflater.open();
    if (!state) {
        std::snprintf(err, err_size, "zlib: init failed");
        return -1;
    }
    const stream_closer closer{inflater, state};

    size_t cap = start_capacity(input_len);
    // The first block has room for the first doubling too, when that can be had: the
    // doubling's reallocation then finds the block big enough and keeps it where it is, with
    // no copy of the text so far and no fresh pages for it. The steps see only the capacity.
    size_t block = cap < k_inflate_max / 2 ? cap * 2 : k_inflate_max;
    vornak_cptr<char> buf(static_cast<char *>(vornak_malloc(block + 1)));
    if (!buf && block != cap) {
        block = cap;
        buf.reset(static_cast<char *>(vornak_malloc(block + 1)));
    }
    if (!buf) {
        std::snprintf(err, err_size, "zlib: oom");
        return -1;
    }
    // A page's text is written once from end to end: big pages spare a fault per 4 KiB.
    if (block >= k_big_pages_from) filmo_advise_big_pages(buf.get(), block + 1);

    const auto *in = static_cast<const uint8_t *>(input);
    size_t consumed = 0;
    size_t produced = 0;
    for (;;) {
        size_t took = 0;
        size_t wrote = 0;
        const int rc = inflater.step(state, in + consumed, counted(input_len - consumed),
                                     reinterpret_cast<uint8_t *>(buf.get()) + produced,
                                     counted(cap - produced), &took, &wrote);
        consumed += took;
        produced += wrote;

        if (rc == filmo_step_end) {
            buf.get()[produced] = '\0';
            *out = buf.release();
            *out_len = produced;
            return 0;
        }
        if (rc == filmo_step_stuck && consumed == input_len) {
            std::snprintf(err, err_size, "zlib: truncated stream");
            return -1;
        }
        if (rc == filmo_step_no_memory) {  // the inflater's window: memory, not bad data
            std::snprintf(err, err_size, "zlib: oom");
            return -1;
        }
        // An inflater is stuck only when it lacks input or room; with both present it would
        // spin here, so such a step counts as corrupt rather than being retried forever.
        if ((rc != filmo_step_more && rc != filmo_step_stuck) ||
            (rc == filmo_step_stuck && took == 0 && wrote == 0 && produced < cap)) {
            std::snprintf(err, err_size, "zlib: corrupt stream (%d)", rc);
            return -1;
        }
        const size_t limit = consumed == 0                          ? k_inflate_ratio
                             : consumed > SIZE_MAX / k_inflate_ratio ? SIZE_MAX
                                                                     : consumed * k_inflate_ratio;
        if (guard_margin) {
            const int64_t top = std::numeric_limits<int64_t>::max();
            const int64_t margin =
                (limit > size_t(top) ? top : int64_t(limit)) - int64_t(produced);
            if (margin < *guard_margin) *guard_margin = margin;
        }
        if (produced > limit) {
            std::snprintf(err, err_size, "zlib: ratio above %d:1 (bomb guard)",
                          static_cast<int>(k_inflate_ratio));
            return -1;
        }
        if (produced == cap) {
            if (cap >= k_inflate_max) {
                std::snprintf(err, err_size, "zlib: inflated size exceeds %u MB",
                              static_cast<unsigned>(k_inflate_max / 1048576));
                return -1;
            }
            const size_t grown_cap = cap > k_inflate_max / 2 ? k_inflate_max : cap * 2;
            char *grown = static_cast<char *>(vornak_realloc(buf.get(), grown_cap + 1));
            if (!grown) {
                std::snprintf(err, err_size, "zlib: oom");
                return -1;
            }
            (void)buf.release();
            buf.reset(grown);
            cap = grown_cap;
        }
    }
}

int32_t filmo_inflate_zlib(const void *input, size_t input_len, char **out, size_t *out_len,
                           char *err, size_t err_size) {
    return filmo_inflate_with(FILMO_INFLATER, input, input_len, out, out_len, err, err_size);
}
