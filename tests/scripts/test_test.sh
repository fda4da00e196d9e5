#!/usr/bin/env bash
# scripts/test names the tests that passed only on their second try, with
# stand-ins for cmake and ctest that print ctest's lines.
set -u
script=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '#!/bin/sh\nexit 0\n' >"$dir/cmake"
printf '#!/bin/sh\ncat "$LINES"\nexit "$STATUS"\n' >"$dir/ctest"
chmod +x "$dir/cmake" "$dir/ctest"
failures=0
# check STATUS WANT LINES: the last line of the run and its status.
check() {
  printf '%s\n' "$3" >"$dir/lines"
  local got status=0
  PATH="$dir:$PATH" LINES="$dir/lines" STATUS=$1 CORVANE_BUILD_DIR="$dir" \
    "$script" --plain >"$dir/out" 2>&1 || status=$?
  got=$(tail -1 "$dir/out")
  [ "$got" = "$2" ] || { echo "got '$got', want '$2'"; failures=$((failures + 1)); }
  [ "$status" = "$1" ] || { echo "status $status, want $1"; failures=$((failures + 1)); }
}
check 0 "passed on the second try: none" "1/2 Test #2: good .....   Passed    0.01 sec
2/2 Test #1: other ....   Passed    0.02 sec"
check 8 "passed on the second try: A.Flaky, b" "1/4 Test #1: A.Flaky ..***Failed    0.02 sec
2/4 Test #3: bad ......***Failed    0.01 sec
    Test #1: A.Flaky ..   Passed    0.01 sec
3/4 Test #2: b ........***Timeout   1.01 sec
    Test #3: bad ......***Failed    0.00 sec
4/4 Test #4: good .....   Passed    0.00 sec
    Test #2: b ........   Passed    0.00 sec"
[ "$failures" -eq 0 ] && echo "second try: all cases pass"
exit "$failures"
