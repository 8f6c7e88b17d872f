#!/usr/bin/env bash
# Draws the hicolor PNG icons with ImageMagick after the shapes of qxupdater.svg (run by hand
# after changing the picture; the PNGs are kept in the repository, so a build needs no
# ImageMagick). Drawn at 512 pixels, then reduced to each size.
set -euo pipefail
cd "$(dirname "$0")"
convert=$(command -v convert-im6.q16 || command -v convert)
big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT
"$convert" -size 512x512 xc:none \
  -fill '#1f3f7a' -stroke '#0d1f40' -strokewidth 12 -draw "roundrectangle 40,88 472,424 32,32" \
  -fill '#d8dde6' -strokewidth 8 -draw "roundrectangle 88,136 208,256 12,12" \
  -stroke none -fill '#1f3f7a' -font DejaVu-Sans-Bold -pointsize 56 -draw "text 104,220 'QX'" \
  -fill '#3c6bc4' -draw "roundrectangle 248,136 328,256 8,8" \
  -draw "roundrectangle 352,136 432,256 8,8" -draw "roundrectangle 88,296 432,328 8,8" \
  -fill '#e0b040' \
  -draw "rectangle 104,368 128,408" -draw "rectangle 152,368 176,408" \
  -draw "rectangle 200,368 224,408" -draw "rectangle 248,368 272,408" \
  -draw "rectangle 296,368 320,408" -draw "rectangle 344,368 368,408" \
  -draw "rectangle 392,368 416,408" \
  PNG32:"$big"
for size in 16 24 32 48 64 128 256; do
  "$convert" "$big" -filter Lanczos -resize "${size}x${size}" -strip PNG32:"qxupdater-$size.png"
done
