#!/usr/bin/env bash
# Runs each libFuzzer harness of a fuzz build for SECONDS, starting from the seeds in tests/fuzz/seeds
# (and the inputs of faults found earlier in tests/fuzz/regress), keeping the grown corpus in the
# build folder. A crash leaves its input in BUILD/fuzz-crashes/; copy it into tests/fuzz/regress/NAME/
# once fixed, so the replay tests keep it.
#   scripts/fuzz.sh BUILD SECONDS NAME...
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=$2
shift 2
mkdir -p "$build/fuzz-crashes"
status=0
printf '%-12s %10s %8s  %s\n' "target" "runs" "seconds" "result"
for name in "$@"; do
    corpus="$build/fuzz-corpus/$name"
    mkdir -p "$corpus"
    dirs=("$corpus" "$root/tests/fuzz/seeds/$name")
    [ -d "$root/tests/fuzz/regress/$name" ] && dirs+=("$root/tests/fuzz/regress/$name")
    dict=()
    [ -f "$root/tests/fuzz/$name.dict" ] && dict=(-dict="$root/tests/fuzz/$name.dict")
    log="$build/fuzz-$name.log"
    start=$(date +%s)
    "$build/fuzz/fuzz_$name" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-crashes/$name-" "${dict[@]}" "${dirs[@]}" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ "$rc" = 0 ]; then
        printf '%-12s %10s %8s  %s\n' "$name" "${runs:-?}" "$(($(date +%s) - start))" "ok"
    else
        printf '%-12s %10s %8s  %s\n' "$name" "${runs:-?}" "$(($(date +%s) - start))" "FAILED (see $log)"
        grep -E -m1 -A12 'ERROR:|check failed|runtime error' "$log"
        status=1
    fi
done
exit $status
