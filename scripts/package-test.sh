#!/usr/bin/env bash
# The Debian package as a user gets it: unpacked into a scratch root with dpkg -x, its
# quillmoss-cli run from an unrelated current directory with an empty home folder.
#   scripts/package-test.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: package-test.sh BUILD_DIR}
deb=$(readlink -f "$(ls "$build"/quillmoss_*.deb | head -n 1)")
work=$(mktemp -d /tmp/qm-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root" "$work/home" "$work/elsewhere"
dpkg -x "$deb" "$work/root"
cli="$work/root/usr/bin/quillmoss-cli"

fail() { echo "package-test: $*" >&2; exit 1; }
cd "$work/elsewhere"
run() { env -u QUILLMOSS_HOME -u QUILLMOSS_CONNECT_TO -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$work/home" "$@"; }

version=$(run "$cli" --version) || fail "--version failed"
[ "$version" = "quillmoss-cli $(dpkg-deb -f "$deb" Version)" ] || fail "--version printed '$version'"
run "$cli" --demo list 123456789 >"$work/list.txt" 2>"$work/err.txt" || { cat "$work/err.txt" >&2; fail "--demo list failed"; }
grep -q '毕业照全集' "$work/list.txt" || fail "--demo list printed no album table"
[ -f "$work/home/.config/quillmoss/soft.dat" ] || fail "the settings did not go to ~/.config/quillmoss"
[ -z "$(ls -A "$work/elsewhere")" ] || fail "files were left in the current directory: $(ls -A "$work/elsewhere")"
[ -f "$work/root/usr/share/doc/quillmoss/cli.md.gz" ] || fail "docs/cli.md is not installed under share/doc/quillmoss"
dpkg-deb -f "$deb" Recommends | grep -q bash-completion || fail "bash-completion is not recommended"
for page in quillmoss-cli quillmoss qzone-sim; do
    [ -f "$work/root/usr/share/man/man1/$page.1.gz" ] || fail "no man page $page.1.gz"
done
# The man pages format without a warning also where the locale cannot show Chinese.
if command -v man >/dev/null; then
    for page in "$work/root/usr/share/man/man1/"*.1.gz; do
        warnings=$(LC_ALL=C man -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man $(basename "$page") under the POSIX locale: $warnings"
    done
fi
desktop-file-validate "$work/root/usr/share/applications/quillmoss.desktop" | grep -v '^.*: hint:' && fail "desktop entry"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/"*.metainfo.xml >/dev/null || fail "AppStream metadata"
echo "package-test: $(basename "$deb"): $version; --demo list from an unrelated folder: $(($(wc -l <"$work/list.txt") - 1)) albums"
