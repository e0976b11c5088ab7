#!/usr/bin/env bash
# Times pktav-cdr load over the store of bench/cdr-speed.sh (10,000,000
# lines, a year of one site, made once by mkcdrstore into DIR, default
# /tmp/cdr-bench): into an empty SQLite file, then again over the unchanged
# store; the same into an empty database of a PostgreSQL server of its own
# (initdb into a temporary folder, a Unix socket there, fsync on, stopped
# and removed at the end; as root the server runs as nobody).
#
#   bench/cdr-load.sh [BUILD_DIR [DIR]]
#
# Rows per second are reckoned on the wall clock (the server works beside
# the loader); CPU time (user + system) and peak memory are the loader's,
# from /usr/bin/time -v, and the server's backend's CPU time is given too.
# Last, the peak memory of a load of six years of a quiet site into each
# (DIR-sparse: 52,560 lines in some 24,000 hour files of two lines each).
set -euo pipefail
build=$(realpath "${1:-build}")
dir=${2:-/tmp/cdr-bench}
lines=10000000
if [ ! -d "$dir" ]; then
  mkdir -p "$dir"
  "$build/bench/mkcdrstore" "$dir" --from 2024-01-01 --days 365 --lines $lines --stations 400 --trunks 40
fi
sparse=$dir-sparse
if [ ! -d "$sparse" ]; then
  mkdir -p "$sparse"
  "$build/bench/mkcdrstore" "$sparse" --from 2018-01-01 --days 2190 --lines 52560 --stations 40 --trunks 4
fi
cat "$dir"/*/*/* "$sparse"/*/*/* >/dev/null  # into the page cache: the figures are the tool's, not the disk's

pgbin=$(pg_config --bindir 2>/dev/null || true)
[ -x "$pgbin/initdb" ] || pgbin=$(dirname "$(ls /usr/lib/postgresql/*/bin/initdb | sort -V | tail -n 1)")
work=$(mktemp -d /tmp/cdr-load.XXXXXX)
as=()
if [ "$(id -u)" = 0 ]; then
  chown nobody "$work"
  as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
stop() {
  [ -f "$work/pg/postmaster.pid" ] && (cd "$work" && "${as[@]}" "$pgbin/pg_ctl" stop -D "$work/pg" -m fast >/dev/null)
  rm -rf "$work"
}
trap stop EXIT

# The CPU time (user + system, seconds) of the server's backends that
# have ended, or nothing without a server.
servercpu() {
  [ -f "$work/pg/postmaster.pid" ] || return 0
  awk -v t="$(getconf CLK_TCK)" '{ printf "%.2f", ($16 + $17) / t }' \
    "/proc/$(head -n 1 "$work/pg/postmaster.pid")/stat"
}

# run WHAT ROWS DATABASE [STORE]: one load, its figures on one line.
run() {
  local what=$1 rows=$2 db=$3 store=${4:-$dir} before after
  before=$(servercpu)
  /usr/bin/time -v -o "$work/time" "$build/bin/pktav-cdr" load "$db" "$store" --tz UTC 2>"$work/err" ||
    { cat "$work/err" >&2; exit 1; }
  sleep 0.5  # the backend ends after the loader
  after=$(servercpu)
  awk -v w="$what" -v n="$rows" -v b="$before" -v a="$after" -F': ' '
    /User time/ { user = $2 } /System time/ { sys = $2 } /Maximum resident/ { kb = $2 }
    /Elapsed/ { k = split($2, t, ":"); wall = 0; for (i = 1; i <= k; ++i) wall = wall * 60 + t[i] }
    END {
      printf "%-26s %7.2f s wall %7.2f s CPU", w, wall, user + sys
      if (n > 0) printf " %9.0f rows/s", n / wall; else printf " %16s", ""
      printf " %6d KB peak", kb
      if (a != "") printf "  server %.2f s CPU", a - b
      printf "\n"
    }' "$work/time"
}

db=$work/cdr.sqlite
run "SQLite, empty" $lines "$db"
run "SQLite, unchanged store" 0 "$db"
echo "SQLite: $(sqlite3 "$db" 'SELECT count(*) FROM calls') rows, $(du -m "$db" | cut -f1) MB"
run "SQLite, six sparse years" 52560 "$work/sparse.sqlite" "$sparse"

(cd "$work" && "${as[@]}" "$pgbin/initdb" -D "$work/pg" -A trust -U postgres --no-instructions \
  --locale=C -E UTF8 >/dev/null)
(cd "$work" && "${as[@]}" "$pgbin/pg_ctl" start -D "$work/pg" -l "$work/pg.log" -w \
  -o "-k $work -c listen_addresses= -c max_wal_size=4GB" >/dev/null)
pg="host=$work dbname=postgres user=postgres"
run "PostgreSQL, empty" $lines "$pg"
run "PostgreSQL, unchanged store" 0 "$pg"
echo "PostgreSQL: $(psql "$pg" -Atc 'SELECT count(*) FROM calls') rows," \
  "$(psql "$pg" -Atc "SELECT (pg_total_relation_size('pktav_calls') + pg_total_relation_size('pktav_files')) / 1048576") MB"
run "PostgreSQL, six sparse years" 52560 "$pg" "$sparse"
