#!/usr/bin/env bash
# scripts/gnome-desktop brings up a headless GNOME desktop, runs the command
# in it, passes its exit status on, and leaves nothing behind (also when it
# is stopped by a signal).
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Running, not a zombie waiting to be reaped (by an init that may never).
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [[ "$state" != Z* ]]
}
# A process's start time (clock ticks since boot), empty when it is gone.
started_at() {
  sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20
}
# The children of a process as PID:START: a PID seen again later is the same
# process only with the same start time (another test's process may have
# taken the PID of a short-lived child meanwhile).
children_of() {
  local c
  for c in $(pgrep -P "$1"); do echo "$c:$(started_at "$c")"; done | tr '\n' ' '
}
# The process PID:START still runs.
still_runs() {
  local pid=${1%%:*} start=${1#*:}
  [ -n "$start" ] && [ "$(started_at "$pid")" = "$start" ] && alive "$pid"
}
# The PIDs of the given PID:START processes that still run after up to 10 s
# (a child may still be on its way out when the script returns).
left_running() {
  local left c
  for _ in $(seq 100); do
    left=""
    for c in "$@"; do still_runs "$c" && left="$left ${c%%:*}"; done
    [ -z "$left" ] && break
    sleep 0.1
  done
  echo "$left"
}

# 1. The command sees the desktop: its variables, the bus names, the sound
#    server, a private runtime folder; its exit status comes back.
cat >"$work/probe.sh" <<'PROBE'
set -u
for v in WAYLAND_DISPLAY XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS PULSE_SERVER; do
  [ -n "${!v:-}" ] || { echo "no $v"; exit 1; }
done
[ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || { echo "no Wayland socket"; exit 1; }
[ "$(stat -c %a "$XDG_RUNTIME_DIR")" = 700 ] || { echo "runtime folder not 0700"; exit 1; }
[ -z "${DISPLAY:-}" ] || { echo "DISPLAY leaked in"; exit 1; }
for name in org.gnome.Mutter.ScreenCast org.gnome.Mutter.RemoteDesktop; do
  gdbus introspect --session --dest "$name" --object-path "/${name//.//}" >/dev/null ||
    { echo "$name missing"; exit 1; }
done
pactl info >/dev/null || { echo "no PulseAudio service"; exit 1; }
echo "$XDG_RUNTIME_DIR $HOME" >"$OUT"
exit 7
PROBE
OUT="$work/seen" DISPLAY=:99 timeout 120 "$script" --size 800x600 -- bash "$work/probe.sh"
status=$?
[ "$status" = 7 ] || fail "exit status $status, want the command's 7"
if [ -s "$work/seen" ]; then
  read -r runtime home <"$work/seen"
  [ ! -e "$runtime" ] || fail "runtime folder $runtime left behind"
  [ ! -e "$home" ] || fail "HOME $home left behind"
else
  fail "the command did not run"
fi

# 2. A signal stops the command and the desktop; the env file tells where
#    the desktop is, and the given folders are kept.
mkdir -p "$work/run" "$work/home"
timeout 120 "$script" --runtime-dir "$work/run" --home "$work/home" --env-file "$work/env" \
  -- sleep 300 &
pid=$!
for _ in $(seq 300); do [ -s "$work/env" ] && break; sleep 0.1; done
if [ -s "$work/env" ]; then
  grep -q "^XDG_RUNTIME_DIR=$work/run$" "$work/env" || fail "env file: wrong runtime folder"
  grep -q '^WAYLAND_DISPLAY=wayland-' "$work/env" || fail "env file: no WAYLAND_DISPLAY"
  inner=$(cat "$work/run/gnome-desktop.pid")
  children=$(children_of "$inner")
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  [ "$status" = 143 ] || fail "stopped by SIGTERM: status $status, want 143"
  # The signal reached the whole process group at once: the children end on
  # their own while the script stops them.
  # shellcheck disable=SC2086
  for c in $(left_running $children); do fail "process $c ($(ps -o args= -p "$c")) still runs"; done
  if [ ! -d "$work/run" ] || [ ! -d "$work/home" ]; then fail "given folders were removed"; fi
else
  fail "the desktop did not become ready"
  kill -TERM "$pid" 2>/dev/null
  wait "$pid"
fi

# 3. Killed outright (as a test harness kills what a dying test started), the
#    script leaves nothing running either.
rm -f "$work/env"
# (Folders it made itself would stay behind: it gets none to make here.)
mkdir -p "$work/run3" "$work/home3"
"$script" --runtime-dir "$work/run3" --home "$work/home3" --env-file "$work/env" -- sleep 300 &
pid=$!
for _ in $(seq 300); do [ -s "$work/env" ] && break; sleep 0.1; done
if [ -s "$work/env" ]; then
  inner=$(cat "$work/run3/gnome-desktop.pid")
  children="$inner:$(started_at "$inner") $(children_of "$inner")"
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null
  # shellcheck disable=SC2086
  left=$(left_running $children)
  [ -z "$left" ] || fail "after SIGKILL, still running:$(for c in $left; do echo -n " $(ps -o args= -p "$c")"; done)"
else
  fail "the desktop did not become ready (third start)"
  kill -KILL "$pid"
fi

[ "$failures" -eq 0 ] && echo "gnome-desktop: all cases pass"
exit "$failures"
