// Benchmarks of the home page road against its floor. The floor is measured in the same run on
// the same bytes: zlib inflate alone and yyjson read alone, and beside it ISA-L's inflate alone
// (floor_isal.cpp, where the build has ISA-L). Everything else is reported so that
// scripts/bench.sh can state it as a ratio to those floors (see BENCHMARKS.md).
//
// Pages are the deterministic documents of home_gen.h at about 100 KB, 2 MB and 20 MB; the
// argument of every size-dependent benchmark is the page size in kB.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>
#include <yyjson.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "bench_pages.h"
#include "filmo.h"
#include "filmo_internal.h"
#include "home_gen.h"

namespace filmo_bench {

std::string compress(const std::string &text) {
    uLongf cap = compressBound(text.size());
    std::string out(cap, '\0');
    if (compress2(reinterpret_cast<Bytef *>(&out[0]), &cap,
                  reinterpret_cast<const Bytef *>(text.data()), text.size(), 6) != Z_OK)
        std::abort();
    out.resize(cap);
    return out;
}

const Page &page(int64_t kb) {
    static std::map<int64_t, Page> pages;
    auto it = pages.find(kb);
    if (it != pages.end()) return it->second;
    Page &p = pages[kb];
    p.text = filmo_bench::make_home_page(static_cast<size_t>(kb) * 1000);
    p.zlib = compress(p.text);
    std::string changed = p.text;
    const size_t at = changed.find("viewer@example.org");
    if (at == std::string::npos) std::abort();
    changed.replace(at, 18, "viewer@example.net");
    p.other = compress(changed);
    std::snprintf(p.hash, sizeof p.hash, "%lld",
                  static_cast<long long>(filmo_stable_hash(p.text.data(), p.text.size())));
    return p;
}

// Throughput in bytes of page text, and the page's sizes as the label.
void report(benchmark::State &state, const Page &p) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.text.size()));
    char b[64];
    std::snprintf(b, sizeof b, "%zu B text, %zu B zlib", p.text.size(), p.zlib.size());
    state.SetLabel(b);
}

void sizes(benchmark::internal::Benchmark *b) {
    b->ArgName("kb")->Arg(100)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
}

}  // namespace filmo_bench

namespace {

using filmo_bench::page;
using filmo_bench::Page;
using filmo_bench::report;
using filmo_bench::sizes;

constexpr size_t kChunk = 65536;  // the piece size a transport hands to the body sink

// ---- in-memory host transport: every request is answered with the current page ------------------

const Page *g_served = nullptr;

int32_t serve(void *, const vornak_http_request *req, int32_t *status, char **err) {
    *status = 200;
    *err = nullptr;
    if (req->on_header && (req->on_header(req->sink_ctx, ":status", "200") != 0 ||
                           req->on_header(req->sink_ctx, "ContentHash", g_served->hash) != 0))
        return 0;
    const std::string &body = g_served->zlib;
    for (size_t off = 0; req->on_body && off < body.size(); off += kChunk) {
        size_t n = body.size() - off < kChunk ? body.size() - off : kChunk;
        if (req->on_body(req->sink_ctx, body.data() + off, n) != 0) break;
    }
    return 0;
}

void install_memory_server(const Page &p) {
    static vornak_http http{sizeof(vornak_http), 1, nullptr, serve, nullptr};
    static vornak_io_ctx ctx{VORNAK_IO_TAG, sizeof(vornak_io_ctx), &http, nullptr};
    static vornak_io io{&ctx, nullptr, nullptr, nullptr};
    g_served = &p;
    filmo_shutdown();
    if (filmo_set_io(&io) != 0) std::abort();
}

// ---- fixture corpus in a temporary directory ----------------------------------------------------

struct Corpus {
    char dir[64] = "/tmp/filmo-bench-XXXXXX";
    std::string file;
    Corpus() {
        if (!mkdtemp(dir)) std::abort();
        file = std::string(dir) + "/homepage.anonymous-profile0.zlib";
    }
    ~Corpus() {
        std::remove(file.c_str());
        rmdir(dir);
    }
    void write(const std::string &bytes) const {
        FILE *f = std::fopen(file.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
        std::fclose(f);
    }
};

Corpus &corpus() {
    static Corpus c;
    return c;
}

void install_fixture(const Page &p) {
    corpus().write(p.zlib);
    filmo_shutdown();
    if (filmo_fake_corpus(corpus().dir) != 0 || filmo_use_fake() != 0) std::abort();
}

// Bytes the heap holds for the process right now (arena and mmapped blocks).
int64_t heap_in_use() {
    struct mallinfo2 mi = mallinfo2();
    return static_cast<int64_t>(mi.uordblks + mi.hblkhd);
}

void fetch_or_fail(benchmark::State &state, uint32_t flags) {
    int32_t st = filmo_get_homepage("", 0, "en-US", flags);
    if (st != FILMO_OK) state.SkipWithError(filmo_last_error());
}

// ---- the floor ----------------------------------------------------------------------------------

void BM_floor_inflate(benchmark::State &state) {
    const Page &p = page(state.range(0));
    std::string out(p.text.size() + 1, '\0');
    for (auto _ : state) {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) std::abort();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(p.zlib.data()));
        z.avail_in = static_cast<uInt>(p.zlib.size());
        z.next_out = reinterpret_cast<Bytef *>(&out[0]);
        z.avail_out = static_cast<uInt>(out.size());
        int rc = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        if (rc != Z_STREAM_END) state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, p);
}

