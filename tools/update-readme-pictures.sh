#!/usr/bin/env bash
# Makes the README's pictures in docs/ from the screenshots the end-to-end
# suite's lanes leave in <build>/e2e-screenshots/<lane>, each cut to its window.
#   tools/update-readme-pictures.sh [build folder, default ./build]
# Run the suite first: ctest --test-dir <build> -L e2e
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
docs=$root/docs

if ! command -v convert >/dev/null 2>&1; then
    echo "update-readme-pictures.sh: needs ImageMagick's convert (tools/setup-deps.sh installs it)" >&2
    exit 1
fi

# picture in docs/ : the screenshot it is cut from
pictures=(
    "main-window:e2e-screenshots/today/fortune-today"
    "splash:e2e-screenshots/start/splash"
    "share-menu:e2e-screenshots/fortune/share-menu"
)

for shot in "${pictures[@]}"; do
    source=$build/${shot#*:}
    if [[ ! -f $source.png || ! -f $source.geometry ]]; then
        echo "update-readme-pictures.sh: no $source.png with its .geometry;" \
            "run the end-to-end suite first: ctest --test-dir $build -L e2e" >&2
        exit 1
    fi
done

mkdir -p "$docs"
for shot in "${pictures[@]}"; do
    name=${shot%%:*}
    source=$build/${shot#*:}
    # 256 colours keep them small; the pictures are flat but for the sign
    # artwork, which dithering keeps smooth.
    convert "$source.png" -crop "$(tr -d '\n' <"$source.geometry")" +repage \
        -strip -dither FloydSteinberg -colors 256 \
        -define png:compression-level=9 -define png:exclude-chunks=date,time \
        "PNG8:$docs/$name.png"
    echo "$docs/$name.png: $(identify -format '%wx%h' "$docs/$name.png"), $(du -h "$docs/$name.png" | cut -f1)"
done
