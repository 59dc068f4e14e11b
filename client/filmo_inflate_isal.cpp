// The inflater over ISA-L's igzip: one isal_inflate per step on a state that parses the zlib
// header and verifies the Adler-32 trailer (crc_flag ISAL_ZLIB). igzip allocates nothing itself;
// its state (window included) is one block from the heap seam.
#include <isa-l/igzip_lib.h>

#include "filmo_inflater.h"
#include "filmo_internal.h"

namespace {

struct isal_stream {
    inflate_state st;
    bool started;       // a step has seen the two header bytes
    bool out_of_input;  // the stream goes on past the end of the input
    size_t held;        // input bytes igzip has read but not decoded, not yet reported taken
};

// Input bytes igzip has read ahead of its decoding: what is left in its bit buffer (none once it
// has run past the end of the input) and what it copied aside to parse a header across steps.
size_t read_ahead(const inflate_state *st) {
    const int32_t bits = st->read_in_length > 0 ? st->read_in_length : 0;
    const int32_t copied = st->tmp_in_size > 0 ? st->tmp_in_size : 0;
    return static_cast<size_t>(bits / 8 + copied);
}

void *isal_open() {
    auto *s = static_cast<isal_stream *>(vornak_malloc(sizeof(isal_stream)));
    if (!s) return nullptr;
    isal_inflate_init(&s->st);
    s->st.crc_flag = ISAL_ZLIB;
    s->started = false;
    s->out_of_input = false;
    s->held = 0;
    return s;
}

int isal_step(void *state, const uint8_t *in, size_t in_len, uint8_t *out, size_t room,
              size_t *took, size_t *wrote) {
    auto *s = static_cast<isal_stream *>(state);
    inflate_state *st = &s->st;
    if (s->out_of_input) {
        *took = *wrote = 0;
        return filmo_step_stuck;
    }
    // igzip takes any window size the header names; zlib allows at most 32 KB (a CINFO of 7),
    // as the format does. The first step holds the whole header: every input byte is given.
    if (!s->started && in_len >= 2) {
        s->started = true;
        if ((in[0] >> 4) > 7) {
            *took = *wrote = 0;
            return filmo_step_corrupt;
        }
    }
    // The input starts at the first byte not reported taken; igzip holds the first `held` of
    // them already and is given what follows.
    const size_t held = s->held < in_len ? s->held : in_len;
    st->next_in = const_cast<uint8_t *>(in) + held;
    st->avail_in = static_cast<uint32_t>(in_len - held);
    st->next_out = out;
    st->avail_out = static_cast<uint32_t>(room);
    const int rc = isal_inflate(st);
    // Only what igzip has decoded counts as taken, as zlib counts it, so the ratio guard sees
    // the same input on either inflater; the bytes read ahead are reported once decoded.
    const size_t read = in_len - held - st->avail_in;
    const size_t ahead = read_ahead(st);
    const size_t seen = held + read;
    *took = seen > ahead ? seen - ahead : 0;
    s->held = seen - *took;
    *wrote = room - st->avail_out;
    if (rc == ISAL_NEED_DICT) return filmo_step_need_dict;
    if (rc < 0) {
        // igzip decodes from a bit buffer that it fills with zeros past the end of the input.
        // A refusal that came from those bits means the stream goes on beyond the input, which
        // zlib reports as a truncated stream once it has written what the real bits held: so
        // does this step, and the next one finds no progress to make.
        if (st->read_in_length < 0 && st->avail_in == 0) {
            s->out_of_input = true;
            *took += s->held;  // all of it was decoded, zeros past the end included
            s->held = 0;
            return *wrote ? filmo_step_more : filmo_step_stuck;
        }
        // Every other refusal (bad block, symbol or distance, a bad or non-zlib header, a
        // checksum mismatch) is what zlib calls a data error.
        return filmo_step_corrupt;
    }
    if (st->block_state == ISAL_BLOCK_FINISH) return filmo_step_end;
    // igzip returns whenever its input or its room runs out; with nothing read and nothing
    // written it could make no progress, which zlib reports as a buffer error. Out of input, the
    // bytes it holds are all there is: they count as taken, as zlib takes a partial code.
    if (read == 0 && *wrote == 0) {
        if (st->avail_in == 0) {
            *took += s->held;
            s->held = 0;
        }
        return filmo_step_stuck;
    }
    return filmo_step_more;
}

void isal_close(void *state) { std::free(state); }

}  // namespace

const filmo_inflater filmo_inflater_isal = {"isal", isal_open, isal_step, isal_close};
