// The floor's inflate with ISA-L's igzip: the zlib stream (header and Adler-32 checked, as the
// library's inflater does) in one isal_inflate call into a buffer of the right size. Built where
// the library drives ISA-L.
#include <isa-l/igzip_lib.h>

#include <cstdlib>
#include <memory>

#include "bench_pages.h"

namespace {

void BM_floor_inflate_isal(benchmark::State &state) {
    const filmo_bench::Page &p = filmo_bench::page(state.range(0));
    std::string out(p.text.size() + 1, '\0');
    auto st = std::make_unique<inflate_state>();
    for (auto _ : state) {
        isal_inflate_init(st.get());
        st->crc_flag = ISAL_ZLIB;
        st->next_in = reinterpret_cast<uint8_t *>(const_cast<char *>(p.zlib.data()));
        st->avail_in = static_cast<uint32_t>(p.zlib.size());
        st->next_out = reinterpret_cast<uint8_t *>(&out[0]);
        st->avail_out = static_cast<uint32_t>(out.size());
        const int rc = isal_inflate(st.get());
        if (rc != ISAL_DECOMP_OK || st->block_state != ISAL_BLOCK_FINISH)
            state.SkipWithError("isal_inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    filmo_bench::report(state, p);
}

}  // namespace

BENCHMARK(BM_floor_inflate_isal)->Apply(filmo_bench::sizes);
