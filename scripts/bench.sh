#!/usr/bin/env bash
# Runs every benchmark program of the build and prints one table: each figure with its goal or
# anchor and the ratio between them. The download anchors are the wall times curl and aria2c took on
# the reference machine; the engine is compared with curl measured in this same run.
#   scripts/bench.sh BIN_DIR [--quick]
set -u
bin=${1:?usage: bench.sh BIN_DIR [--quick]}
quick=${2:-}
out=$(mktemp -d /tmp/qm-bench-XXXXXX)
trap 'rm -rf "$out"' EXIT

status=0
# run NAME FILE [ARGS...]: runs bin/NAME (when built) with ARGS into out/FILE, and shows what it printed.
run() {
    local name=$1 file=$2
    shift 2
    [ -x "$bin/$name" ] || return 0
    echo "== $name $*" >&2
    "$bin/$name" "$@" >"$out/$file" || status=1
    cat "$out/$file" >&2
}

if [ -x "$bin/cut_bench" ]; then
    echo "== cut_bench" >&2
    "$bin/cut_bench" --benchmark_format=csv >"$out/cut.csv" 2>/dev/null || status=1
fi
run download_bench download.txt $quick
run job_bench job.txt $quick
# --quick leaves out the 100,000-picture album (its gallery alone takes minutes).
run bigalbum_bench bigalbum.txt ${quick:+--sizes 1000,10000}
# The cookie flood on a memory file system when there is one: what is compared is the cost of
# cookies, and ext4's cost of creating files after many deletions varies twofold between identical runs.
shm=${TMPDIR:-/tmp}
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then shm=/dev/shm; fi
TMPDIR=$shm run cookie_flood_bench cookies.txt
run thumbs_bench thumbs.txt $quick
run naming_bench naming.txt
run gallery_ready_bench gallery.txt
run rerun_bench rerun.txt
run timeline_bench timeline.txt
run film_bench film.txt $quick
run polite_bench polite.txt
if [ -x "$bin/table_fill_gui_bench" ]; then
    echo "== table_fill_gui_bench" >&2
    QT_QPA_PLATFORM=offscreen "$bin/table_fill_gui_bench" >"$out/table.txt" 2>&1 || status=1
    cat "$out/table.txt" >&2
fi

echo
printf '%-34s %12s %12s %8s  %s\n' "figure" "measured" "anchor/goal" "ratio" "note"
printf '%-34s %12s %12s %8s  %s\n' "------" "--------" "-----------" "-----" "----"
row() { # name measured reference note
    awk -v n="$1" -v m="$2" -v r="$3" -v note="$4" 'BEGIN {
        ratio = (r + 0 > 0 && m != "") ? sprintf("%.2f", m / r) : "-";
        printf "%-34s %12s %12s %8s  %s\n", n, m, r, ratio, note }'
}

