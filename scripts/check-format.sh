#!/usr/bin/env bash
# Checks that the C++ sources follow .clang-format; with --fix, reformats them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files -co --exclude-standard -- 'src/*.cpp' 'src/*.hpp' \
    'tests/*.cpp' 'tests/*.hpp' 'bench/*.cpp' 'fuzz/*.cpp' 'fuzz/*.hpp' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run --Werror "${files[@]}"
    echo "Formatting: ${#files[@]} files follow .clang-format."
fi
