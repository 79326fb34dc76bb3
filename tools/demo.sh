#!/usr/bin/env bash
# Shows 知微阁 without a screen: runs it in a virtual display against the
# offline fortune service, clicks through to one sign's fortune, and saves
# screenshots. Called by tools/run.sh; expects the service to be running.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
shots=$build/screenshots
mkdir -p "$shots"
source "$root/tools/xsession.sh"

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

echo "No display found: running 知微阁 in a virtual display."
start_virtual_display pids

"$build/bin/zhiweige" >"$shots/zhiweige.log" 2>&1 &
pids+=($!)

if splash=$(wait_for_window '^Form3$' 15); then
    sleep 1.2 # let the fade-in finish so the picture is whole
    screenshot "$shots/1-splash.png"
    click_in_window "$splash" 300 200
fi

main=$(wait_for_window '澄川知微阁 V2' 15) || {
    echo "The main window did not open; see $shots/zhiweige.log" >&2
    exit 1
}
sleep 1.5 # the version check runs one second after the window opens
screenshot "$shots/2-main-window.png"

# 白羊座: its button sits at (16, 40) in the sign frame at (16, 152), 73 x 33.
click_in_window "$main" $((16 + 16 + 36)) $((152 + 40 + 16))
sleep 2.5 # the page arrives, then the panel fills a second later
screenshot "$shots/3-aries-today.png"

# Tomorrow: the day-mode button, then 天蝎座.
click_in_window "$main" $((224 + 36)) $((152 + 8))
click_in_window "$main" $((16 + 104 + 36)) $((152 + 152 + 16))
sleep 2.5
screenshot "$shots/4-scorpio-tomorrow.png"

echo "Screenshots:"
ls -1 "$shots"/*.png | sed 's/^/  /'
