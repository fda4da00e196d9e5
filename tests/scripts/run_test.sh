#!/usr/bin/env bash
# scripts/run tells the port the server is actually given.
set -u
source "$1"
failures=0
check() {
  local want=$1; shift
  local got
  got=$(listen_port "$@")
  if [ "$got" != "$want" ]; then
    echo "listen_port $*: got '$got', want '$want'"
    failures=$((failures + 1))
  fi
}
check 3389
check 3389 +auth /sec:tls
check 3390 /port:3390 +auth /sec:tls
check 4001 +auth /port:4000 /sec:tls /port:4001
check 3389 /bind-address:127.0.0.1 -auth
# --desktop picks the desktop to share; a wrong or missing name is refused.
check_desktop() {
  local want=$1 want_status=$2; shift 2
  local got status=0
  got=$(desktop_choice "$@" 2>/dev/null) || status=$?
  if [ "$got" != "$want" ] || [ "$status" != "$want_status" ]; then
    echo "desktop_choice $*: got '$got' (status $status), want '$want' (status $want_status)"
    failures=$((failures + 1))
  fi
}
check_desktop "" 0
check_desktop "" 0 /port:3390 +auth
check_desktop gnome 0 --desktop gnome
check_desktop gnome 0 /port:3390 --desktop gnome +auth
check_desktop "" 2 --desktop kde
check_desktop "" 2 /port:3390 --desktop
[ "$failures" -eq 0 ] && echo "listen_port, desktop_choice: all cases pass"
exit "$failures"
