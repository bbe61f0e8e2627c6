#!/usr/bin/env bash
# Renders data/icons/quillmoss.svg into the committed 48, 128 and 256 pixel PNGs (needs libvips-tools).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 48 128 256; do
    vips thumbnail quillmoss.svg "quillmoss-$size.png" "$size" --height "$size"
done
