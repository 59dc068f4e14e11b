#!/usr/bin/env bash
# Builds the benchmarks (release, no sanitizers), runs them and states every result as a ratio to
# the floors measured in the same run on the same bytes (zlib inflate alone + yyjson read alone,
# and ISA-L's inflate alone + yyjson read alone where the build has ISA-L).
# Usage: scripts/bench.sh [google-benchmark arguments...], e.g. --benchmark_filter=fetch
# FILMO_BENCH_BUILD names the build directory (default build/bench); FILMO_BENCH_REPS the
# repetitions (default 5, the median is reported); FILMO_BENCH_CLOCK=cpu states CPU time instead of
# wall-clock time (on a box shared with other work). See BENCHMARKS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FILMO_BENCH_BUILD:-build/bench}
reps=${FILMO_BENCH_REPS:-5}
clock=${FILMO_BENCH_CLOCK:-real}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFILMO_SANITIZE=OFF \
    -DFILMO_BUILD_BENCH=ON -DFILMO_BUILD_TESTS=OFF -DFILMO_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target filmo_bench -j "$(nproc)"

out=$build/bench.json
"$build/bench/filmo_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" "$clock" <<'EOF'
import json, sys

runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"]: r for r in runs if r.get("aggregate_name") == "median"}
clock = "cpu_time" if sys.argv[2] == "cpu" else "real_time"

def ms(name):
    r = median.get(name)
    if not r:
        return None
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    return r[clock] * scale

print("\nMedians of %s; ratios to the floors measured in the same run on the same bytes." %
      clock.replace("_", " "))
print("zlib floor = zlib inflate alone + yyjson read alone; ISA-L floor = ISA-L's inflate alone +")
print("yyjson read alone. fetch = filmo_get_homepage (update flag) + every basic read; the fixture")
print("fetch is set against the in-memory fetch; parse_json against yyjson alone.")
print("%-7s %8s %8s %8s %9s %9s | %-28s %-17s %-15s %-15s %s" % (
    "page", "zlib", "ISA-L", "parse", "zlib fl.", "ISA-L fl.",
    "fetch, memory: zlib / ISA-L", "fixture / memory", "file changed", "parse_json",
    "hash MB/s"))
for kb in (100, 2000, 20000):
    inf, par = ms("BM_floor_inflate/kb:%d" % kb), ms("BM_floor_parse/kb:%d" % kb)
    isal = ms("BM_floor_inflate_isal/kb:%d" % kb)
    if inf is None or par is None:
        continue
    floor = inf + par
    ifloor = isal + par if isal is not None else None
    zlib_goal = 1.3 if kb == 100 else 1.0

    def mark(ratio, goal):
        return " ok" if ratio <= goal else " MISSED"

    mem = ms("BM_fetch_memory/kb:%d" % kb)
    fix = ms("BM_fetch_fixture/kb:%d" % kb)
    cold = ms("BM_fetch_fixture_cold/kb:%d" % kb)
    pj = ms("BM_parse_homepage_json/kb:%d" % kb)
    memcell = "-"
    if mem is not None:
        memcell = "%.2f ms %.2fx%s" % (mem, mem / floor, mark(mem / floor, zlib_goal))
        if ifloor is not None and kb != 100:
            memcell += " %.2fx%s" % (mem / ifloor, mark(mem / ifloor, 1.5))
    fixcell = "-" if fix is None or mem is None else "%.2f ms %.2fx%s" % (
        fix, fix / mem, mark(fix / mem, 1.05))
    coldcell = "-" if cold is None else "%.2f ms %.2fx" % (cold, cold / floor)
    pjcell = "-" if pj is None else "%.2f ms %.2fx" % (pj, pj / par)
    h = median.get("BM_stable_hash/kb:%d" % kb)
    mbs = "%.0f" % (h["bytes_per_second"] / 1e6) if h else "-"
    print("%-7s %5.2f ms %5.2f ms %5.2f ms %6.2f ms %6s | %-28s %-17s %-15s %-15s %s" % (
        "%d kB" % kb, inf, isal if isal is not None else float("nan"), par, floor,
        "%.2f ms" % ifloor if ifloor is not None else "-", memcell, fixcell, coldcell, pjcell,
        mbs))

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
