#!/usr/bin/env bash
# Builds 知微阁 with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test under them but the compositor rows (`wayland`): those time what
# a desktop shows, and on two cores shared with the sanitized suite their
# compositors miss clicks; tools/test.sh runs them. Any report (an error,
# undefined behaviour, a leak at exit) fails its test, and so the run.
#   tools/sanitize.sh                  build in ./build-asan and run everything
#   tools/sanitize.sh -R charset       extra arguments go to ctest
# The settings are CMakePresets.json's "asan" presets.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

"$root/tools/setup-deps.sh"

cd "$root"
cmake --preset asan ${CMAKE_ARGS:-} >/dev/null
cmake --build --preset asan --parallel "$(nproc)"
exec ctest --preset asan --parallel "$(nproc)" "$@"
