#!/usr/bin/env bash
# Soak with faults: quillmoss-cli downloads ALBUMS albums of PICTURES pictures each from the
# simulator while the picture hosts reset, stall past the time-out, cut bodies short and answer 500
# now and then, and the album list is rate-limited once. Afterwards it checks that every file is
# byte-identical to its source or absent, that no temporary file is left, that the failed count
# equals the missing files, and that memory stayed flat (RSS at the end within 10 % of the RSS after
# the first album). Prints a summary; exits 1 when a check fails.
#   scripts/soak.sh [BUILD_DIR]       env: ALBUMS (20), PICTURES (500), SIZE (bytes, 4000)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-soak}
albums=${ALBUMS:-20}
pictures=${PICTURES:-500}
size=${SIZE:-4000}
target=10001

if [ ! -x "$build/bin/quillmoss-cli" ] || [ ! -f "$build/libqm_sim_model.a" ] || [ "${SOAK_REBUILD:-1}" = 1 ]; then
    echo "soak: building quillmoss-cli and qzone-sim in $build" >&2
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_GUI=OFF -DQM_BENCH=OFF >/dev/null || exit 1
    cmake --build "$build" -j "$(nproc)" --target quillmoss-cli qzone-sim qm_sim_model >/dev/null || exit 1
fi
work=$(mktemp -d /tmp/qm-soak-XXXXXX)
sim_pid=
cli_pid=
cleanup() {
    [ -n "$cli_pid" ] && kill "$cli_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

g++ -std=c++20 -O1 -I"$root" "$root/scripts/soak_check.cpp" "$build/libqm_sim_model.a" "$build/libqm_net.a" -lz \
    -o "$work/soak_check" || exit 1

# The scenario: one open QZone owner with the albums, and the fault knobs on the picture hosts.
{
    printf '{"qzone":[{"uin":%s,"space":"open","albums":[' "$target"
    for a in $(seq 1 "$albums"); do
        id=$(printf 'S%02d' "$a")
        [ "$a" -gt 1 ] && printf ','
        printf '{"id":"%s","name":"浸泡%02d","priv":1,"generate":{"count":%s,"name":"%s_g%%d","kind":"raw","format":"jpg","size":%s}}' \
            "$id" "$a" "$pictures" "$id" "$size"
    done
    printf ']}],"faults":['
    printf '{"match":"photo.store.qq.com","reset":true,"probability":0.05,"seed":11},'
    printf '{"match":"photo.store.qq.com","stall_after":1000,"stall_ms":14000,"probability":0.05,"seed":12},'
    printf '{"match":"photo.store.qq.com","truncate":1500,"probability":0.05,"seed":13},'
    printf '{"match":"photo.store.qq.com","status":500,"probability":0.02,"seed":14},'
    printf '{"match":"fcg_list_album","rate_limit_first":1}'
    printf ']}\n'
} >"$work/soak.json"

"$build/bin/qzone-sim" --scenario "$work/soak.json" --port 0 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do grep -q '^listening' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
addr=$(sed -n 's/^listening \(127\.0\.0\.1:[0-9]*\)$/\1/p' "$work/sim.out")
[ -n "$addr" ] || { echo "soak: the simulator did not start"; cat "$work/sim.err"; exit 1; }

# The program folder of the run; the shortest allowed time-out, so stalls are cut at 10 s.
mkdir -p "$work/prog" "$work/save"
cd "$work/prog" || exit 1
export QUILLMOSS_HOME="$work/prog"
"$build/bin/quillmoss-cli" settings set TimeoutSec 10 >/dev/null
"$build/bin/quillmoss-cli" settings set ThreadCount 15 >/dev/null

start=$(date +%s)
QUILLMOSS_CONNECT_TO=$addr "$build/bin/quillmoss-cli" download "$target" --save "$work/save" --yes --no-gallery \
    >"$work/cli.out" 2>"$work/cli.err" &
cli_pid=$!
rss_first=
rss_last=
while kill -0 "$cli_pid" 2>/dev/null; do
    rss=$(awk '/^VmRSS:/{print $2}' "/proc/$cli_pid/status" 2>/dev/null)
    [ -n "$rss" ] && rss_last=$rss
    if [ -z "$rss_first" ] && [ -d "$work/save/$target" ] &&
        [ "$(find "$work/save/$target" -mindepth 1 -maxdepth 1 -type d | wc -l)" -ge 2 ]; then
        rss_first=$rss  # the first album is done and the second has begun
    fi
    sleep 1
done
wait "$cli_pid"
cli_rc=$?
cli_pid=
elapsed=$(($(date +%s) - start))

fail=0
check() { # condition-text result
    if [ "$2" = 0 ]; then echo "  ok    $1"; else echo "  FAIL  $1"; fail=1; fi
}
listed=$(awk -F'\t' 'NR>1 && NF>=5 {s+=$3+$4} END{print s+0}' "$work/cli.out")
failed=$(awk -F'\t' 'NR>1 && NF>=5 {s+=$4} END{print s+0}' "$work/cli.out")
"$work/soak_check" "$work/save" "$size" >"$work/check.out"
check_rc=$?
present=$(find "$work/save" -type f -name '*.jpg' | wc -l)
temps=$(find "$work/save" "$work/prog" -name '*.tmp' | wc -l)
outside=$(find "$work" -mindepth 1 -maxdepth 1 ! -name save ! -name prog ! -name soak.json ! -name soak_check \
    ! -name '*.out' ! -name '*.err' | wc -l)
expected=$((albums * pictures))
missing=$((expected - present))

echo "soak: $albums albums x $pictures pictures of $size bytes, faults on, $elapsed s, exit status $cli_rc"
echo "  pictures listed $listed of $expected, on disk $present, failed $failed, missing $missing"
tail -n 1 "$work/check.out" | sed 's/^/  checker: /'
grep -v '^files ' "$work/check.out" | head -n 10 | sed 's/^/    /'
if [ -n "$rss_first" ] && [ -n "$rss_last" ]; then
    echo "  RSS after the first album ${rss_first} KiB, at the end ${rss_last} KiB"
    rss_ok=$(awk -v a="$rss_first" -v b="$rss_last" 'BEGIN{print (b <= a * 1.10) ? 0 : 1}')
else
    echo "  RSS not sampled (run too short)"
    rss_ok=0
fi
check "every album listed in full" "$([ "$listed" -eq "$expected" ] && echo 0 || echo 1)"
check "every file byte-identical to its source (no partial file)" "$check_rc"
check "no temporary file left" "$([ "$temps" -eq 0 ] && echo 0 || echo 1)"
check "nothing written outside the save and program folders" "$([ "$outside" -eq 0 ] && echo 0 || echo 1)"
check "failed count equals missing files" "$([ "$failed" -eq "$missing" ] && echo 0 || echo 1)"
check "RSS at the end within 10 % of RSS after the first album" "$rss_ok"
check "soft.dat whole (19808 bytes)" "$([ "$(stat -c %s soft.dat)" = 19808 ] && echo 0 || echo 1)"
if [ "$fail" != 0 ]; then
    echo "--- cli stdout"; tail -n 30 "$work/cli.out"; echo "--- cli stderr"; tail -n 20 "$work/cli.err"
fi
exit $fail