if [ -s "$out/cut.csv" ]; then
    # Google Benchmark CSV: name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...
    while IFS=, read -r name _ real _ unit bps _; do
        name=${name//\"/}
        [ -n "$bps" ] && bps=$(awk -v b="$bps" 'BEGIN{printf "%.0f", b/1048576}') || bps=""
        row "cut: $name ($unit)" "$(printf '%.0f' "$real")" "" "${bps:+$bps MiB/s}"
    done < <(grep '^"BM_' "$out/cut.csv")
fi

if [ -s "$out/download.txt" ]; then
    # Rows: tool set wall cpu rss MB/s pics/s files. The first data set is the many small pictures,
    # the second the few large ones; the anchors follow the same order.
    sets=$(awk '$1=="engine"{print $2}' "$out/download.txt")
    i=0
    for s in $sets; do
        i=$((i + 1))
        curlAnchor=$([ $i -eq 1 ] && echo 1.0 || echo 0.8)
        ariaAnchor=$([ $i -eq 1 ] && echo 1.8 || echo 1.7)
        read -r ew ec erss ef < <(awk -v s="$s" '$1=="engine" && $2==s {print $3, $4, $5, $8}' "$out/download.txt")
        read -r cw cc cf < <(awk -v s="$s" '$1=="curl" && $2==s {print $3, $4, $8}' "$out/download.txt")
        read -r aw ac af < <(awk -v s="$s" '$1=="aria2c" && $2==s {print $3, $4, $8}' "$out/download.txt")
        [ -n "$quick" ] && echo "  (--quick: smaller sets than the anchors were measured on)"
        row "download $s: curl wall s" "$cw" "$curlAnchor" "anchor; files $cf"
        row "download $s: aria2c wall s" "$aw" "$ariaAnchor" "anchor; files $af"
        row "download $s: engine wall s" "$ew" "$cw" "vs curl, goal <= 1.10; files $ef"
        row "download $s: engine CPU s" "$ec" "$cc" "vs curl, goal <= 1.20"
        row "download $s: engine RSS MiB" "$erss" "" ""
        if awk -v e="$ew" -v c="$cw" -v ec="$ec" -v cc="$cc" 'BEGIN{exit !(e > 1.10 * c || ec > 1.20 * cc)}'; then
            echo "  ^ engine misses its goal against curl on $s" >&2
            status=1
        fi
    done
fi

if [ -s "$out/job.txt" ]; then
    # "job-vs-curl SET NxKiB (no-)gallery: engine/curl E x, job/curl J x, CPU/curl C x (user U x,
    # kernel K x), peak RSS R MiB (...)"
    while read -r set engine job cpu user kernel rss; do
        row "job $set: engine/curl" "$engine" "0.90" "goal <= 0.90 (job - list-only)"
        row "job $set: job/curl" "$job" "" ""
        row "job $set: CPU/curl" "$cpu" "1.00" "goal <= 1.00"
        row "job $set: user CPU/curl" "$user" "" ""
        row "job $set: kernel CPU/curl" "$kernel" "" "file creation swings with recent deletions"
        row "job $set: peak RSS MiB" "$rss" "24" "goal <= 24 without the gallery"
    done < <(sed -n 's/^job-vs-curl \([^ ]*\) .*engine\/curl \([0-9.]*\)x, job\/curl \([0-9.]*\)x, CPU\/curl \([0-9.]*\)x (user \([0-9.]*\)x, kernel \([0-9.]*\)x), peak RSS \([0-9.]*\) MiB.*/\1 \2 \3 \4 \5 \6 \7/p' "$out/job.txt")
    share=$(sed -n 's/^gallery after the download of set A: .* s, \([0-9.-]*\) % of the download.*/\1/p' "$out/job.txt")
    row "job A: gallery % of the download" "$share" "10" "goal <= 10"
fi
if [ -s "$out/bigalbum.txt" ]; then
    while read -r n per rss arch; do
        row "album of $n: ms per picture" "$per" "" "list, download, re-run, report, gallery"
        row "album of $n: peak RSS MiB" "$rss" "200" "goal <= 200"
        row "album of $n: archive bytes/picture" "$arch" "300" "goal <= 300"
    done < <(sed -n 's/^bigalbum \([0-9]*\) pictures.*; \([0-9.]*\) ms per picture; peak RSS \([0-9.]*\) MiB; archive \([0-9]*\) bytes.*/\1 \2 \3 \4/p' "$out/bigalbum.txt")
    read -r ratio rerun < <(sed -n 's/^bigalbum summary: time per picture at [0-9]* is \([0-9.]*\)x.*re-run at most \([0-9.]*\) %.*/\1 \2/p' "$out/bigalbum.txt")
    row "album: per-picture time large/small" "$ratio" "1.5" "goal <= 1.5"
    row "album: re-run % of the first run" "$rerun" "5" "goal <= 5"
fi
if [ -s "$out/film.txt" ]; then
    read -r fmb pmb ratio rss < <(sed -n 's/^film-vs-pictures: .*(\([0-9.]*\) MB\/s), pictures .*(\([0-9.]*\) MB\/s), ratio \([0-9.]*\); film peak RSS \([0-9.]*\) MiB.*/\1 \2 \3 \4/p' "$out/film.txt")
    row "film: MB/s" "$fmb" "$pmb" "vs the large pictures, goal >= 0.90"
    row "film: peak RSS MiB" "$rss" "64" "goal < 64"
    resumed=$(sed -n 's/^film-resume: .*second asked Range \(bytes=[0-9]*-\), answered \([0-9]*\); file identical: \([a-z]*\).*/\1 \2 \3/p' "$out/film.txt")
    row "film cut at 50 %: resumed" "" "" "${resumed:-not resumed}"
fi
if [ -s "$out/cookies.txt" ]; then
    cw=$(sed -n 's/^cookie-flood with .*wall \([0-9.]*\) s.*/\1/p' "$out/cookies.txt")
    nw=$(sed -n 's/^cookie-flood without .*wall \([0-9.]*\) s.*/\1/p' "$out/cookies.txt")
    row "cookie flood 4000 pics: wall s" "$cw" "$nw" "vs no cookies, goal <= 1.50"
fi
if [ -s "$out/thumbs.txt" ]; then
    first=$(sed -n 's/^thumbnails first run: .*, \([0-9.]*\) ms per picture, CPU \([0-9.]*\) ms.*/\1 \2/p' "$out/thumbs.txt")
    again=$(sed -n 's/^thumbnails again.*, \([0-9.]*\) ms per picture, CPU.*/\1/p' "$out/thumbs.txt")
    row "thumbnails ms per picture (wall)" "${first% *}" "" "200 KiB JPEGs, 1600x1200"
    row "thumbnails ms per picture (CPU)" "${first#* }" "" ""
    row "thumbnails rerun ms per picture" "$again" "" "nothing new"
fi
if [ -s "$out/naming.txt" ]; then
    # "naming: N same-titled pictures in S s (goal < 1 s)"
    read -r count secs < <(sed -n 's/^naming: \([0-9]*\) same-titled pictures in \([0-9.]*\) s.*/\1 \2/p' "$out/naming.txt")
    row "naming: $count same titles s" "$secs" "1.0" "goal < 1 s (title list on)"
fi
if [ -s "$out/gallery.txt" ] && grep -q '^gallery: [0-9]' "$out/gallery.txt"; then
    # "gallery: N-picture page ready in M ms (median of 3; goal < 1000 ms)"
    read -r count ms < <(sed -n 's/^gallery: \([0-9]*\)-picture page ready in \(-\?[0-9]*\) ms.*/\1 \2/p' "$out/gallery.txt")
    row "gallery: $count-picture page ready ms" "$ms" "1000" "goal < 1000 ms (headless Chromium)"
fi
if [ -s "$out/rerun.txt" ]; then
    # "rerun: N pictures of K KiB, first run A s, re-run B s (median of 3; P % of the first; goal < 10 %)"
    read -r count a b < <(sed -n 's/^rerun: \([0-9]*\) pictures.*first run \([0-9.]*\) s, re-run \([0-9.]*\) s.*/\1 \2 \3/p' "$out/rerun.txt")
    row "re-run of $count saved pictures s" "$b" "$a" "vs first run, goal < 0.10"
fi
if [ -s "$out/timeline.txt" ]; then
    # "timeline: N posts, M pictures written in S s (goal < 2 s); page ready in T ms (goal < 1000 ms)"
    read -r posts secs ms < <(sed -n 's/^timeline: \([0-9]*\) posts, .* written in \([0-9.]*\) s.*page ready in \(-*[0-9]*\) ms.*/\1 \2 \3/p' "$out/timeline.txt")
    row "timeline of $posts posts written s" "$secs" "2.0" "goal < 2 s (archive, moods.json, page)"
    row "timeline page ready ms" "$ms" "1000" "goal < 1000 ms (headless Chromium, best of 3)"
fi

if [ -s "$out/polite.txt" ]; then
    # "polite CASE: S of N pictures, T threads, wall W s, ideal I s, ratio R, refused K of M requests (P %)"
    while read -r case wall ideal share; do
        row "polite $case: wall s" "$wall" "$ideal" "vs ideal, goal <= 1.15"
        row "polite $case: refused %" "$share" "3" "goal <= 3 %"
    done < <(sed -n 's/^polite \([a-z-]*\): .* wall \([0-9.]*\) s, ideal \([0-9.]*\) s, .*(\([0-9.]*\) %)$/\1 \2 \3 \4/p' "$out/polite.txt")
fi

if [ -s "$out/table.txt" ]; then
    fill=$(sed -n 's/^fill time: \([0-9]*\) ms.*/\1/p' "$out/table.txt")
    gap=$(sed -n 's/^longest GUI event-loop gap: \([0-9]*\) ms.*/\1/p' "$out/table.txt")
    row "table fill ms" "$fill" "" ""
    row "table fill longest GUI gap ms" "$gap" "" ""
fi
exit $status
