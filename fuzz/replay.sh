#!/usr/bin/env bash
# Runs every input of every fuzz corpus once (no new fuzzing): the check CI
# makes that no known input crashes, leaks, hangs or trips a sanitizer.
# Usage: fuzz/replay.sh BUILD_DIR [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
# Leaks of the system libraries the engine calls are known and listed there.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
build=${1:?usage: fuzz/replay.sh BUILD_DIR [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(script tracker 3ds bmp tga jpeg music)
failed=0
for t in "${targets[@]}"; do
    log=$(mktemp)
    if "$build/fuzz/fuzz_$t" -runs=0 -timeout=10 -rss_limit_mb=2048 "fuzz/corpus/$t" >"$log" 2>&1; then
        echo "fuzz_$t: $(find "fuzz/corpus/$t" -type f | wc -l) inputs replayed, clean"
    else
        failed=1
        echo "fuzz_$t: FAILED on its corpus"
        tail -40 "$log"
    fi
    rm -f "$log"
done
exit $failed
