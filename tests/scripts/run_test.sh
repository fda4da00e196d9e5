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
[ "$failures" -eq 0 ] && echo "listen_port: all cases pass"
exit "$failures"
