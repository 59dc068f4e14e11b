#!/usr/bin/env bash
# Builds the benchmarks (release, no sanitizers), runs them and states every result as a ratio to
# the floor measured in the same run on the same bytes (zlib inflate alone + yyjson read alone).
# Usage: scripts/bench.sh [google-benchmark arguments...], e.g. --benchmark_filter=fetch
# FILMO_BENCH_BUILD names the build directory (default build/bench); FILMO_BENCH_REPS the
# repetitions (default 5, the median is reported). See BENCHMARKS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FILMO_BENCH_BUILD:-build/bench}
reps=${FILMO_BENCH_REPS:-5}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFILMO_SANITIZE=OFF \
    -DFILMO_BUILD_BENCH=ON -DFILMO_BUILD_TESTS=OFF -DFILMO_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target filmo_bench -j "$(nproc)"

out=$build/bench.json
"$build/bench/filmo_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'EOF'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"]: r for r in runs if r.get("aggregate_name") == "median"}

def ms(name):
    r = median.get(name)
    if not r:
        return None
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    return r["real_time"] * scale

print("\nMedians; ratios to the floor measured in the same run on the same bytes.")
print("floor = zlib inflate alone + yyjson read alone; parse_json is set against yyjson alone.")
print("%-8s %9s %9s %9s | %-22s %-22s %-22s %-18s %s" % (
    "page", "inflate", "parse", "floor", "fetch, memory (<=1.3)", "fetch, fixture (<=1.6)",
    "fixture, file changed", "parse_json", "hash MB/s"))
for kb in (100, 2000, 20000):
    inf, par = ms("BM_floor_inflate/kb:%d" % kb), ms("BM_floor_parse/kb:%d" % kb)
    if inf is None or par is None:
        continue
    floor = inf + par

    def cell(name, base=floor, target=None):
        t = ms(name % kb)
        if t is None:
            return "-"
        mark = "" if target is None else (" ok" if t / base <= target else " MISSED")
        return "%.2f ms %.2fx%s" % (t, t / base, mark)

    h = median.get("BM_stable_hash/kb:%d" % kb)
    mbs = "%.0f" % (h["bytes_per_second"] / 1e6) if h else "-"
    print("%-8s %6.2f ms %6.2f ms %6.2f ms | %-22s %-22s %-22s %-18s %s" % (
        "%d kB" % kb, inf, par, floor, cell("BM_fetch_memory/kb:%d", target=1.3),
        cell("BM_fetch_fixture/kb:%d", target=1.6), cell("BM_fetch_fixture_cold/kb:%d"),
        cell("BM_parse_homepage_json/kb:%d", base=par), mbs))

hit = median.get("BM_cache_hit")
if hit:
    print("\ncache hit: %.0f ns (target under 1000 ns: %s)" % (
        hit["real_time"], "ok" if hit["real_time"] < 1000 else "MISSED"))
for name, r in sorted(median.items()):
    if name.startswith("BM_accessor"):
        print("%-34s %6.1f ns" % (name[3:], r["real_time"]))
for name, r in sorted(median.items()):
    if name.startswith("BM_memory_retained"):
        print("%-34s held %.2f B per text byte (yyjson document alone %.2f)" % (
            name[3:], r.get("held_per_text_byte", 0), r.get("yyjson_doc_per_text_byte", 0)))
EOF
