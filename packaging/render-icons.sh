#!/usr/bin/env bash
# Renders the application icon packaging/zelvano.svg into the hicolor icon tree beside it:
#   packaging/icons/hicolor/NxN/apps/zelvano.png  for N = 16 32 48 64 128 256
#   packaging/icons/hicolor/scalable/apps/zelvano.svg  (a copy of packaging/zelvano.svg)
#
# The PNGs are committed, so a build or a package needs no SVG renderer; run this script only
# after changing zelvano.svg, and commit what it writes. It needs rsvg-convert (Debian package
# librsvg2-bin). Running it again on an unchanged SVG rewrites identical files.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
svg="$here/zelvano.svg"
tree="$here/icons/hicolor"

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "render-icons.sh: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2
    exit 1
fi

for n in 16 32 48 64 128 256; do
    dir="$tree/${n}x${n}/apps"
    mkdir -p "$dir"
    # Transparent background (rsvg-convert's default); write to a temporary file first so an
    # interrupted run never leaves a half-written icon behind.
    rsvg-convert --format=png --width="$n" --height="$n" --keep-aspect-ratio \
        --output="$dir/zelvano.png.tmp" "$svg"
    mv -f "$dir/zelvano.png.tmp" "$dir/zelvano.png"
done

mkdir -p "$tree/scalable/apps"
cp -f "$svg" "$tree/scalable/apps/zelvano.svg"

echo "render-icons.sh: icons written under $tree"
