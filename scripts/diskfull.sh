#!/usr/bin/env bash
# Disk faults (run as root): a save folder on a 2 MiB tmpfs that fills up in the middle of an album,
# and a read-only save folder. Checks that the run ends cleanly (no crash), that no picture under its
# final name is partial, that no temporary file is left, and that soft.dat and cookies.txt stay whole.
#   scripts/diskfull.sh [BUILD_DIR]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-soak}
[ "$(id -u)" = 0 ] || { echo "diskfull: needs root (mount -t tmpfs)"; exit 2; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_GUI=OFF -DQM_BENCH=OFF >/dev/null || exit 1
cmake --build "$build" -j "$(nproc)" --target quillmoss-cli qzone-sim qm_sim_model >/dev/null || exit 1

work=$(mktemp -d /tmp/qm-diskfull-XXXXXX)
mnt="$work/small"
mkdir -p "$mnt" "$work/prog"
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    mountpoint -q "$mnt" && umount "$mnt"
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
g++ -std=c++20 -O1 -I"$root" "$root/scripts/soak_check.cpp" "$build/libqm_sim_model.a" "$build/libqm_net.a" -lz \
    -o "$work/soak_check" || exit 1

# Two albums of 60 pictures of 40 KB: 4.8 MB, more than twice what the 2 MiB folder holds.
size=40000
{
    printf '{"qzone":[{"uin":10001,"space":"open","albums":['
    printf '{"id":"S01","name":"满盘01","priv":1,"generate":{"count":60,"name":"S01_g%%d","kind":"raw","size":%s}},' "$size"
    printf '{"id":"S02","name":"满盘02","priv":1,"generate":{"count":60,"name":"S02_g%%d","kind":"raw","size":%s}}' "$size"
    printf ']}]}\n'
} >"$work/disk.json"
"$build/bin/qzone-sim" --scenario "$work/disk.json" --port 0 >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do grep -q '^listening' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
addr=$(sed -n 's/^listening \(127\.0\.0\.1:[0-9]*\)$/\1/p' "$work/sim.out")
[ -n "$addr" ] || { echo "diskfull: the simulator did not start"; exit 1; }

fail=0
check() { if [ "$2" = 0 ]; then echo "  ok    $1"; else echo "  FAIL  $1"; fail=1; fi; }
cd "$work/prog" || exit 1
export QUILLMOSS_HOME="$work/prog"
printf '# Netscape HTTP Cookie File\n.qzone.qq.com\tTRUE\t/\tFALSE\t0\tkeep\tme\n' >cookies.txt
"$build/bin/quillmoss-cli" settings set ThreadCount 15 >/dev/null
cp soft.dat "$work/soft.before"
cp cookies.txt "$work/cookies.before"

echo "diskfull: save folder on a 2 MiB tmpfs"
mount -t tmpfs -o size=2m tmpfs "$mnt" || exit 1
QUILLMOSS_CONNECT_TO=$addr timeout 300 "$build/bin/quillmoss-cli" download 10001 --save "$mnt" --yes --no-gallery \
    >"$work/full.out" 2>"$work/full.err"
rc=$?
echo "  quillmoss-cli exit status $rc; $(df -k --output=used "$mnt" | tail -1 | tr -d ' ') KiB used"
sed 's/^/    /' "$work/full.out"
check "ended cleanly (status 0 or 1, no crash, no hang)" "$([ "$rc" -le 1 ] && echo 0 || echo 1)"
"$work/soak_check" "$mnt" "$size" >"$work/check.out"
check "no partial or foreign file under a final name ($(tail -1 "$work/check.out"))" $?
check "no temporary file left" "$([ "$(find "$mnt" -name '*.tmp' | wc -l)" = 0 ] && echo 0 || echo 1)"
failed=$(awk -F'\t' 'NR>1 && NF>=5 {s+=$4} END{print s+0}' "$work/full.out")
present=$(find "$mnt" -name '*.jpg' | wc -l)
listed=$(awk -F'\t' 'NR>1 && NF>=5 {s+=$3+$4} END{print s+0}' "$work/full.out")
check "failed count ($failed) equals missing files ($((listed - present)))" "$([ "$failed" = $((listed - present)) ] && echo 0 || echo 1)"
check "soft.dat whole" "$([ "$(stat -c %s soft.dat)" = 19808 ] && echo 0 || echo 1)"
check "cookies.txt intact" "$(grep -q $'\tkeep\tme' cookies.txt && echo 0 || echo 1)"
umount "$mnt"

echo "diskfull: read-only save folder"
mkdir -p "$work/ro"
mount -t tmpfs -o size=1m,ro tmpfs "$mnt" || exit 1
QUILLMOSS_CONNECT_TO=$addr timeout 120 "$build/bin/quillmoss-cli" download 10001 --save "$mnt" --yes --no-gallery \
    >"$work/ro.out" 2>"$work/ro.err"
rc=$?
echo "  quillmoss-cli exit status $rc"
check "ended cleanly with a failure status" "$([ "$rc" = 1 ] && echo 0 || echo 1)"
check "said \"请检测设置的保存路径是否有误\" or counted failures" \
    "$(grep -q '请检测设置的保存路径是否有误' "$work/ro.err" "$work/ro.out" || awk -F'\t' 'NR>1 && $4>0 {f=1} END{exit !f}' "$work/ro.out"; echo $?)"
check "soft.dat whole" "$([ "$(stat -c %s soft.dat)" = 19808 ] && echo 0 || echo 1)"
umount "$mnt"
exit $fail
