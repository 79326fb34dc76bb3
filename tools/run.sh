#!/usr/bin/env bash
# Builds 知微阁 and runs it against the bundled offline fortune service, so it
# works with no internet.
#
# With a display, the program opens as usual; closing it ends the service too.
# Without one, it runs in a virtual display, clicks through to one sign's
# fortune as a person would, saves screenshots and says where they are.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build

"$root/tools/setup-deps.sh"
cd "$root"
cmake --preset default -DZHIWEI_FORTUNE_BASE= -DZHIWEI_NOTICE_URL= \
    -DZHIWEI_MAKER_FORUM= -DZHIWEI_PARTNER_FORUM= >/dev/null
cmake --build --preset program --parallel "$(nproc)"

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$build/xdg-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Whether the service answers on the socket the program will use (the
# system's, else the person's own), as its own probe tells it.
service=$build/bin/zhiwei-fortune-service
status=0
said=$("$service" --probe 2>&1) || status=$?
case $status in
0) echo "Using the fortune service that already answers: $said" ;;
1)
    "$service" &
    pids+=($!)
    for _ in $(seq 100); do
        "$service" --probe >/dev/null 2>&1 && break
        sleep 0.1
    done
    ;;
*)
    echo "The fortune service does not answer: $said" >&2
    exit 1
    ;;
esac

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
    "$build/bin/zhiweige"
    exit 0
fi

# Not exec: the service started above must be stopped when the demo ends.
"$root/tools/demo.sh" "$build"
