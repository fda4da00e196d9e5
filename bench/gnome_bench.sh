#!/usr/bin/env bash
# Our server on a GNOME desktop: a private headless GNOME desktop
# (scripts/gnome-desktop) showing one full-screen window, our server sharing
# it through the gnome backend, the real FreeRDP client on an Xvfb of its own.
# Once the client shows the picture and a settling pause passed, the server's
# CPU time is read from /proc/PID/stat over a window and printed as a share of
# one core (mutter's beside it). Run it under flock /tmp/corvane-e2e.lock,
# like the end-to-end tests.
#
#   bench/gnome_bench.sh [BUILD_DIR] [SECONDS]     (defaults: build, 10)
#
# BENCH_WORKLOAD=idle (default): the window keeps one colour; the desktop is
# 1280x800 and the client 1024x768.
# BENCH_WORKLOAD=colour: the window changes colour BENCH_HZ times a second
# (default 20) through a palette; the desktop and the client are BENCH_SIZE
# (default 1920x1080), and bench_pixel_watch counts the changes the client
# shows over the same window: the share delivered and the server's CPU per
# delivered change.
# BENCH_KEEP=1 keeps the logs (the server's, the client's, the desktop's).
# Environment also: BENCH_DISPLAY (client Xvfb, default 391), BENCH_PORT
# (24591), BENCH_AUDIO (the server's MAC_SHADOW_AUDIO, default 1: the
# desktop's sound is captured from PipeWire's PulseAudio service as shipped).
# The function run by traps is invisible to shellcheck.
# shellcheck disable=SC2317
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

