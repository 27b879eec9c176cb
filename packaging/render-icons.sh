#!/usr/bin/env bash
# Renders the committed PNG icons from the SVG after it changes (needs rsvg-convert, librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 256; do
  rsvg-convert -w "$size" -h "$size" org.kvendar.Kvendar.svg -o "icon-$size.png"
done
