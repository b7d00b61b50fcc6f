#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz/ and runs each
# one for the given number of seconds on its corpus, two at a time.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# Environment: FUZZ_TARGETS="replacer script" picks targets; FUZZ_JOBS (default 2)
# runs that many at once.
# New inputs go to build-fuzz/corpus/<target>; the seeds in fuzz/corpus/<target>
# and the kept crash inputs in fuzz/regressions/<target> are only read. A crash
# leaves its input as build-fuzz/crashes/<target>-crash-...; copy it into
# fuzz/regressions/<target>/ once fixed, and the normal tests replay it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
jobs=${FUZZ_JOBS:-2}
build=$root/build-fuzz

"$root/scripts/install-deps.sh" >/dev/null
targets=${FUZZ_TARGETS:-$(sed -n 's/^ *\([a-z0-9_]*\):.*/\1/p' "$root/fuzz/targets.cmake")}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOVIK_FUZZ=ON -DTOVIK_WERROR=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' $targets) >"$build/build.log" 2>&1 || {
    tail -40 "$build/build.log"
    exit 1
}

mkdir -p "$build/logs" "$build/crashes"

run_one() {
    local target=$1
    local seeds=("$root/fuzz/corpus/$target")
    [[ -d $root/fuzz/regressions/$target ]] && seeds+=("$root/fuzz/regressions/$target")
    mkdir -p "$build/corpus/$target"
    # Hangs over 25 s and more than 2 GB of memory count as findings (an image at the
    # size caps takes about 1 GB under AddressSanitizer, its surface included).
    if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" \
        "$build/corpus/$target" "${seeds[@]}" >"$build/logs/$target.log" 2>&1; then
        echo "ok"
    else
        echo "FAILED"
    fi
}
export -f run_one
export root build seconds

failed=0
summary=$(printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'echo "{} $(run_one {})"')
echo "target            result  executions  cov     ft      corpus"
while read -r target result; do
    log=$build/logs/$target.log
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: ' | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9A-Za-z]*\).*/\1/p' <<<"$last")
    printf '%-17s %-7s %-11s %-7s %-7s %s\n' "$target" "$result" "${execs:-?}" "${cov:-?}" \
        "${ft:-?}" "${corp:-?}"
    if [[ $result != ok ]]; then
        failed=1
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/    /'
    fi
done <<<"$summary"
exit $failed
