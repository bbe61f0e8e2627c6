#!/usr/bin/env bash
# Installs the Debian packages the project needs, by group, so that a target installs only what it
# uses:  scripts/install-deps.sh [cli] [gui] [test] [package] [format]   (no group: all of them)
#   cli      building quillmoss-cli and qzone-sim (what `make demo` needs)
#   gui      the Qt window (quillmoss)
#   test     tests, benchmarks, sanitizers and fuzzing, the browser and servers the tests start
#   package  the Debian package and its checks (`make deb`)
#   format   clang-format (`make format`)
# Idempotent: packages already present are skipped; apt-get is the only source. When another apt
# run holds the package lock, apt waits for it (up to QM_APT_LOCK_WAIT seconds, default 600)
# instead of failing at once.
set -euo pipefail

declare -A GROUP
GROUP[cli]="build-essential cmake ninja-build pkg-config libcurl4-openssl-dev zlib1g-dev libicu-dev
  libsqlite3-dev libssl-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev libvips-dev libjpeg-dev"
GROUP[gui]="qt6-base-dev qt6-webengine-dev qt6-translations-l10n libgl-dev libxkbcommon-dev"
GROUP[test]="git clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth fonts-noto-cjk nginx-light aria2 curl chromium"
GROUP[package]="dpkg-dev file lintian desktop-file-utils appstream"
GROUP[format]="clang-format"

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(cli gui test package format)
PKGS=()
for g in "${groups[@]}"; do
  [ -n "${GROUP[$g]+set}" ] || { echo "install-deps: unknown group $g (cli gui test package format)" >&2; exit 2; }
  read -r -a list <<<"$(echo ${GROUP[$g]})"
  PKGS+=("${list[@]}")
done

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PKGS[@]} packages present (${groups[*]})"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
wait=${QM_APT_LOCK_WAIT:-600}
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get -o DPkg::Lock::Timeout="$wait" update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout="$wait" install -y -qq "${missing[@]}"
