#!/usr/bin/env bash
# Measures 知微阁 beside minimal Qt Widgets programs built the same way, in
# one run, on this machine: the start, from exec to the splash on screen as
# the X server's own events tell it, beside a one-window program (the median
# of RUNS alternating starts each); memory, processor and wake-ups with the
# tune playing and with it off, beside a window playing the tune through
# Qt's media player and one playing a tone through Qt's sound output (with
# no media backend named, as the program plays from Qt 6.8 on); memory
# after queries, and processor while a query waits on a silent server. Also
# runs the benchmarks of the page cutting, of the memory after 1,000
# queries and of a page whose value is 3.9 million characters long, and
# what one client can cost the offline service on its Unix socket.
#
#   tools/measure.sh            a Release build in build-rel, 21 start-ups each
#   RUNS=41 tools/measure.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-rel
runs=${RUNS:-21}

"$root/tools/setup-deps.sh"
(cd "$root" && cmake --preset release -DZHIWEI_FORTUNE_BASE= \
    -DZHIWEI_NOTICE_URL= -DZHIWEI_MAKER_FORUM= -DZHIWEI_PARTNER_FORUM= >/dev/null)
cmake --build "$build" --parallel "$(nproc)" \
    --target zhiweige zhiwei-fortune-service window_clock minimal_window minimal_sound bench_pagecut \
    bench_memory bench_fetchwait bench_hugevalue bench_servicecrowd

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$build/xdg-runtime}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
source "$root/tools/xsession.sh"

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
start_virtual_display pids
# The music is heard, as on a desktop with sound: a PulseAudio of its own.
start_sound_server pids "$build/sound-server"

service() { # [options...]: (re)starts the offline service on the person's own socket
    if [[ -n ${service_pid:-} ]]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
    "$build/bin/zhiwei-fortune-service" "$@" >/dev/null &
    service_pid=$!
    pids+=("$service_pid")
    local status
    for _ in $(seq 100); do
        status=0
        "$build/bin/zhiwei-fortune-service" --probe >/dev/null 2>&1 || status=$?
        # Up once anything but "nothing listens": one told to hold its
        # answers back is silent to the probe, and asking again waits as long.
        ((status != 1)) && return
        sleep 0.05
    done
}
service

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
median_of() { awk -v c="$1" '{print $c}' "$2" | median; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk "/^$2:/ {print \$2}" "/proc/$1/status"; }
mib() { awk "BEGIN {printf \"%.1f MB\", $1 / 1024}"; }
# Each thread of the process: how often it went to sleep or was put off.
switches() {
    for task in /proc/"$1"/task/*; do
        echo "${task##*/} $(awk '/ctxt_switches/ {n += $2} END {print n}' "$task/status" 2>/dev/null)"
    done
}

echo "== start-up: exec to the splash on screen, from X events (median of $runs, alternating)"
floor_runs=$(mktemp) app_runs=$(mktemp)
for _ in $(seq "$runs"); do
    "$build/tests/bench/window_clock" minimal "$build/tests/bench/minimal_window" >>"$floor_runs"
    "$build/tests/bench/window_clock" Form3 "$build/bin/zhiweige" >>"$app_runs"
done
for side in floor app; do
    runs_of=${side}_runs
    printf '%s: %s ms, processor %s ms, resident %s\n' \
        "$([[ $side == floor ]] && echo 'one-window Qt program' || echo '知微阁 splash')" \
        "$(median_of 1 "${!runs_of}")" "$(median_of 2 "${!runs_of}")" "$(mib "$(median_of 3 "${!runs_of}")")"
done
echo "ratio $(awk "BEGIN {printf \"%.2f\", $(median_of 1 "$app_runs") / $(median_of 1 "$floor_runs")}")"
rm -f "$floor_runs" "$app_runs"

