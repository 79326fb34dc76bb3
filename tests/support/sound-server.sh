#!/usr/bin/env bash
# A PulseAudio server of a test's own, as on a desktop with sound: one null
# sink named "null", whose monitor gives back what was played into it
# (parec -d null.monitor). Its socket, cookie, state and log stay in folder
# $1; clients reach it with PULSE_SERVER=unix:$1/native.
# Prints "ready" once the server answers and runs until it is sent TERM;
# prints the server's log on stderr and exits 1 when it does not start.
# Used by tst_mediaplayer and tst_package (C++), tools/xsession.sh and
# tests/support/zhiweige/sound.py.
set -u
folder=$1
mkdir -p "$folder" && chmod 700 "$folder"
export HOME=$folder XDG_RUNTIME_DIR=$folder XDG_CONFIG_HOME=$folder XDG_STATE_HOME=$folder
export PULSE_SERVER=unix:$folder/native

pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-level=error \
    --load="module-null-sink sink_name=null" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$folder/native" \
    >"$folder/server.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server"; exit 0' TERM INT HUP

for _ in $(seq 400); do
    if pactl info >/dev/null 2>&1; then
        echo ready
        wait "$server"
        exit 0
    fi
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
echo "pulseaudio did not start: $(cat "$folder/server.log")" >&2
kill "$server" 2>/dev/null
exit 1
