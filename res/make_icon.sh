#!/usr/bin/env bash
# Redraws the application icon (resource 128) at the sizes the window uses.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
  -fill '#1f5fa8' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill '#2f7fd8' -draw 'roundrectangle 20,20 235,235 32,32' \
  -fill white -draw 'rectangle 108,44 148,130' \
  -fill white -draw 'polygon 68,124 188,124 128,190' \
  -fill '#ffd23f' -draw 'roundrectangle 52,198 204,222 8,8' \
  -strip icon128_256.png
for size in 48 32 16; do
  convert icon128_256.png -resize "${size}x${size}" -strip "icon128_${size}.png"
done
