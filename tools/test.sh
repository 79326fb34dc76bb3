#!/usr/bin/env bash
# Builds 知微阁 and runs every test, ending with CTest's summary.
#   tools/test.sh                 build in ./build and run everything
#   tools/test.sh -R fetcher      extra arguments go to ctest
# The settings are CMakePresets.json's "default" presets, which an IDE or
# `cmake --preset default` use as well.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup-deps.sh"

cd "$root"
cmake --preset default ${CMAKE_ARGS:-} >/dev/null
cmake --build --preset default --parallel "$(nproc)"
exec ctest --preset default --parallel "$(nproc)" "$@"
