#!/usr/bin/env bash
# Measures 知微阁 beside a minimal Qt Widgets program, in one run, on this
# machine: start-up to the first window on screen, memory, and processor time
# while idle with the music heard through a sound server and with it off, and
# while a query waits on a silent server. Also runs the benchmarks of the
# page cutting, of the memory after 1,000 queries and of a page whose value
# is 3.9 million characters long, and what one client can cost the offline
# service on its Unix socket.
#
#   tools/measure.sh            a Release build in build-rel, 10 start-ups each
#   RUNS=20 tools/measure.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build-rel
runs=${RUNS:-10}

"$root/tools/setup-deps.sh"
(cd "$root" && cmake --preset release -DZHIWEI_FORTUNE_BASE= \
    -DZHIWEI_NOTICE_URL= -DZHIWEI_MAKER_FORUM= -DZHIWEI_PARTNER_FORUM= >/dev/null)
cmake --build "$build" --parallel "$(nproc)" \
    --target zhiweige zhiwei-fortune-service minimal_window bench_pagecut bench_memory bench_fetchwait \
    bench_hugevalue bench_servicecrowd

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
    for _ in $(seq 100); do
        "$build/bin/zhiwei-fortune-service" --probe >/dev/null 2>&1 && return
        sleep 0.05
    done
}
service

now_ms() { date +%s%3N; }

# Milliseconds from exec to a visible window named $1, for the command after it.
time_to_window() {
    local name=$1; shift
    local start end pid
    start=$(now_ms)
    "$@" >/dev/null 2>&1 &
    pid=$!
    until xdotool search --onlyvisible --name "$name" >/dev/null 2>&1; do sleep 0.002; done
    end=$(now_ms)
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    echo $((end - start))
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk "/^$2:/ {print \$2}" "/proc/$1/status"; }

echo "== start-up: exec to the first window on screen (median of $runs, alternating)"
app_times=() floor_times=()
for _ in $(seq "$runs"); do
    floor_times+=("$(time_to_window '^minimal$' "$build/tests/bench/minimal_window")")
    app_times+=("$(time_to_window '^Form3$' "$build/bin/zhiweige")")
done
floor=$(printf '%s\n' "${floor_times[@]}" | median)
app=$(printf '%s\n' "${app_times[@]}" | median)
echo "minimal Qt window: $floor ms; 知微阁 splash: $app ms; ratio $(awk "BEGIN {printf \"%.2f\", $app / $floor}")"

echo "== memory and processor of the running program"
"$build/tests/bench/minimal_window" >/dev/null 2>&1 &
minimal=$!
"$build/bin/zhiweige" >/dev/null 2>&1 &
app_pid=$!
splash=$(wait_for_window '^Form3$' 20)
sleep 1.2
click_in_window "$splash" 300 200
main=$(wait_for_window '澄川知微阁 V2' 20)
sleep 2 # the version check
for sign in 0 1 2 3 4 5 6 7 8 9; do
    click_in_window "$main" $((16 + 16 + (sign % 3) * 88 + 36)) $((152 + 40 + (sign / 3) * 56 + 16))
    sleep 1.4
done
echo "minimal Qt window: peak resident $(rss_kib "$minimal" VmHWM) KiB"
echo "知微阁 after 10 queries: resident $(rss_kib "$app_pid" VmRSS) KiB, peak $(rss_kib "$app_pid" VmHWM) KiB"

hz=$(getconf CLK_TCK)
seconds_of() { awk "BEGIN {printf \"%.2f s, %.2f%% of one core\", $1 / $hz, 100 * $1 / $hz / 10}"; }
cpu_over_10s() { # pid: processor ticks used in the next 10 s
    local before after
    before=$(cpu_ticks "$1")
    sleep 10
    after=$(cpu_ticks "$1")
    echo $((after - before))
}
echo "minimal Qt window idle for 10 s: $(seconds_of "$(cpu_over_10s "$minimal")")"
kill "$minimal"

plays_sound "$app_pid" || { echo "知微阁's music is not heard: no uncorked stream" >&2; exit 1; }
ticks=$(cpu_over_10s "$app_pid")
plays_sound "$app_pid" || { echo "知微阁's music stopped while measured" >&2; exit 1; }
echo "知微阁 idle for 10 s, music playing through the sound server: $(seconds_of "$ticks")"
# Music off, to see the window's own share.
click_in_window "$main" $((312 + 88 + 36)) $((352 + 16 + 20))
for _ in $(seq 100); do plays_sound "$app_pid" || break; sleep 0.05; done
! plays_sound "$app_pid" || { echo "知微阁's music did not stop" >&2; exit 1; }
echo "知微阁 idle for 10 s, music off: $(seconds_of "$(cpu_over_10s "$app_pid")")"

service --delay-ms 60000 # answers nothing for a minute
click_in_window "$main" $((16 + 104 + 36)) $((152 + 40 + 16))
sleep 0.5
echo "知微阁 waiting 10 s on a silent server: $(seconds_of "$(cpu_over_10s "$app_pid")")"
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
