// The pages every benchmark measures (about 100 kB, 2 MB and 20 MB of text, each also as the
// server sends it), shared by the benchmark files of filmo_bench.
#ifndef FILMO_BENCH_PAGES_H
#define FILMO_BENCH_PAGES_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace filmo_bench {

struct Page {
    std::string text;   // the JSON document
    std::string zlib;   // as the server sends it (zlib level 6)
    std::string other;  // zlib of the same page with one account text changed, same size
    char hash[24];      // its stable hash, as the server states it in "ContentHash"
};

// The page of about kb kilobytes, made once.
const Page &page(int64_t kb);
// Throughput in bytes of page text, and the page's sizes as the label.
void report(benchmark::State &state, const Page &p);
// The three page sizes as the argument "kb", in milliseconds.
void sizes(benchmark::internal::Benchmark *b);

}  // namespace filmo_bench

#endif
