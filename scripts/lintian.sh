#!/usr/bin/env bash
# lintian on the package: one line per tag (no explanations), errors fail.
set -uo pipefail
deb=${1:?usage: lintian.sh PACKAGE.deb}
out=$(lintian --tag-display-limit 0 "$deb" 2>&1)
status=$?
[ -z "$out" ] || echo "$out"
if echo "$out" | grep -q '^E: '; then
    echo "lintian: errors in $deb" >&2
    exit 1
fi
[ $status -le 2 ] || exit 1
echo "lintian: no errors"
