#!/usr/bin/env bash
# Runs each fuzz target for SECONDS over fuzz/corpus/<target>/, keeping the
# inputs that reach new code. Afterwards the corpus is merged down to the
# inputs still needed for the coverage reached, so what is committed stays
# small. Crashes, leaks and timeouts go to fuzz/artifacts/<target>/.
# Usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
# Exit code 1 when any target found something.
set -uo pipefail
cd "$(dirname "$0")/.."
# Leaks of the system libraries the engine calls are known and listed there.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(script tracker 3ds bmp tga jpeg music)

# Largest input each target tries (bytes).
max_len() {
    case $1 in
    script | tracker | 3ds) echo 4096 ;;
    *) echo 8192 ;;
    esac
}

found=0
for t in "${targets[@]}"; do
    bin="$build/fuzz/fuzz_$t"
    corpus="fuzz/corpus/$t"
    artifacts="fuzz/artifacts/$t"
    mkdir -p "$corpus" "$artifacts"
    dict=()
    [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
    echo "== fuzz_$t: $seconds s"
    log="$artifacts/last-run.log"
    "$bin" "$corpus" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" "${dict[@]}" \
        >"$log" 2>&1
    rc=$?
    # Executions, coverage (cov: edges, ft: features) and corpus at the end.
    grep -E "^#[0-9]+.*cov:" "$log" | tail -1
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$log"
    if [ $rc -ne 0 ]; then
        found=1
        echo "fuzz_$t: FOUND A PROBLEM (exit $rc); see $log and $artifacts/"
        grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -5
    fi

    # Keep the seeds and only the other inputs that still add coverage.
    merged=$(mktemp -d)
    find "$corpus" -maxdepth 1 -type f \( -name 'seed-*' -o -name 'shared-*' \) -exec cp {} "$merged/" \;
    if "$bin" -merge=1 -max_len="$(max_len "$t")" -timeout=10 "$merged" "$corpus" >"$artifacts/merge.log" 2>&1; then
        find "$corpus" -maxdepth 1 -type f ! -name 'seed-*' ! -name 'shared-*' -delete
        find "$merged" -maxdepth 1 -type f ! -name 'seed-*' ! -name 'shared-*' -exec cp {} "$corpus/" \;
    else
        echo "fuzz_$t: merge failed (see $artifacts/merge.log); corpus left as it is"
    fi
    rm -rf "$merged"
    echo "   corpus kept: $(find "$corpus" -maxdepth 1 -type f ! -name 'shared-*' | wc -l) files," \
        "$(find "$corpus" -maxdepth 1 -type f ! -name 'shared-*' -printf '%s\n' | awk '{s+=$1} END {print int(s/1024)}') KiB"
done
exit $found
