#!/usr/bin/env bash
# Regenerates every picture in assets/ from the SVG sources in assets/src/:
# builds tools/assetgen on its own in a temporary folder, renders each PNG at
# its exact size and copies the scalable icon. Safe to run again at any time;
# run from anywhere.
#
# Needs: cmake, a C++20 compiler, Qt 6 (Core, Gui, Svg) and the fonts
# "WenQuanYi Micro Hei" (fonts-wqy-microhei) and "DejaVu Sans"/"DejaVu Serif"
# (fonts-dejavu-core). The renderer refuses to run if a font is missing.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SRC="$ROOT/assets/src"
OUT="$ROOT/assets"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/zhiwei-assetgen.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

echo "building zhiwei_assetgen in $WORK/build"
cmake -S "$ROOT/tools/assetgen" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release >"$WORK/cmake.log" 2>&1 \
    || { cat "$WORK/cmake.log" >&2; exit 1; }
cmake --build "$WORK/build" --parallel 2 >"$WORK/build.log" 2>&1 \
    || { cat "$WORK/build.log" >&2; exit 1; }
GEN="$WORK/build/zhiwei_assetgen"

# Headless rendering; a private runtime dir keeps Qt quiet.
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

render() { # [flags...] source.svg target.png width height
    "$GEN" "$@"
    echo "  ${*: -3:1} (${*: -2:1}x${*: -1:1})"
}

echo "rendering into $OUT"
# Every window picture also comes at twice the size, for screens that scale
# by 2: the program picks "name@2x.png" there, so nothing is blown up blurred.
render "$SRC/star.svg" "$OUT/star.png" 18 18
render "$SRC/star.svg" "$OUT/star@2x.png" 36 36
render --mono "$SRC/hand.svg" "$OUT/hand.png" 32 32
render --mono "$SRC/hand.svg" "$OUT/hand@2x.png" 64 64
render --opaque "$SRC/splash.svg" "$OUT/splash.png" 600 395
render --opaque "$SRC/splash.svg" "$OUT/splash@2x.png" 1200 790

for sign in aries taurus gemini cancer leo virgo libra scorpio sagittarius capricorn aquarius pisces; do
    render --opaque "$SRC/signs/$sign.svg" "$OUT/signs/$sign.png" 160 95
    render --opaque "$SRC/signs/$sign.svg" "$OUT/signs/$sign@2x.png" 320 190
done

# Small icon sizes use the simplified drawing, larger ones the full one.
for size in 16 24 32; do
    render "$SRC/icon-small.svg" "$OUT/icon/zhiweige-$size.png" "$size" "$size"
done
for size in 48 64 128 256; do
    render "$SRC/icon.svg" "$OUT/icon/zhiweige-$size.png" "$size" "$size"
done
cp "$SRC/icon.svg" "$OUT/icon/zhiweige.svg"
echo "  $OUT/icon/zhiweige.svg (copy of assets/src/icon.svg)"

echo "done"
