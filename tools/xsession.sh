# Helpers for driving the program in a virtual X display, as a person would.
# Source this file; it defines functions and starts nothing by itself.

ZHIWEI_SOUND_SERVER_HELPER=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/support" && pwd)/sound-server.sh

# Starts Xvfb with a window manager and a compositor on a free display and
# exports DISPLAY. Appends the started pids to the array named by $1.
# With --no-compositor as $2, windows are drawn straight to the screen, as on
# a desktop without one: what a window uncovers stays until it repaints.
start_virtual_display() {
    local -n started=$1
    local compositor=1
    [[ ${2:-} == --no-compositor ]] && compositor=0
    local numberfile display=
    # Xvfb picks a free display number itself and writes it out once it
    # takes connections, so two scripts starting at once never share one.
    numberfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
    started+=($!)
    for _ in $(seq 400); do
        display=$(head -n1 "$numberfile")
        [[ -n $display ]] && break
        sleep 0.05
    done
    rm -f "$numberfile"
    if [[ -z $display ]]; then
        echo "Xvfb did not start." >&2
        return 1
    fi
    export DISPLAY=":$display"
    # A window mapped while the window manager is still starting can be
    # left unmapped for good: wait until it has announced itself, however
    # busy the machine, and say so when it never does. An openbox that ends
    # as it starts says why, and is started once more.
    local wm wm_log attempt waited
    wm_log=$(mktemp)
    for attempt in 1 2; do
        openbox --sm-disable >"$wm_log" 2>&1 &
        wm=$!
        started+=("$wm")
        for ((waited = 0; waited < 1200; waited++)); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break 2
            if ! kill -0 "$wm" 2>/dev/null; then
                wait "$wm"
                echo "openbox ended as it started (exit $?, attempt $attempt) on $DISPLAY:" >&2
                cat "$wm_log" >&2
                break
            fi
            sleep 0.05
        done
        if ((waited == 1200)); then
            rm -f "$wm_log"
            echo "openbox did not start within a minute." >&2
            return 1
        fi
    done
    rm -f "$wm_log"
    if ! kill -0 "$wm" 2>/dev/null; then
        echo "openbox did not stay." >&2
        return 1
    fi
    if ((compositor)); then
        xcompmgr >/dev/null 2>&1 &
        started+=($!)
    fi
}

# Starts a PulseAudio server of its own with one null sink named "null", as
# on a desktop with sound, keeping its socket, cookie and state in folder $2,
# and exports PULSE_SERVER for the programs started after it. What they play
# is read back with: parec -d null.monitor. Appends its pid to the array
# named by $1.
start_sound_server() {
    local -n started=$1
    local folder=$2 answer=
    coproc SOUND_SERVER { exec bash "$ZHIWEI_SOUND_SERVER_HELPER" "$folder"; }
    started+=("$SOUND_SERVER_PID")
    read -r -t 30 answer <&"${SOUND_SERVER[0]}"
    if [[ $answer != ready ]]; then
        echo "pulseaudio did not start." >&2
        return 1
    fi
    export PULSE_SERVER=unix:$folder/native
}

# Whether process $1 plays a stream into the sound server, uncorked.
plays_sound() {
    pactl list sink-inputs 2>/dev/null |
        awk -v pid="$1" '/^Sink Input #/ { corked = ""; mine = 0 }
            /Corked: no/ { corked = "no" }
            $0 ~ "application.process.id = \"" pid "\"" { mine = 1 }
            mine && corked == "no" { found = 1 }
            END { exit !found }'
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
