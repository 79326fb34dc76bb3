#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on a fresh
# copy of its seeds, then prints libFuzzer's final figures for each.
#   tools/fuzz.sh               60 seconds each, in ./build-fuzz
#   tools/fuzz.sh 600           ten minutes each
# The settings are CMakePresets.json's "fuzz" presets.
# A crashing input is kept in <build>/tests/fuzz/run/<name>/ beside the log;
# replay it with <build>/tests/fuzz/fuzz_<name> <file>.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
build=$root/build-fuzz

"$root/tools/setup-deps.sh"

cd "$root"
cmake --preset fuzz -DZHIWEI_FUZZ_SECONDS="$seconds" >/dev/null
if ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' "$build/CMakeCache.txt"; then
    echo "fuzz.sh: $build was configured with another compiler than clang++; remove it" >&2
    exit 1
fi
cmake --build --preset fuzz --parallel "$(nproc)"

status=0
ctest --preset fuzz --parallel "$(nproc)" || status=$?
cd "$build"

for log in tests/fuzz/run/*/fuzz.log; do
    [[ -f $log ]] || continue
    name=$(basename "$(dirname "$log")")
    echo "== fuzz_$name, $seconds s"
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::|^SUMMARY|^==[0-9]+==ERROR' "$log" || true
    found=$(find "$(dirname "$log")" -maxdepth 1 -name 'crash-*' -o -maxdepth 1 -name 'leak-*' \
        -o -maxdepth 1 -name 'timeout-*' -o -maxdepth 1 -name 'oom-*' | sort)
    echo "findings: ${found:-none}"
done
exit "$status"
