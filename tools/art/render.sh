#!/bin/sh
# Renders the bitmap artwork from qml/images/src/*.svg into the names the scene
# loads, then squeezes the files. Needs rsvg-convert (librsvg2-bin); uses
# pngquant and optipng when they are installed.
#
#   tools/art/render.sh           render from the committed SVG sources
#   tools/art/render.sh --regen   rewrite the sources first (tools/art/make_sources.py)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
img="$root/qml/images"
src="$img/src"

if [ "${1:-}" = "--regen" ]; then
    python3 "$here/make_sources.py"
fi

command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing: apt-get install -y librsvg2-bin" >&2; exit 1; }

mkdir -p "$img/Flags" "$img/NFC" "$img/Barcode" "$img/Icons"

render() { # source.svg target.png
    rsvg-convert --format=png --output="$2" "$src/$1"
}

# Palette PNGs where that stays faithful (pass pngquant options); without
# options the file stays true colour, as the background does: its gradient
# is only a few levels deep and a palette would band it.
squeeze() { # file [pngquant options]
    f=$1; shift
    if [ $# -gt 0 ] && command -v pngquant >/dev/null; then
        pngquant --force --skip-if-larger --strip --output "$f" "$@" -- "$f" || true
    fi
    if command -v optipng >/dev/null; then
        optipng -quiet -o5 -strip all "$f"
    fi
}

render background.svg "$img/background.png"
squeeze "$img/background.png"

render flag-gr.svg "$img/Flags/gr.png"
render flag-uk.svg "$img/Flags/uk.png"
for f in "$img/Flags/gr.png" "$img/Flags/uk.png"; do squeeze "$f" --quality 85-100; done

for n in 0 1 2 3 4 5 6; do
    render "nfc-$n.svg" "$img/NFC/$n.png"
    squeeze "$img/NFC/$n.png" --quality 80-100
done
for n in 0 1 2 3 4 5 6 7 8; do
    render "barcode-$n.svg" "$img/Barcode/$n.png"
    squeeze "$img/Barcode/$n.png" --quality 80-100
done

render menu.svg "$img/Icons/menu.png"
render orvo.svg "$img/Icons/orvo.png"
squeeze "$img/Icons/menu.png" --quality 85-100
squeeze "$img/Icons/orvo.png" --quality 85-100

echo "rendered into $img"
