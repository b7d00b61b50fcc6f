#!/usr/bin/env bash
# The ThreadSanitizer soak: 64 comics of up to 200 pages on a loopback server,
# updated again and again while the window (dummy video driver) pages through
# them. Builds the reader's tests with -DTOVIK_SANITIZE=thread in build-tsan/
# and runs the soak test for the given time; any ThreadSanitizer report fails.
# Usage: scripts/soak.sh [seconds, default 600]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
build=$root/build-tsan

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIK_SANITIZE=thread \
    -DTOVIK_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_reader >"$build/build.log" 2>&1 || {
    tail -40 "$build/build.log"
    exit 1
}
report=$build/soak-tsan.txt
rm -f "$report".*
echo "soak for $seconds s; ThreadSanitizer reports go to $report"
cd "$build/tests"
status=0
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TOVIK_SOAK_SECONDS=$seconds \
    TSAN_OPTIONS="halt_on_error=0 second_deadlock_stack=1 log_path=$report" \
    ./test_reader --gtest_filter='Soak.*' || status=$?
reports=$(cat "$report".* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
echo "ThreadSanitizer reports: $reports; test status: $status"
[[ $status -eq 0 && $reports -eq 0 ]]
