#!/bin/sh
# Lays every image out on the screen's navy for a look (icons drawn at 96 px),
# into the file given (default /tmp/tessivo-art.png). Needs ImageMagick's montage.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
img=$(cd "$here/../../qml/images" && pwd)
out=${1:-/tmp/tessivo-art.png}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in "$img"/Icons/*.svg; do
    rsvg-convert -w 96 -h 96 "$s" -o "$tmp/$(basename "$s" .svg).png"
done
montage -background '#071429' -fill white -label '%t' -geometry 96x96+14+14 -tile 9x \
    "$tmp"/*.png "$img/Icons/menu.png" "$tmp/icons.png"
montage -background '#071429' -fill white -label '%t' -geometry 150x150+8+8 -tile 8x \
    "$img"/NFC/*.png "$img"/Barcode/*.png "$img"/Flags/*.png "$img/Icons/orvo.png" "$tmp/frames.png"
montage -background '#071429' -geometry +10+10 -tile 2x "$img/background.png" "$tmp/frames.png" "$tmp/icons.png" "$out"
echo "$out"
