#!/usr/bin/env bash
# Times pktav-cdr over a made-up store of 10,000,000 lines (a year, written
# once by mkcdrstore into DIR, default /tmp/cdr-bench, 374 MB):
#
#   bench/cdr-speed.sh [BUILD_DIR [DIR]]
#
# Lines per second are reckoned on CPU time (user + system), which is what
# one core gives when the machine is busy with other work; the wall-clock
# time and the peak memory are shown beside. Query and report run once
# more priced, with a tariff of 10,000 prefixes (11,002 rates) and a
# directory of 5,000 stations in 55 departments (50 teams in 5 divisions),
# made afresh each time.
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

prices=$(mktemp -d)
trap 'rm -rf "$prices"' EXIT
# The store dials 0 and seven digits: prefixes of three to five digits
# nested in one another ("01", "010", "0100"), every tenth with a rate of
# its own by day on weekdays, and a default.
awk 'BEGIN {
  print "prefix,destination,days,from,to,setup,per_minute,first,step,pulse"
  print ",Local,Mon-Fri,08:00,18:00,0.05,0.06,60,60,0"
  print ",Local,*,00:00,24:00,0.05,0.03,60,60,0"
  for (i = 0; i < 10000; i++) {
    p = i < 100 ? sprintf("0%02d", i) : i < 1000 ? sprintf("0%03d", i) : sprintf("0%04d", i)
    if (i % 10 == 0) printf "%s,Zone %d,Mon-Fri,08:00,18:00,0.10,0.%04d,30,6,0.01\n", p, i % 97, i
    printf "%s,Zone %d,*,00:00,24:00,0.10,0.%04d,30,6,0\n", p, i % 97, (i * 7) % 10000
  }
}' >"$prices/tariff.csv"
awk 'BEGIN {
  print "station,name,department"
  for (n = 4000; n < 9000; n++) printf "%d,Person %d,Division %d/Team %d\n", n, n, n % 5, n % 50
}' >"$prices/stations.csv"
priced=(--tariff "$prices/tariff.csv" --directory "$prices/stations.csv")
run "query, priced" query "$dir" --tz UTC "${priced[@]}"
run "report, priced" report "$dir" --tz UTC "${priced[@]}"
