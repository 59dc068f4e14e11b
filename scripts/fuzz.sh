#!/usr/bin/env bash
# Builds the libFuzzer configuration and runs every fuzz target for SECONDS (default 20) over a
# copy of its seed corpus, as many at once as there are cores. Any crash, leak, time-out or
# out-of-memory report fails the script; the failing input and the log are kept under
# fuzz/corpus-run/. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# FILMO_FUZZ_BUILD names the build directory (default build/fuzz), FILMO_FUZZ_JOBS how many
# targets run at once (default: the number of cores). With FILMO_FUZZ_MERGE=1 the inputs of a
# clean run that reach new coverage are merged into fuzz/seeds/<target>/. See FUZZING.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-20}
shift || true
build=${FILMO_FUZZ_BUILD:-build/fuzz}
all_targets=(fuzz_homepage_json fuzz_inflate fuzz_fetch fuzz_transport fuzz_hash_encode
             fuzz_head fuzz_inflate_diff)
targets=("${@:-${all_targets[@]}}")
jobs=${FILMO_FUZZ_JOBS:-$(nproc)}

# The longest input each target is given: enough for its structure, short enough to stay fast.
max_len() {
    case $1 in
        fuzz_homepage_json|fuzz_fetch) echo 16384 ;;
        *) echo 4096 ;;
    esac
}
dict() {
    case $1 in
        fuzz_homepage_json|fuzz_fetch) echo "-dict=$root/fuzz/json.dict" ;;
    esac
}

echo "fuzz: building $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DFILMO_BUILD_FUZZ=ON -DFILMO_BUILD_TESTS=OFF -DFILMO_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "$jobs"

run_dir=$root/fuzz/corpus-run
rm -rf "$run_dir"
mkdir -p "$run_dir"
# The caller's sanitizer options stand (scripts/test.sh sets stricter ones); leaks are always on.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1}:detect_leaks=1
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# One target: a fresh copy of its seeds grows during the run; the seeds stay as checked in.
run_one() {
    local t=$1 dir=$run_dir/$1
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp "$root/fuzz/seeds/$t/"* "$dir/corpus/"
    # shellcheck disable=SC2046
    "$build/fuzz/$t" "$dir/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="$(max_len "$t")" $(dict "$t") -print_final_stats=1 \
        -artifact_prefix="$dir/artifacts/" >"$dir/log" 2>&1
}

pids=()
names=()
failed=0
wait_first() {
    if ! wait "${pids[0]}"; then
        echo "fuzz: ${names[0]} FAILED; log: $run_dir/${names[0]}/log" >&2
        tail -n 40 "$run_dir/${names[0]}/log" >&2
        failed=1
    else
        echo "fuzz: ${names[0]} ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' \
            "$run_dir/${names[0]}/log" | grep -o '[0-9]*$') runs)"
    fi
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
}
for t in "${targets[@]}"; do
    [ ${#pids[@]} -ge "$jobs" ] && wait_first
    run_one "$t" &
    pids+=($!)
    names+=("$t")
done
while [ ${#pids[@]} -gt 0 ]; do wait_first; done

if [ $failed -ne 0 ]; then
    echo "fuzz: failures above; reproduce with $build/fuzz/<target> <artifact>" >&2
    exit 1
fi
echo "fuzz: all targets clean (${seconds}s each)"

# Keeps the seeds as they are and adds only the grown inputs that reach new coverage.
if [ "${FILMO_FUZZ_MERGE:-0}" = 1 ]; then
    for t in "${targets[@]}"; do
        before=$(find "$root/fuzz/seeds/$t" -type f | wc -l)
        # shellcheck disable=SC2046
        "$build/fuzz/$t" -merge=1 "$root/fuzz/seeds/$t" "$run_dir/$t/corpus" \
            -max_len="$(max_len "$t")" $(dict "$t") >"$run_dir/$t/merge.log" 2>&1
        echo "fuzz: $t seeds $before -> $(find "$root/fuzz/seeds/$t" -type f | wc -l)"
    done
fi