void BM_floor_parse(benchmark::State &state) {
    const Page &p = page(state.range(0));
    for (auto _ : state) {
        yyjson_doc *doc = filmo_parse_json(p.text.data(), p.text.size());
        if (!doc) state.SkipWithError("yyjson refused the page");
        benchmark::DoNotOptimize(doc);
        yyjson_doc_free(doc);
    }
    report(state, p);
}

// ---- the library --------------------------------------------------------------------------------

// Every field of every basic through its accessor, as a host showing the page would.
uint64_t read_basics() {
    uint64_t seen = 0;
    auto text = [&seen](const char *t) { seen += t ? static_cast<unsigned char>(t[0]) : 1; };
    const int32_t n = filmo_home_basics_count();
    for (int32_t i = 0; i < n; ++i) {
        text(filmo_home_basic_imdb(i));
        text(filmo_home_basic_title(i));
        text(filmo_home_basic_tagline(i));
        text(filmo_home_basic_plot(i));
        text(filmo_home_basic_poster(i));
        text(filmo_home_basic_picture(i));
        seen += static_cast<uint64_t>(filmo_home_basic_id(i) + filmo_home_basic_year(i) +
                                      filmo_home_basic_duration(i) + filmo_home_basic_is_tv(i));
        for (int32_t g = 0, gn = filmo_home_basic_genres_count(i); g < gn; ++g)
            text(filmo_home_basic_genre(i, g));
        for (int32_t d = 0, dn = filmo_home_basic_directors_count(i); d < dn; ++d)
            text(filmo_home_basic_director(i, d));
        for (int32_t r = 0, rn = filmo_home_basic_ratings_count(i); r < rn; ++r) {
            text(filmo_home_basic_rating_source(i, r));
            seen += static_cast<uint64_t>(filmo_home_basic_rating_value(i, r));
        }
    }
    return seen;
}

void fetch_loop(benchmark::State &state, const Page &p) {
    for (auto _ : state) {
        fetch_or_fail(state, FILMO_HOME_UPDATE);
        benchmark::DoNotOptimize(read_basics());
    }
    report(state, p);
    filmo_shutdown();
}

// filmo_get_homepage end to end through a host transport, then every basic read; the update
// flag bypasses the cache, so every iteration collects, inflates, parses, indexes, copies and
// hashes the page.
void BM_fetch_memory(benchmark::State &state) {
    const Page &p = page(state.range(0));
    install_memory_server(p);
    fetch_loop(state, p);
}

// The same fetch (and read) through the fixture backend: it reads the corpus file and states its
// hash, then the client does its own work on the body.
void BM_fetch_fixture(benchmark::State &state) {
    const Page &p = page(state.range(0));
    install_fixture(p);
    fetch_loop(state, p);
}

