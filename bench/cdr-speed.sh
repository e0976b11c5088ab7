#!/usr/bin/env bash
# Times pktav-cdr over a made-up store of 10,000,000 lines (a year, written
# once by mkcdrstore into DIR, default /tmp/cdr-bench, 374 MB):
#
#   bench/cdr-speed.sh [BUILD_DIR [DIR]]
#
# Lines per second are reckoned on CPU time (user + system), which is what
# one core gives when the machine is busy with other work; the wall-clock
# time and the peak memory are shown beside.
set -euo pipefail
build=${1:-build}
dir=${2:-/tmp/cdr-bench}
lines=10000000
if [ ! -d "$dir" ]; then
  mkdir -p "$dir"
  "$build/bench/mkcdrstore" "$dir" --from 2024-01-01 --days 365 --lines $lines --stations 400 --trunks 40
fi
cat "$dir"/*/*/* >/dev/null  # into the page cache: the figures are the tool's, not the disk's
run() {
  local what=$1
  shift
  /usr/bin/time -f "%U %S %e %M" -o /tmp/cdr-speed.$$ "$build/bin/pktav-cdr" "$@" >/dev/null
  read -r user sys wall kb </tmp/cdr-speed.$$
  awk -v w="$what" -v u="$user" -v s="$sys" -v e="$wall" -v k="$kb" -v n=$lines \
    'BEGIN { printf "%-28s %6.2f s CPU %6.2f s wall %9.0f lines/s %6d KB\n", w, u + s, e, n / (u + s), k }'
  rm -f /tmp/cdr-speed.$$
}
run "query, CSV" query "$dir" --tz UTC
run "query, JSON" query "$dir" --tz UTC --format json
run "query, Europe/Berlin" query "$dir" --tz Europe/Berlin
run "query, one station" query "$dir" --tz UTC --station 4210
run "report" report "$dir" --tz UTC
run "audit" audit "$dir" --tz UTC
