# Helpers for driving the program in a virtual X display, as a person would.
# Source this file; it defines functions and starts nothing by itself.

# Starts Xvfb with a window manager and a compositor on a free display and
# exports DISPLAY. Appends the started pids to the array named by $1.
start_virtual_display() {
    local -n started=$1
    local display server
    for display in $(seq 90 140); do
        [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]] && continue
        Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
        server=$!
        export DISPLAY=":$display"
        for _ in $(seq 100); do
            xdpyinfo >/dev/null 2>&1 && break
            kill -0 "$server" 2>/dev/null || break
            sleep 0.05
        done
        # Another server may have taken the number meanwhile: try the next.
        if ! kill -0 "$server" 2>/dev/null || ! xdpyinfo >/dev/null 2>&1; then
            kill "$server" 2>/dev/null || true
            continue
        fi
        started+=("$server")
        openbox --sm-disable >/dev/null 2>&1 &
        started+=($!)
        # A window mapped while the window manager is still starting can be
        # left unmapped for good: wait until it has announced itself.
        for _ in $(seq 200); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
            sleep 0.05
        done
        xcompmgr >/dev/null 2>&1 &
        started+=($!)
        return 0
    done
    echo "No free X display found." >&2
    return 1
}

# Prints the id of the first visible window whose name matches, waiting up to
# $2 seconds (default 10).
wait_for_window() {
    local name=$1 timeout=${2:-10} id
    local tries=$((timeout * 10))
    for _ in $(seq "$tries"); do
        id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n1 || true)
        if [[ -n $id ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Clicks at (x, y) inside the window's client area.
click_in_window() {
    local window=$1 x=$2 y=$3
    xdotool mousemove --window "$window" "$x" "$y" click 1
}

# Saves a picture of the whole screen.
screenshot() {
    import -window root "$1"
}
