#!/usr/bin/env bash
# Runs clang-tidy (the repository's .clang-tidy) over every source file
# under src/, with the compile commands of the build folder given as the
# first argument (default build/). Fails listing the findings. Exit 77
# (skipped) when clang-tidy or the compile commands are absent.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
tidy=${CLANG_TIDY:-clang-tidy}
command -v "$tidy" >/dev/null || { echo "tidy: $tidy not found, skipped"; exit 77; }
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json, skipped"; exit 77; }
jobs=$(nproc 2>/dev/null || echo 2)
out=$(find "$root/src" -name '*.cpp' -print0 |
    xargs -0 -n 4 -P "$jobs" "$tidy" -p "$build" --quiet 2>/dev/null |
    grep -E '^/.*: (warning|error):' | sort -u)
if [ -n "$out" ]; then
    echo "$out"
    echo "tidy: $(echo "$out" | wc -l) findings"
    exit 1
fi
echo "tidy: no findings"