// The backend keeps the hash of the bytes it served last, so the fetch above pays for reading and
// comparing the file, not for hashing it again. Here the file changes before every request (two
// versions of the page, rewritten outside the timing): the backend inflates and hashes the file
// it serves each time, then the client does its own work.
void BM_fetch_fixture_cold(benchmark::State &state) {
    const Page &p = page(state.range(0));
    install_fixture(p);
    bool flip = false;
    for (auto _ : state) {
        state.PauseTiming();
        corpus().write((flip = !flip) ? p.other : p.zlib);
        state.ResumeTiming();
        fetch_or_fail(state, FILMO_HOME_UPDATE);
    }
    report(state, p);
    filmo_shutdown();
}

void BM_parse_homepage_json(benchmark::State &state) {
    const Page &p = page(state.range(0));
    filmo_shutdown();
    for (auto _ : state)
        if (filmo_parse_homepage_json(p.text.data(), p.text.size()) != FILMO_OK)
            state.SkipWithError(filmo_last_error());
    report(state, p);
    filmo_shutdown();
}

void BM_stable_hash(benchmark::State &state) {
    const Page &p = page(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(filmo_stable_hash(p.text.data(), p.text.size()));
    report(state, p);
}

// A repeated request for the held page: the prologue, the key and the freshness check only.
void BM_cache_hit(benchmark::State &state) {
    install_memory_server(page(100));
    fetch_or_fail(state, 0);
    for (auto _ : state) fetch_or_fail(state, 0);
    filmo_shutdown();
}

// Heap held per byte of page text while a page is retained, beside what the yyjson document
// alone holds for the same text (the least any retained parse can hold).
void BM_memory_retained(benchmark::State &state) {
    const Page &p = page(state.range(0));
    install_memory_server(p);
    const double n = static_cast<double>(p.text.size());
    double held = 0, doc_only = 0;
    for (auto _ : state) {
        filmo_cache_clear();
        malloc_trim(0);
        int64_t before = heap_in_use();
        fetch_or_fail(state, FILMO_HOME_UPDATE);
        held = static_cast<double>(heap_in_use() - before) / n;
        filmo_cache_clear();

        before = heap_in_use();
        yyjson_doc *doc = filmo_parse_json(p.text.data(), p.text.size());
        doc_only = static_cast<double>(heap_in_use() - before) / n;
        yyjson_doc_free(doc);
    }
    state.counters["held_per_text_byte"] = held;
    state.counters["yyjson_doc_per_text_byte"] = doc_only;
    report(state, p);
    filmo_shutdown();
}

// ---- accessors over a retained 2 MB page (ns per call) ------------------------------------------

template <class F>
void accessor(benchmark::State &state, F read) {
    const Page &p = page(2000);
    filmo_shutdown();
    if (filmo_parse_homepage_json(p.text.data(), p.text.size()) != FILMO_OK)
        state.SkipWithError(filmo_last_error());
    const int32_t n = filmo_home_basics_count();
    int32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(read(i));
        if (++i == n) i = 0;
    }
    filmo_shutdown();
}

void BM_accessor_basic_title(benchmark::State &state) {
    accessor(state, [](int32_t i) { return filmo_home_basic_title(i); });
}
void BM_accessor_basic_rating_value(benchmark::State &state) {
    accessor(state, [](int32_t i) { return filmo_home_basic_rating_value(i, 0); });
}
void BM_accessor_basic_field(benchmark::State &state) {
    accessor(state, [](int32_t i) { return filmo_home_basic_field(i, "PosterUrl"); });
}
void BM_accessor_playlist_imdb(benchmark::State &state) {
    accessor(state, [](int32_t i) { return filmo_home_collection_playlist_imdb(i & 63, 1, 2); });
}

}  // namespace

BENCHMARK(BM_floor_inflate)->Apply(sizes);
BENCHMARK(BM_floor_parse)->Apply(sizes);
BENCHMARK(BM_fetch_memory)->Apply(sizes);
BENCHMARK(BM_fetch_fixture)->Apply(sizes);
BENCHMARK(BM_fetch_fixture_cold)->Apply(sizes);
BENCHMARK(BM_parse_homepage_json)->Apply(sizes);
BENCHMARK(BM_stable_hash)->Apply(sizes);
BENCHMARK(BM_memory_retained)->Apply(sizes)->Iterations(1);
BENCHMARK(BM_cache_hit)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_accessor_basic_title);
BENCHMARK(BM_accessor_basic_rating_value);
BENCHMARK(BM_accessor_basic_field);
BENCHMARK(BM_accessor_playlist_imdb);

BENCHMARK_MAIN();
