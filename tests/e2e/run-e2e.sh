#!/usr/bin/env bash
# Runs the end-to-end suite: a session bus (for the accessibility tree), a
# virtual display with a window manager and a compositor, then the Python
# harness, which starts the fortune service and the program itself.
# Everything started here is stopped on the way out, also on failure.
#
# Usage: run-e2e.sh --session <tools/xsession.sh> --service <zhiwei-fortune-service>
#                   --program <zhiweige> --shots <folder>
#                   --lane <name> <unittest names>... [--lane ...]
# runs the lanes side by side, each with its own display, bus and runtime
# folder (under $XDG_RUNTIME_DIR; the service's socket is made there) and its
# screenshots in <folder>/<name>, and fails when any lane fails. One lane on
# its own, as each lane runs:
#        run-e2e.sh --session ... --service ... --program <zhiweige>
#                   --shots <folder> [-- unittest names, e.g. FortuneTest]
# Exits 77 (a skip to CTest) when a tool it needs is not installed.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
args=("$@")
session='' program='' service='' shots='' inside=0
# A lane each: its name and its unittest names (one word each).
lane_names=() lane_tests=()
while (($#)); do
    case $1 in
    --session) session=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --service) service=$2; shift 2 ;;
    --shots) shots=$2; shift 2 ;;
    --inside) inside=1; shift ;;
    --lane)
        lane_names+=("$2")
        shift 2
        tests=''
        while (($#)) && [[ $1 != --* ]]; do tests+=" $1"; shift; done
        lane_tests+=("$tests")
        ;;
    --) shift; break ;;
    *) echo "run-e2e.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
unittest_args=("$@")

# Debian's own interpreter: the accessibility bindings are installed for it.
python=/usr/bin/python3

# Each lane in the background, its lines marked with its name; the run fails
# when one lane fails, and is skipped only when every lane is.
run_lanes() {
    local name pids=() status=0 skipped=0 i
    local runtime=${XDG_RUNTIME_DIR:-$(mktemp -d)}
    for i in "${!lane_names[@]}"; do
        name=${lane_names[i]}
        mkdir -p "$runtime/$name"
        # shellcheck disable=SC2086 # the unittest names, one word each
        XDG_RUNTIME_DIR=$runtime/$name bash "${BASH_SOURCE[0]}" --session "$session" \
            --service "$service" --program "$program" \
            --shots "$shots/$name" -- ${lane_tests[i]} \
            > >(sed -u "s/^/[$name] /") 2> >(sed -u "s/^/[$name] /" >&2) &
        pids+=($!)
    done
    trap 'kill -TERM "${pids[@]}" 2>/dev/null; wait; exit 143' TERM INT
    for i in "${!pids[@]}"; do
        wait "${pids[i]}"
        case $? in
        0) ;;
        77) skipped=$((skipped + 1)) ;;
        *) status=1; echo "run-e2e.sh: lane ${lane_names[i]} failed" >&2 ;;
        esac
    done
    wait # the marking of the last lines
    if ((status == 0 && skipped == ${#lane_names[@]})); then
        return 77
    fi
    return $status
}

if ((!inside)); then
    missing=()
    for tool in Xvfb openbox xcompmgr xdotool xclip xprop xwininfo xdpyinfo import compare \
        dbus-run-session xdg-open; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    [[ -x /usr/libexec/at-spi-bus-launcher ]] || missing+=("at-spi2-core")
    if ! "$python" -c 'import gi; gi.require_version("Atspi", "2.0")' >/dev/null 2>&1; then
        missing+=("python3-gi gir1.2-atspi-2.0")
    fi
    if ((${#missing[@]})); then
        echo "SKIPPED: the end-to-end suite needs ${missing[*]}; tools/setup-deps.sh installs them."
        exit 77
    fi
    for file in "$program" "$service"; do
        if [[ ! -x $file ]]; then
            echo "run-e2e.sh: $file is not built" >&2
            exit 2
        fi
    done
    if ((${#lane_names[@]})); then
        run_lanes
        exit
    fi
    # A bus of its own: the accessibility bus hangs off it and ends with it.
    # The bus daemons' chatter goes to a log; the suite's own output to fd 3.
    mkdir -p "$shots"
    exec 3>&2
    exec dbus-run-session -- bash "${BASH_SOURCE[0]}" --inside "${args[@]}" 2>"$shots/bus.log"
fi

exec 2>&3 3>&-

# shellcheck source=../../tools/xsession.sh
source "$session"

pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
    done
    wait 2>/dev/null
}
trap cleanup EXIT
trap 'exit 143' TERM INT

: "${XDG_RUNTIME_DIR:=$(mktemp -d)}"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export XDG_RUNTIME_DIR

pids=()
start_virtual_display pids || exit 1

mkdir -p "$shots"
rm -f "$shots"/*.png "$shots"/*.geometry
rm -rf "$shots/logs"
mkdir -p "$shots/logs"

export ZHIWEI_E2E_PROGRAM=$program ZHIWEI_E2E_SERVICE=$service
export ZHIWEI_E2E_SHOTS=$shots PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$here/../support
cd "$here" || exit 1
# The accessibility bus and its registry up before any program, as on a
# desktop session: a program never waits on their start on a busy machine.
"$python" -c 'import gi; gi.require_version("Atspi", "2.0")
from gi.repository import Atspi; Atspi.get_desktop(0).get_child_count()' || exit 1
# In the background, so that a TERM from CTest's timeout reaches the trap at
# once; the harness then stops what it started before the display goes.
"$python" -u zhiweige_e2e.py "${unittest_args[@]}" &
harness=$!
trap 'kill -TERM "$harness" 2>/dev/null; wait "$harness"; exit 143' TERM INT
wait "$harness"
status=$?
echo "Screenshots and logs: $shots"
exit $status
