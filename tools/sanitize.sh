#!/usr/bin/env bash
# Builds 知微阁 with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test under them but the compositor rows (`wayland`): those time what
# a desktop shows, and on two cores shared with the sanitized suite their
# compositors miss clicks; tools/test.sh runs them. Any report (an error,
# undefined behaviour, a leak at exit) fails its test, and so the run.
#   tools/sanitize.sh                  build in ./build-asan and run everything
#   BUILD_DIR=... tools/sanitize.sh    another build folder
#   tools/sanitize.sh -R charset       extra arguments go to ctest
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-asan}

"$root/tools/setup-deps.sh"

# Debug compiles fastest, and at -O0 the reports keep every frame.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZHIWEI_SANITIZE=ON \
    -DZHIWEI_BUILD_BENCHMARKS=OFF ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --parallel "$(nproc)"

# Only third-party one-time allocations are suppressed; the file says why.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:check_initialization_order=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$build/xdg-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cd "$build"
exec ctest --output-on-failure --parallel "$(nproc)" -E wayland "$@"