hz=$(getconf CLK_TCK)
seconds_of() { awk "BEGIN {printf \"%.2f s, %.2f%% of one core\", $1 / $hz, 100 * $1 / $hz / 10}"; }
# Processor ticks and wake-ups of pid $1 in the next 10 s; the wake-ups of
# the threads there at the end, from when they were there.
over_10s() {
    local ticks before
    ticks=$(cpu_ticks "$1") before=$(switches "$1")
    sleep 10
    echo "$(seconds_of $(($(cpu_ticks "$1") - ticks))), $(switches "$1" |
        awk 'NR == FNR {at[$1] = $2; next} {n += $2 - at[$1]} END {print n + 0}' \
            <(echo "$before") -) wake-ups"
}
playing() { # pid: waits until it plays into the sound server
    for _ in $(seq 200); do plays_sound "$1" && return; sleep 0.05; done
    echo "pid $1 plays nothing" >&2
    exit 1
}

echo "== the tune playing for 10 s: peak resident memory, processor"
for mode in player sink; do
    backend=()
    [[ $mode == sink ]] && backend=(QT_MEDIA_BACKEND=none)
    env "${backend[@]}" "$build/tests/bench/minimal_sound" "$mode" "$root/assets/bg.mp3" >/dev/null 2>&1 &
    minimal=$!
    playing "$minimal"
    used=$(over_10s "$minimal")
    echo "one-window program, $([[ $mode == player ]] && echo "the tune through QMediaPlayer" || echo "a tone through QAudioSink"): peak $(mib "$(rss_kib "$minimal" VmHWM)"); $used"
    kill "$minimal"
done
"$build/tests/bench/minimal_window" >/dev/null 2>&1 &
minimal=$!
"$build/bin/zhiweige" >/dev/null 2>&1 &
app_pid=$!
splash=$(wait_for_window '^Form3$' 20)
sleep 1.2
click_in_window "$splash" 300 200
main=$(wait_for_window '澄川知微阁 V2' 20)
playing "$app_pid"
sleep 2 # the version check
used=$(over_10s "$app_pid")
plays_sound "$app_pid" || { echo "知微阁's music stopped while measured" >&2; exit 1; }
echo "知微阁, main window up: peak $(mib "$(rss_kib "$app_pid" VmHWM)"); $used"
echo "one-window program idle for 10 s: $(over_10s "$minimal"), peak $(mib "$(rss_kib "$minimal" VmHWM)")"
kill "$minimal"
# Music off, to see the window's own share.
click_in_window "$main" $((312 + 88 + 36)) $((352 + 16 + 20))
for _ in $(seq 100); do plays_sound "$app_pid" || break; sleep 0.05; done
! plays_sound "$app_pid" || { echo "知微阁's music did not stop" >&2; exit 1; }
echo "知微阁 idle for 10 s, music off: $(over_10s "$app_pid"), $(pactl list short sink-inputs | wc -l) sound streams"

for sign in 0 1 2 3 4 5 6 7 8 9; do
    click_in_window "$main" $((16 + 16 + (sign % 3) * 88 + 36)) $((152 + 40 + (sign / 3) * 56 + 16))
    sleep 1.4
done
echo "知微阁 after 10 queries: resident $(mib "$(rss_kib "$app_pid" VmRSS)"), peak $(mib "$(rss_kib "$app_pid" VmHWM)")"

service --delay-ms 60000 # answers nothing for a minute
click_in_window "$main" $((16 + 104 + 36)) $((152 + 40 + 16))
sleep 0.5
echo "知微阁 waiting 10 s on a silent server: $(over_10s "$app_pid")"
kill "$app_pid"

echo "== the wait on a silent server, in isolation (bench_fetchwait)"
"$build/tests/bench/bench_fetchwait" 5000

echo "== memory after 1,000 queries (bench_memory, offscreen)"
"$build/tests/bench/bench_memory" 1000 2>/dev/null

echo "== a 3.9 M character value: completion and hover (bench_hugevalue, offscreen)"
"$build/tests/bench/bench_hugevalue" 2>/dev/null

echo "== page cutting against a single indexOf pass (bench_pagecut)"
"$build/tests/bench/bench_pagecut" --benchmark_min_time=0.5 2>/dev/null

echo "== one client against the offline service on its Unix socket (bench_servicecrowd)"
"$build/tests/bench/bench_servicecrowd" "$build/bin/zhiwei-fortune-service" all 2>/dev/null
