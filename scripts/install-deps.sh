#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and benchmark.
# Idempotent: packages already present are skipped; apt-get is the only source.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  qt6-base-dev qt6-webengine-dev qt6-translations-l10n libgl-dev libxkbcommon-dev
  libcurl4-openssl-dev zlib1g-dev libicu-dev libsqlite3-dev libssl-dev
  libcpp-httplib-dev nlohmann-json3-dev libcli11-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libvips-dev
  xvfb xauth fonts-noto-cjk nginx-light aria2 curl chromium
  clang-format dpkg-dev file lintian desktop-file-utils appstream
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PKGS[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
