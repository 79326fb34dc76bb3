#!/usr/bin/env bash
# Runs a Qt test binary on the xcb platform inside a fresh virtual display
# (Xvfb, openbox, xcompmgr) and stops everything it started on the way out.
# Usage: run-in-x.sh [--no-compositor] <path to xsession.sh> <test binary> [test arguments...]
set -u

display_options=()
if [[ ${1:-} == --no-compositor ]]; then
    display_options+=(--no-compositor)
    shift
fi
session=$1
shift

if ! command -v Xvfb >/dev/null 2>&1 || ! command -v openbox >/dev/null 2>&1; then
    # The test reports the skip itself when it finds no X display.
    QT_QPA_PLATFORM=offscreen exec "$@"
fi

# shellcheck source=../../tools/xsession.sh
source "$session"

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
}
trap cleanup EXIT

: "${XDG_RUNTIME_DIR:=$(mktemp -d)}"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR

start_virtual_display pids "${display_options[@]}" || exit 1

# Windows shown before the window manager runs get their frame late; wait
# until it has announced itself on the root window.
for _ in $(seq 100); do
    command -v xprop >/dev/null 2>&1 || break
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

QT_QPA_PLATFORM=xcb "$@"
