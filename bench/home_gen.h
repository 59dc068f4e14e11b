// Deterministic home page documents for the benchmarks: the same size asked for always gives
// the same bytes, so runs on different days and machines measure the same work.
#ifndef FILMO_BENCH_HOME_GEN_H
#define FILMO_BENCH_HOME_GEN_H

#include <cstddef>
#include <string>

namespace filmo_bench {

// A home page JSON object of about target_bytes (within a few per cent): basics with genres,
// directors and ratings, continues, level30s, spotlights, the two id/value lists, people,
// collections with playlists, and the account data. Texts are mostly ASCII with a share of
// accented and CJK titles and a few escapes, as a real catalogue answers.
std::string make_home_page(size_t target_bytes);

}  // namespace filmo_bench

#endif
