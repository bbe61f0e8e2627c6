#!/usr/bin/env bash
# Lists and downloads the demo target with a quillmoss-cli built under a sanitizer, in a scratch
# program folder, and fails when the sanitizer reported anything (its exit code is set through the
# given options: TSan 66, LSan 23) or the program crashed.
#   scripts/cli-run.sh QUILLMOSS_CLI NAME=OPTIONS
set -u
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export "$2"
work=$(mktemp -d /tmp/qm-cli-run-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cd "$work/prog" || exit 1
export QUILLMOSS_HOME="$work/prog"
status=0
run() {
    local rc
    "$cli" "$@" >"$work/out.txt" 2>"$work/err.txt"
    rc=$?
    # 0 done, 1 a picture failed or nothing found: both are results, not faults of the program.
    if [ "$rc" -gt 1 ]; then
        echo "cli-run: quillmoss-cli $* ended with status $rc"
        grep -E -A30 'WARNING: ThreadSanitizer|ERROR: (Leak|Address)Sanitizer|runtime error' "$work/err.txt" | head -n 80
        status=1
    else
        echo "cli-run: quillmoss-cli $* - status $rc, no sanitizer report"
    fi
}
run --demo list 123456789
# The offline gallery is left out: libvips and the image codecs it loads are not instrumented, and
# their threads hand buffers over in ways the sanitizers cannot follow (the gallery has its own tests).
run --demo download 123456789 --save "$work/save" --yes --no-gallery
exit $status
