#!/usr/bin/env bash
# Builds 知微阁 and runs it against the bundled offline fortune service, so it
# works with no internet.
#
# With a display, the program opens as usual; closing it ends the service too.
# Without one, it runs in a virtual display, clicks through to one sign's
# fortune as a person would, saves screenshots and says where they are.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build}
port=${ZHIWEI_SERVICE_PORT:-18231}

"$root/tools/setup-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DZHIWEI_SERVICE_PORT="$port" -DZHIWEI_FORTUNE_BASE= -DZHIWEI_NOTICE_URL= \
    -DZHIWEI_MAKER_FORUM= -DZHIWEI_PARTNER_FORUM= >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target zhiweige zhiwei-fortune-service

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$build/xdg-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

if curl -fsS "http://127.0.0.1:$port/kwgamejc/xz/jc.txt" >/dev/null 2>&1; then
    echo "Using the fortune service already listening on port $port."
else
    "$build/bin/zhiwei-fortune-service" --port "$port" &
    pids+=($!)
    for _ in $(seq 100); do
        curl -fsS "http://127.0.0.1:$port/kwgamejc/xz/jc.txt" >/dev/null 2>&1 && break
        sleep 0.1
    done
fi

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
    "$build/bin/zhiweige"
    exit 0
fi

# Not exec: the service started above must be stopped when the demo ends.
"$root/tools/demo.sh" "$build"
