// The inflater behind the bounded inflate: a zlib-format stream (header parsed, Adler-32
// verified) that filmo_inflate_zlib drives step by step. Each inflater is one source file
// that only drives its library (filmo_inflate_zlib.cpp over zlib, filmo_inflate_isal.cpp over
// ISA-L's igzip); the build compiles the one it chose into the library and names its record in
// FILMO_INFLATER. The step-wise algorithm with its guards is written once, in filmo_inflate.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

// What one step reports, in zlib's numbering of inflate's results.
enum filmo_step_code : int {
    filmo_step_more = 0,        // the stream goes on
    filmo_step_end = 1,         // the stream ended and its checksum matched
    filmo_step_need_dict = 2,   // the stream asks for a preset dictionary
    filmo_step_corrupt = -3,    // bad data, a bad header, a checksum mismatch
    filmo_step_no_memory = -4,  // the inflater's own memory could not be had
    filmo_step_stuck = -5,      // no progress was possible
};

struct filmo_inflater {
    const char *name;
    // A fresh stream state, or null when it cannot be had.
    void *(*open)();
    // One step that continues the stream: it is given every input byte not yet taken and the
    // free room of the output (each at most UINT32_MAX at once), and tells how many bytes it
    // took and wrote.
    int (*step)(void *state, const uint8_t *in, size_t in_len, uint8_t *out, size_t room,
                size_t *took, size_t *wrote);
    void (*close)(void *state);
};

extern const filmo_inflater filmo_inflater_zlib;
extern const filmo_inflater filmo_inflater_isal;

// Tells the platform that a large heap block is about to be written from end to end, so it may
// back the block with big pages (fewer page faults). A hint only: it may do nothing. One source
// file per platform (filmo_pages_linux.cpp, filmo_pages_none.cpp).
void filmo_advise_big_pages(void *block, size_t size);

// The bounded inflate over a given inflater (filmo_inflate_zlib passes the build's own). When
// guard_margin is given it receives the smallest (limit - produced) the ratio guard saw, so a
// caller comparing inflaters can tell a verdict that lay within a few input bytes of the limit.
int32_t filmo_inflate_with(const filmo_inflater &inflater, const void *input, size_t input_len,
                           char **out, size_t *out_len, char *err, size_t err_size,
                           int64_t *guard_margin = nullptr);
