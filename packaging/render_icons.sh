#!/usr/bin/env bash
# Renders the application icon's PNGs from its SVG with rsvg-convert
# (librsvg2-bin, installed when missing):
#
#   bash packaging/render_icons.sh
#
# writes packaging/icons/org.sonalyx.Sonalyx-{48,256}.png from
# packaging/icons/org.sonalyx.Sonalyx.svg. The PNGs are kept in git, so a
# build needs no renderer; run this after changing the SVG and commit both.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/setup.sh
source "$root/scripts/setup.sh"
SONALYX_PACKAGES=(librsvg2-bin)
ensure_packages

icons=$root/packaging/icons
for size in 48 256; do
    rsvg-convert --width "$size" --height "$size" --format png \
        --output "$icons/org.sonalyx.Sonalyx-$size.png" "$icons/org.sonalyx.Sonalyx.svg"
done
ls -l "$icons"
