#!/usr/bin/env bash
# Builds 知微阁 and runs every test, ending with CTest's summary.
#   tools/test.sh                 build in ./build and run everything
#   BUILD_DIR=... tools/test.sh   another build folder
#   tools/test.sh -R fetcher      extra arguments go to ctest
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/tools/setup-deps.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)"

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$build/xdg-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cd "$build"
exec ctest --output-on-failure --parallel "$(nproc)" "$@"
