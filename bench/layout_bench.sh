#!/usr/bin/env bash
# Layout benchmark: (1) time from a client's layout request (its window
# resized with xdotool) to the first frame of the new size at the client,
# (2) server CPU for a 3840x2160 desktop of two monitors against one
# 1920x1080 monitor, with the root colour changing 20 times a second.
#
#   bench/layout_bench.sh [build dir]      # about 2 minutes; run under the e2e lock
#
# Prints one line per figure; exits 0 whatever it measures.
set -u
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
bin=$build/bin
tmp=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$tmp"; }
trap cleanup EXIT

free_display() { for n in $(seq "$1" 199); do [ -e "/tmp/.X11-unix/X$n" ] || { echo "$n"; return; }; done; }
xvfb() { Xvfb ":$1" -screen 0 "$2" -nolisten tcp -noreset >/dev/null 2>&1 & pids+=($!)
         for _ in $(seq 100); do xdpyinfo -display ":$1" >/dev/null 2>&1 && return; sleep 0.05; done; }
ms() { date +%s%3N; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# The colour of one client pixel, as 6 hex digits.
pixel() { DISPLAY=$1 import -window root -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null |
          sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | tr A-F a-f; }

start_server() { # display port [env...]
  local d=$1 p=$2; shift 2
  (cd "$tmp" && env HOME="$tmp" XDG_RUNTIME_DIR="$tmp" DISPLAY=":$d" CORVANE_PLATFORM=x11 "$@" \
     "$bin/freerdp-shadow-cli" "/port:$p" -auth /sec:tls >"$tmp/server-$p.log" 2>&1) & pids+=($!)
  server_pid=$!
  for _ in $(seq 100); do (echo >"/dev/tcp/127.0.0.1/$p") 2>/dev/null && return; sleep 0.05; done
}
server_child() { pgrep -P "$server_pid" freerdp-shadow || echo "$server_pid"; }

sd=$(free_display 150); xvfb "$sd" 8192x4096x24; DISPLAY=":$sd" xrandr --fb 1280x800 >/dev/null 2>&1
cd_=$(free_display $((sd + 1))); xvfb "$cd_" 3840x2160x24

# (1) Resize latency, five times.
start_server "$sd" 34790
DISPLAY=":$cd_" xfreerdp3 /v:127.0.0.1:34790 /cert:ignore /sec:tls /u:x /p:x /dynamic-resolution \
  /size:1024x768 >"$tmp/client1.log" 2>&1 & client=$!; pids+=($client)
sleep 6
win=$(DISPLAY=":$cd_" xdotool search --class freerdp | head -1)
i=0
for size in 1200x700 1400x900 1100x800 1500x1000 1300x760; do
  w=${size%x*}; h=${size#*x}; i=$((i + 1))
  colour=$(printf '%02x%02x%02x' $((40 * i)) $((200 - 30 * i)) 90)
  DISPLAY=":$sd" xsetroot -solid "#$colour"
  t0=$(ms)
  DISPLAY=":$cd_" xdotool windowsize "$win" "$w" "$h"
  got=""
  while [ $(( $(ms) - t0 )) -lt 15000 ]; do
    [ "$(pixel ":$cd_" $((w - 20)) $((h - 20)))" = "$colour" ] && { got=$(( $(ms) - t0 )); break; }
    sleep 0.02
  done
  echo "resize to $size: first frame of the new size at the client after ${got:-timeout} ms"
  sleep 3
done
kill "$client" "$server_pid" 2>/dev/null; sleep 2

# (2) CPU: one 1920x1080 monitor, then two 1920x2160 monitors (3840x2160).
cpu_run() { # label port client-args...
  local label=$1 port=$2; shift 2
  start_server "$sd" "$port" MAC_SHADOW_MAX_PIXELS=4147200
  DISPLAY=":$cd_" xfreerdp3 "/v:127.0.0.1:$port" /cert:ignore /sec:tls /u:x /p:x "$@" \
    >"$tmp/client-$port.log" 2>&1 & local c=$!; pids+=($c)
  sleep 8
  local sp; sp=$(server_child)
  DISPLAY=":$sd" "$bin/bench_workload_colour" --hz 20 --seconds 12 \
    --palette ff0000,00ff00,0000ff,ffff00 >/dev/null 2>&1 &
  sleep 1
  local a; a=$(ticks "$sp"); sleep 10; local b; b=$(ticks "$sp")
  echo "$label: server CPU $(( (b - a) * 100 / 10 / $(getconf CLK_TCK) ))% of one core ($(DISPLAY=":$sd" xdpyinfo | awk '/dimensions/{print $2}') desktop)"
  kill "$c" "$server_pid" 2>/dev/null; sleep 3
}
cpu_run "one 1920x1080 monitor" 34791 /size:1920x1080
DISPLAY=":$cd_" xrandr --setmonitor L 1920/508x2160/571+0+0 none >/dev/null 2>&1
DISPLAY=":$cd_" xrandr --setmonitor R 1920/508x2160/571+1920+0 none >/dev/null 2>&1
cpu_run "two 1920x2160 monitors" 34792 /multimon
exit 0
