#!/usr/bin/env bash
# Layout benchmark: (1) time from a client's layout request (its window
# resized with xdotool) to the first frame of the new size at the client,
# (2) server CPU for a 3840x2160 desktop of two monitors against one
# 1920x1080 monitor, with the root colour changing 20 times a second.
#
#   bench/layout_bench.sh [build dir]      # about 2 minutes; run under the e2e lock
#
# Prints one line per figure; exits 0 whatever it measures. Needs the
# freerdp-shadow-cli, bench_pixel_watch and bench_workload_colour targets.
set -u
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd) || exit 1
bin=$build/bin
tmp=$(mktemp -d)
pids=()
# LAYOUT_BENCH_KEEP=1 keeps the server and client logs.
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
            if [ -n "${LAYOUT_BENCH_KEEP:-}" ]; then echo "logs in $tmp"; else rm -rf "$tmp"; fi; }
trap cleanup EXIT

free_display() { for n in $(seq "$1" 199); do [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; return; }; done; }
xvfb() { Xvfb ":$1" -screen 0 "$2" -nolisten tcp -noreset >/dev/null 2>&1 & pids+=($!)
         for _ in $(seq 100); do xdpyinfo -display ":$1" >/dev/null 2>&1 && return; sleep 0.05; done; }
ms() { date +%s%3N; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start_server() { # display port [env...]
  local d=$1 p=$2; shift 2
  (cd "$tmp" && exec env HOME="$tmp" XDG_RUNTIME_DIR="$tmp" DISPLAY=":$d" CORVANE_PLATFORM=x11 "$@" \
     "$bin/freerdp-shadow-cli" "/port:$p" -auth /sec:tls >"$tmp/server-$p.log" 2>&1) & pids+=($!)
  server_pid=$!
  for _ in $(seq 600); do (echo >"/dev/tcp/127.0.0.1/$p") 2>/dev/null && return; sleep 0.05; done
  echo "the server on port $p does not listen" >&2
}

sd=$(free_display 150); xvfb "$sd" 8192x4096x24; DISPLAY=":$sd" xrandr --fb 1280x800 >/dev/null 2>&1
cd_=$(free_display $((sd + 1))); xvfb "$cd_" 3840x2160x24

# (1) Resize latency, five times. Each size is larger than the last, so the
# probe point (20 pixels inside the new window's far corner) lies outside the
# old desktop and only a frame of the new size can show the new colour there;
# every size is within the pixel budget, and virtual displays are asked for
# so that the desktop is the window's size (the real screen would be fitted
# with bars, where the probe may fall).
start_server "$sd" 24790 MAC_SHADOW_VIRTUAL=always
DISPLAY=":$cd_" xfreerdp3 /v:127.0.0.1:24790 /cert:ignore /sec:tls /u:x /p:x /dynamic-resolution \
  /size:1024x768 >"$tmp/client1.log" 2>&1 & client=$!; pids+=($client)
sleep 6
win=$(DISPLAY=":$cd_" xdotool search --class freerdp | head -1)
log=$tmp/server-24790.log
i=0
for size in 1200x700 1400x800 1600x900 1700x1000 1800x1100; do
  w=${size%x*}; h=${size#*x}; i=$((i + 1))
  colour=$(printf '%02x%02x%02x' $((40 * i)) $((200 - 30 * i)) 90)
  DISPLAY=":$sd" xsetroot -solid "#$colour"
  before=$(grep -c "client layout #" "$log")
  # When the server logs the client's layout request, in ms.
  ( until [ "$(grep -c "client layout #" "$log")" -gt "$before" ]; do sleep 0.005; done
    ms >"$tmp/layout-at" ) & watcher=$!
  t0=$(ms)
  DISPLAY=":$cd_" xdotool windowsize "$win" "$w" "$h"
  if DISPLAY=":$cd_" "$bin/bench_pixel_watch" --mode wait --x $((w - 20)) --y $((h - 20)) \
       --palette "$colour" --tol 8 --poll-ms 5 --seconds 15 >/dev/null 2>&1; then
    t1=$(ms)
    sleep 0.1; kill "$watcher" 2>/dev/null
    tl=$(cat "$tmp/layout-at" 2>/dev/null || echo "$t1")
    echo "resize to $size: layout request at the server after $((tl - t0)) ms," \
         "first frame of the new size at the client $((t1 - tl)) ms later ($((t1 - t0)) ms in all)"
  else
    kill "$watcher" 2>/dev/null
    echo "resize to $size: no frame of the new size within 15 s"
  fi
  rm -f "$tmp/layout-at"
  sleep 3
done
grep -E "changing the desktop to|virtual display 0: id" "$log" | sed 's/^.*\] - /  server: /'
kill "$client" "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null

# (2) CPU: one 1920x1080 monitor, then two 1920x2160 monitors (3840x2160),
# with the colour changes the client showed in the same 10 s (probed on the
# last monitor) so that CPU per frame can be compared.
palette=ff0000,00ff00,0000ff,ffff00
cpu_run() { # label port probe-x probe-y client-args...
  local label=$1 port=$2 px=$3 py=$4; shift 4
  start_server "$sd" "$port" MAC_SHADOW_MAX_PIXELS=4147200
  DISPLAY=":$cd_" xfreerdp3 "/v:127.0.0.1:$port" /cert:ignore /sec:tls /u:x /p:x "$@" \
    >"$tmp/client-$port.log" 2>&1 & local c=$!; pids+=($c)
  sleep 8
  DISPLAY=":$sd" "$bin/bench_workload_colour" --hz 20 --seconds 12 --palette "$palette" \
    >/dev/null 2>&1 &
  sleep 1
  DISPLAY=":$cd_" "$bin/bench_pixel_watch" --mode colour --x "$px" --y "$py" \
    --palette "$palette" --seconds 10 >"$tmp/seen-$port" 2>/dev/null &
  local a; a=$(ticks "$server_pid"); sleep 10; local b; b=$(ticks "$server_pid")
  wait $!
  echo "$label: server CPU $(( (b - a) * 100 / 10 / $(getconf CLK_TCK) ))% of one core" \
       "($(DISPLAY=":$sd" xdpyinfo | awk '/dimensions/{print $2}') desktop)," \
       "client saw $(sed -n 's/.*rate=\([0-9.]*\).*/\1/p' "$tmp/seen-$port") colour changes/s"
  kill "$c" "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null
}
cpu_run "one 1920x1080 monitor" 24791 960 540 /size:1920x1080
DISPLAY=":$cd_" xrandr --setmonitor L 1920/508x2160/571+0+0 none >/dev/null 2>&1
DISPLAY=":$cd_" xrandr --setmonitor R 1920/508x2160/571+1920+0 none >/dev/null 2>&1
# Xvfb's own output stays a monitor covering both: the client takes the two.
cpu_run "two 1920x2160 monitors" 24792 2880 1080 /multimon /monitors:0,1
exit 0
