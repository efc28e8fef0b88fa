#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from etapas.svg. The PNGs are kept in the
# tree so that building and packaging need no SVG renderer; run this after changing the SVG
# (it needs rsvg-convert, from librsvg2-bin).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
for n in 16 24 32 48 64 128 256; do
  rsvg-convert --width "$n" --height "$n" --format png --output "png/etapas-$n.png" etapas.svg
done
