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
};

void *isal_open() {
    auto *s = static_cast<isal_stream *>(vornak_malloc(sizeof(isal_stream)));
    if (!s) return nullptr;
    isal_inflate_init(&s->st);
    s->st.crc_flag = ISAL_ZLIB;
    s->started = false;
    s->out_of_input = false;
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
    st->next_in = const_cast<uint8_t *>(in);
    st->avail_in = static_cast<uint32_t>(in_len);
    st->next_out = out;
    st->avail_out = static_cast<uint32_t>(room);
    const int rc = isal_inflate(st);
    *took = in_len - st->avail_in;
    *wrote = room - st->avail_out;
    if (rc == ISAL_NEED_DICT) return filmo_step_need_dict;
    if (rc < 0) {
        // igzip decodes from a bit buffer that it fills with zeros past the end of the input.
        // A refusal that came from those bits means the stream goes on beyond the input, which
        // zlib reports as a truncated stream once it has written what the real bits held: so
        // does this step, and the next one finds no progress to make.
        if (st->read_in_length < 0 && st->avail_in == 0) {
            s->out_of_input = true;
            return *wrote ? filmo_step_more : filmo_step_stuck;
        }
        // Every other refusal (bad block, symbol or distance, a bad or non-zlib header, a
        // checksum mismatch) is what zlib calls a data error.
        return filmo_step_corrupt;
    }
    if (st->block_state == ISAL_BLOCK_FINISH) return filmo_step_end;
    // igzip returns whenever its input or its room runs out; with nothing taken and nothing
    // written it could make no progress, which zlib reports as a buffer error.
    return *took == 0 && *wrote == 0 ? filmo_step_stuck : filmo_step_more;
}

void isal_close(void *state) { std::free(state); }

}  // namespace

const filmo_inflater filmo_inflater_isal = {"isal", isal_open, isal_step, isal_close};