# Runs inside the desktop: WAYLAND_DISPLAY, the bus and PULSE_SERVER are set.
inner() {
  pids=() # global: the EXIT trap runs after inner returned
  finish() { # what does not end on SIGTERM within 3 s gets SIGKILL
    local p tries=30
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    while [ "$tries" -gt 0 ] && [ -n "$(jobs -rp)" ]; do
      sleep 0.1
      tries=$((tries - 1))
    done
    for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
  }
  trap finish EXIT
  cpu_ticks() { # utime + stime of a process, in clock ticks
    local stat
    stat=$(cat "/proc/$1/stat")
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- $stat
    echo $((${12} + ${13}))
  }
  poll() { # poll SECONDS COMMAND...
    local tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do "$@" && return 0; sleep 0.1; tries=$((tries - 1)); done
    return 1
  }
  local client_size=$size window_args=(--colour 2E8B57)
  [ "$workload" = idle ] && client_size=1024x768
  [ "$workload" = colour ] && window_args=(--cycle "$palette" --hz "$hz")
  Xvfb ":$display" -screen 0 "$(xvfb_size "$client_size")x24" -nolisten tcp >"$work/logs/xvfb.log" 2>&1 &
  pids+=($!)
  poll 10 test -S "/tmp/.X11-unix/X$display" || { echo "no Xvfb" >&2; return 1; }
  QT_QPA_PLATFORM=wayland "$build/bin/corvane-probe-window" "${window_args[@]}" \
    --log "$work/logs/window.log" >/dev/null 2>&1 &
  pids+=($!)
  poll 30 grep -q mapped "$work/logs/window.log" || { echo "no window" >&2; return 1; }
  HOME="$work/server" XDG_CONFIG_HOME="$work/server/config" CORVANE_PLATFORM=gnome DISPLAY="" \
    MAC_SHADOW_AUDIO="${BENCH_AUDIO:-1}" \
    "$build/bin/freerdp-shadow-cli" "/port:$port" -auth /sec:tls >"$work/logs/server.log" 2>&1 &
  local server=$!
  pids+=("$server")
  poll 30 grep -q "capture waits for the first client\|has started" "$work/logs/server.log" ||
    poll 20 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null || { echo "no server" >&2; return 1; }
  DISPLAY=":$display" HOME="$work/server" xfreerdp3 "/v:127.0.0.1:$port" /cert:ignore /sec:tls \
    /u:x /p:x "/size:$client_size" -decorations >"$work/logs/client.log" 2>&1 &
  pids+=($!)
  poll 30 grep -q "client ready" "$work/logs/server.log" || { echo "no client" >&2; tail "$work/logs/server.log" >&2; return 1; }
  # The client's first seconds (full frames, codec set-up) are not steady.
  sleep 5
  local mutter hz_ticks s0 m0 s1 m1 watch=""
  mutter=$(cat "$XDG_RUNTIME_DIR/mutter.pid")
  hz_ticks=$(getconf CLK_TCK)
  threads() { # TID NAME TICKS of each of the server's threads
    local t
    for t in /proc/"$server"/task/*; do
      printf '%s %s %s\n' "${t##*/}" "$(tr ' ' _ <"$t/comm")" "$(cpu_ticks "$server/task/${t##*/}")"
    done
  }
  if [ "$workload" = colour ]; then
    DISPLAY=":$display" "$build/bin/bench_pixel_watch" --mode colour --x 200 --y 200 \
      --palette "$palette" --seconds "$seconds" >"$work/watch.out" 2>"$work/logs/watch.log" &
    watch=$!
  fi
  s0=$(cpu_ticks "$server")
  m0=$(cpu_ticks "$mutter")
  threads >"$work/threads0"
  sleep "$seconds"
  s1=$(cpu_ticks "$server")
  m1=$(cpu_ticks "$mutter")
  threads >"$work/threads1"
  # Where the server's time went, busiest thread first.
  join <(sort "$work/threads0") <(sort "$work/threads1") |
    awk '$5 - $3 > 0 { printf "  thread %s (%s): %d ticks\n", $1, $2, $5 - $3 }' | sort -t: -k2 -rn
  kill -0 "$server" || { echo "the server ended" >&2; return 1; }
  grep -o "are encoded with [A-Za-z0-9]*" "$work/logs/server.log" | head -1 | sed 's/^/  frames /'
  local changes=0
  if [ -n "$watch" ]; then
    wait "$watch" || { echo "the watcher failed" >&2; cat "$work/logs/watch.log" >&2; return 1; }
    changes=$(sed -n 's/.*changes=\([0-9]*\).*/\1/p' "$work/watch.out")
  fi
  LC_ALL=C awk -v s=$((s1 - s0)) -v m=$((m1 - m0)) -v hz="$hz_ticks" -v t="$seconds" \
    -v w="$workload" -v size="$size" -v rate="$hz" -v c="${changes:-0}" 'BEGIN {
    printf "%s over %d s at %s, one client: server %.2f %% of a core (%d ticks at %d Hz), mutter %.2f %%\n",
      w, t, size, 100 * s / hz / t, s, hz, 100 * m / hz / t
    if (w == "colour")
      printf "colour: the window changed %d times a second; the client showed %.1f a second (%.0f %%), %.1f ms of server CPU per change shown\n",
        rate, c / t, 100 * c / t / rate, (c > 0 ? 1000 * s / hz / c : 0) }'
}

# An Xvfb screen a little larger than the client's window.
xvfb_size() {
  local w=${1%x*} h=${1#*x}
  echo "$((w + 64))x$((h + 64))"
}

workload=${BENCH_WORKLOAD:-idle}
hz=${BENCH_HZ:-20}
palette=ff0000,00ff00,0000ff,ffff00,00ffff,ff00ff,ffffff,808080
case "$workload" in
  idle) size=1280x800 ;;
  colour) size=${BENCH_SIZE:-1920x1080} ;;
  *) echo "gnome_bench: BENCH_WORKLOAD is idle or colour" >&2; exit 2 ;;
esac
if [ "${1:-}" = "--inner" ]; then
  build=$2 seconds=$3 display=$4 port=$5 work=$6
  inner
  exit
fi
build=$(cd "${1:-$here/build}" && pwd)
seconds=${2:-10}
display=${BENCH_DISPLAY:-391}
port=${BENCH_PORT:-24591}
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-gnome-bench.XXXXXX")
if [ -n "${BENCH_KEEP:-}" ]; then
  echo "gnome_bench: logs stay in $work/logs"
else
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/desktop-run" "$work/desktop-home" "$work/server" "$work/logs"
"$here/scripts/gnome-desktop" --size "$size" --runtime-dir "$work/desktop-run" \
  --home "$work/desktop-home" --log-dir "$work/logs" -- \
  bash "$0" --inner "$build" "$seconds" "$display" "$port" "$work"
