#!/usr/bin/env bash
# Differential proof that two builds of the packer do the same, byte for byte:
#
#   bench/sameoutput.sh OLD_BINDIR NEW_BINDIR [WORKDIR]
#
# Runs pktav-deviroz7e, pktav-diziziv7 and pktav-md11bc12 from both bin
# directories on one corpus, each case once with the old and once with the
# new programs, in the same environment, and compares everything a run
# leaves: standard output, standard error (with the time stamp at the end
# of the statistics lines masked where the clock runs), the exit code, the
# store tree (names, modes, contents) and the raw log.
#
# The corpus: pabxsim streams of every format with several seeds, noise
# and damaged records; streams whose calls cross the changes to and from
# summer time of several zones (whole-hour, half-hour and 30-minute DST);
# the bundled samples; the same streams with bytes, and above all time
# fields, mutated at random (months of 13, minutes of 99, blanks, signs);
# random byte streams; and every stream fed to the other builds too. Runs:
# every zone with the plain options; option sets (-x, -X, -t, -m, -c, -s,
# -e/-l/-h, -r, -R, standard output, standard input, -n) in UTC and
# Europe/Berlin; runs with the clock frozen (libfaketime, package faketime)
# at instants in the repeated autumn hour, just after the spring gap, in
# summer and in winter, with the call times validated against it; and
# failures: a missing store, an unwritable raw log, a file size limit, the
# byte 3 at the pause prompt.
#
# Ends with 0 when every case agreed, else 1 (the differences are shown).
# WORKDIR (default: a new temporary directory) keeps the corpus and, for
# a case that differs, both runs.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: bench/sameoutput.sh OLD_BINDIR NEW_BINDIR [WORKDIR]" >&2
  exit 2
fi
OLD=$(cd "$1" && pwd)
NEW=$(cd "$2" && pwd)
W=${3:-$(mktemp -d)}
mkdir -p "$W"
W=$(cd "$W" && pwd)
SIM=$OLD/pabxsim
FAKE=$(dpkg -L libfaketime 2>/dev/null | grep '/libfaketime.so.1$' | head -1 || true)
if [ -z "$FAKE" ]; then
  echo "bench/sameoutput.sh: libfaketime is needed (apt-get install faketime)" >&2
  exit 2
fi
for b in deviroz7e diziziv7 md11bc12; do
  for d in "$OLD" "$NEW"; do
    [ -x "$d/pktav-$b" ] || { echo "bench/sameoutput.sh: no $d/pktav-$b" >&2; exit 2; }
  done
done
[ -x "$SIM" ] || { echo "bench/sameoutput.sh: no $SIM" >&2; exit 2; }
HERE=$(cd "$(dirname "$0")/.." && pwd)

C=$W/corpus
mkdir -p "$C"

# ---------------------------------------------------------------- corpus

# Random bytes: a stream of N bytes in which digits, blanks and the framing
# bytes are common, so that frames of every length and some records form.
randbytes() {  # SEED N FILE
  perl -e '
    my ($seed, $n) = @ARGV; srand($seed);
    my @common = (map({ chr } 0x30 .. 0x39), " ", " ", " ", "K", "A", "E", "B", "-", "T", "\x02");
    my $out = "";
    for (1 .. $n) {
      my $r = rand();
      if ($r < 0.004) { $out .= "\x03" }
      elsif ($r < 0.008) { $out .= "\n" }
      elsif ($r < 0.85) { $out .= $common[int rand @common] }
      else { $out .= chr int rand 256 }
    }
    print $out;' "$1" "$2" >"$3"
}

# The records of a stream with bytes changed at random: in one record of
# three a few bytes anywhere, in one of two the time fields (which the
# packer must read as it always did, however wild), now and then a byte
# dropped or added so the framing slips.
mutate() {  # SEED FORMAT IN OUT
  perl -e '
    my ($seed, $fmt, $in) = @ARGV; srand($seed);
    local $/; open my $f, "<", $in or die; binmode $f; my $s = <$f>;
    my ($end, $len, @times) = $fmt eq "md110"
        ? ("\n", 135, [3, 8], [12, 4], [18, 4])
        : ("\x03", 131, [20, 10], [30, 10], [94, 4]);
    my @wild = ("00", "13", "12", "31", "32", "99", "24", "23", "59", "60", "  ", " 5", "5 ",
                "-5", "+3", "-0", "0-", "9 ", "1a", "\x00\x00", "02", "29", "30");
    my @junk = (map({ chr } 0x30 .. 0x39), " ", "-", "+", "\x00", "\x01", "\x03", "\n", "9",
                "A", "E", "B", "K", "T", "N", "D", "G", "V", "X", "I");
    my $out = "";
    for my $rec (split /(?<=\Q$end\E)/, $s) {
      my $base = length($rec) - $len - 1;
      if ($base >= 0 && rand() < 0.25) {
        for my $field (@times) {
          my ($off, $n) = @$field;
          for (my $i = 0; $i < $n; $i += 2) {
            next if rand() < 0.5;
            substr($rec, $base + $off + $i, 2) = $wild[int rand @wild];
          }
        }
      }
      if (rand() < 0.33) {
        for (1 .. 1 + int rand 4) {
          substr($rec, int rand length $rec, 1) = $junk[int rand @junk];
        }
      }
      my $r = rand();
      if ($r < 0.02) { substr($rec, int rand length $rec, 1) = "" }
      elsif ($r < 0.04) { substr($rec, int rand length $rec, 0) = $junk[int rand @junk] }
      $out .= $rec;
    }
    print $out;' "$1" "$2" "$3" >"$4"
}

sim() {  # ZONE FILE pabxsim-options...
  local zone=$1 file=$2
  shift 2
  TZ=$zone "$SIM" "$@" -o "$file" 2>/dev/null
}

echo "corpus in $C"
for fmt in neax neax98 md110; do
  for seed in 1 2 3; do
    sim UTC "$C/$fmt-s$seed.smdr" -f "$fmt" -s "$seed" -n 2000 --noise 5 --damaged 5 \
      --start 2026-06-01T08:00
  done
  # Calls across the changes to and from summer time, at four times the
  # usual pace: in the autumn some three hours of calls with the repeated
  # hour among them.
  sim Europe/Berlin "$C/$fmt-berlin-autumn.smdr" -f "$fmt" -s 4 -n 4000 --calls-per-hour 1200 \
    --start 2026-10-25T00:30
  sim Europe/Berlin "$C/$fmt-berlin-spring.smdr" -f "$fmt" -s 5 -n 3000 --calls-per-hour 1200 \
    --start 2026-03-29T00:30
  sim Australia/Lord_Howe "$C/$fmt-lordhowe-spring.smdr" -f "$fmt" -s 6 -n 2000 \
    --calls-per-hour 1200 --start 2026-10-04T01:00
  sim Australia/Lord_Howe "$C/$fmt-lordhowe-autumn.smdr" -f "$fmt" -s 7 -n 2000 \
    --calls-per-hour 1200 --start 2026-04-05T00:45
  sim Australia/Adelaide "$C/$fmt-adelaide.smdr" -f "$fmt" -s 8 -n 3000 --calls-per-hour 1200 \
    --start 2026-04-05T01:00
  sim America/St_Johns "$C/$fmt-stjohns.smdr" -f "$fmt" -s 9 -n 3000 --calls-per-hour 1200 \
    --start 2026-11-01T00:00
  # Across the turn of the year.
  sim UTC "$C/$fmt-newyear.smdr" -f "$fmt" -s 10 -n 2000 --calls-per-hour 1200 \
    --start 2026-12-31T22:00
  for seed in 1 2; do
    mutate "$seed" "$fmt" "$C/$fmt-s$seed.smdr" "$C/$fmt-wild$seed.smdr"
  done
  mutate 3 "$fmt" "$C/$fmt-berlin-autumn.smdr" "$C/$fmt-wild3.smdr"
  # A short stream for the byte traces.
  head -c 40000 "$C/$fmt-wild1.smdr" >"$C/$fmt-short.smdr"
done
for seed in 1 2 3; do randbytes "$seed" 300000 "$C/random$seed.smdr"; done
head -c 20000 "$C/random1.smdr" >"$C/random-short.smdr"
cp "$HERE/examples/neax.smdr" "$C/example-neax.smdr"
cp "$HERE/examples/md110.smdr" "$C/example-md110.smdr"
# The pause prompt's key presses: newlines, then the byte 3 that ends the run.
{ for _ in $(seq 200); do printf '\n'; done; printf '\003'; } >"$C/keys"

# ----------------------------------------------------------------- cases

cases=0
failed=0
ZONE=UTC  # TZ of the runs; "-" leaves TZ unset
# The clock stands still at NOW (epoch seconds) in every run but those of
# the last part: old and new then read the same time to the second, so
# even the time dumps of -t and the statistics lines compare unmasked.
DEFAULTNOW=$(date -u -d '2026-12-08 12:00:00' +%s)
NOW=$DEFAULTNOW
LIMIT=  # ulimit -f of the runs, in 512-byte blocks; empty: none
STDIN=/dev/null

# Runs one side of a case in DIR (made afresh) and leaves there what the
# run left: out, err, rc, cdr/ and any raw log, and a listing of them.
side() {  # BINDIR DIR BUILD ARGS...
  local bin=$1 dir=$2 build=$3
  shift 3
  rm -rf "$dir"
  mkdir -p "$dir/cdr"
  (
    cd "$dir"
    if [ -n "$LIMIT" ]; then ulimit -f "$LIMIT"; fi
    if [ "$ZONE" = - ]; then unset TZ; else export TZ=$ZONE; fi
    if [ -n "$NOW" ]; then
      export LD_PRELOAD=$FAKE FAKETIME_FMT=%s FAKETIME=$NOW
    fi
    set +e
    # The same program name on both sides: messages such as getopt's show it.
    (exec -a "pktav-$build" "$bin/pktav-$build" "$@" <"$STDIN" >out 2>err)
    echo $? >rc
  )
  if [ -z "$NOW" ]; then
    sed -E -i 's/[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}$/<clock>/' \
      "$dir/err"
  fi
  (cd "$dir" && find . -printf '%p %y %m %s\n' | LC_ALL=C sort >../listing && mv ../listing .)
}

check() {  # LABEL BUILD ARGS...
  local label=$1
  shift
  cases=$((cases + 1))
  side "$OLD" "$W/run/old" "$@"
  side "$NEW" "$W/run/new" "$@"
  if diff -r "$W/run/old" "$W/run/new" >"$W/run/diff" 2>&1; then
    return 0
  fi
  failed=$((failed + 1))
  local keep="$W/differs/$failed"
  mkdir -p "$keep"
  cp -r "$W/run/old" "$W/run/new" "$W/run/diff" "$keep/"
  echo "DIFFERS: $label (TZ=$ZONE NOW=$NOW LIMIT=$LIMIT STDIN=$STDIN): pktav-$*" >&2
  echo "  kept in $keep" >&2
  head -20 "$W/run/diff" | sed 's/^/  /' >&2
}

builds=(deviroz7e diziziv7 md11bc12)
declare -A ownfmt=([deviroz7e]=neax [diziziv7]=neax98 [md11bc12]=md110)
declare -A example=([deviroz7e]=neax [diziziv7]=neax [md11bc12]=md110)

# The streams a build is run on: its own format's, one of each other
# format, the sample, random bytes.
streams() {  # BUILD
  local f=${ownfmt[$1]} o
  ls "$C/$f"-*.smdr | grep -v short
  for o in neax neax98 md110; do [ "$o" = "$f" ] || echo "$C/$o-wild1.smdr"; done
  echo "$C/example-${example[$1]}.smdr"
  ls "$C"/random[0-9].smdr
}

zones=(UTC Europe/Berlin Asia/Kolkata Australia/Adelaide Australia/Lord_Howe America/St_Johns
       Pacific/Chatham "CET-1CEST,M3.5.0,M10.5.0/3" -)

# 1. Every stream in every zone, validation off.
for b in "${builds[@]}"; do
  for ZONE in "${zones[@]}"; do
    for s in $(streams "$b"); do
      check "plain $(basename "$s")" "$b" -v -M -i "$s" -o cdr
    done
  done
  echo "plain runs of $b done: $cases cases, $failed differing"
done
ZONE=UTC

# 2. Option sets, in UTC and in Europe/Berlin.
optionsets=(
  "-v -o cdr -i"
  "-v -M -i"
  "-v -M -x -o cdr -i"
  "-v -M -t -o cdr -i"
  "-v -M -x -t -o cdr -i"
  "-v -M -m -o cdr -i"
  "-v -M -c -o cdr -i"
  "-v -M -e 15 -l 000100 -h 000199 -o cdr -i"
  "-v -M -e 18 -l 004200 -h 004203 -o cdr -i"
  "-v -M -e 1C -l 4200 -h 4210 -o cdr -i"
  "-v -M -R raw.log -o cdr -i"
  "-v -M -r -i"
  "-xv -p -M -H 7 -o cdr -i"
)
for b in "${builds[@]}"; do
  f=${ownfmt[$b]}
  for ZONE in UTC Europe/Berlin; do
    for s in "$C/$f-s1.smdr" "$C/$f-berlin-autumn.smdr" "$C/$f-wild1.smdr" "$C/$f-wild3.smdr" \
             "$C/random2.smdr" "$C/example-${example[$b]}.smdr"; do
      for opts in "${optionsets[@]}"; do
        # shellcheck disable=SC2086  # the option words split on purpose
        check "options $(basename "$s")" "$b" $opts "$s"
      done
    done
    for s in "$C/$f-short.smdr" "$C/random-short.smdr"; do
      check "byte trace $(basename "$s")" "$b" -v -M -X -o cdr -i "$s"
      check "byte trace, raw log $(basename "$s")" "$b" -v -M -X -t -R raw.log -o cdr -i "$s"
    done
    STDIN=$C/$f-wild2.smdr
    check "standard input" "$b" -v -M -o cdr
    STDIN=$C/keys
    check "pause prompt" "$b" -v -M -n -o cdr -i "$C/$f-s2.smdr"
    STDIN=/dev/null
  done
  echo "option runs of $b done: $cases cases, $failed differing"
done
ZONE=UTC

# 3. Call times validated against the clock (and taken from it with -s),
# the clock standing at instants (UTC) around each zone's changes: in the
# repeated hour's first and second pass, just before and after a gap, in
# summer, in winter, just after the turn of the year.
declare -A instants=(
  [Europe/Berlin]="2026-10-25T00:30:00 2026-10-25T01:30:00 2026-10-25T00:59:59
                   2026-10-25T01:00:00 2026-03-29T00:59:59 2026-03-29T01:00:30
                   2026-07-01T10:00:00 2027-01-02T10:00:00"
  [UTC]="2026-12-08T12:00:00 2027-01-01T00:10:00 2026-07-01T10:00:00"
  [Australia/Lord_Howe]="2026-10-03T15:45:00 2026-04-04T14:45:00 2026-04-04T15:15:00"
  [Australia/Adelaide]="2026-04-04T16:15:00 2026-04-04T16:45:00 2026-10-03T16:45:00"
  [America/St_Johns]="2026-11-01T04:15:00 2026-11-01T04:45:00 2026-03-08T05:45:00"
  [CET-1CEST,M3.5.0,M10.5.0/3]="2026-10-25T00:30:00 2026-10-25T01:30:00"
)
for b in "${builds[@]}"; do
  f=${ownfmt[$b]}
  for ZONE in "${!instants[@]}"; do
    for at in ${instants[$ZONE]}; do
      NOW=$(date -u -d "${at/T/ }" +%s)
      for s in "$C/$f-berlin-autumn.smdr" "$C/$f-berlin-spring.smdr" "$C/$f-wild3.smdr" \
               "$C/$f-lordhowe-autumn.smdr" "$C/$f-adelaide.smdr" "$C/$f-stjohns.smdr" \
               "$C/$f-newyear.smdr"; do
        check "clock $at $(basename "$s")" "$b" -M -o cdr -i "$s"
      done
      check "clock $at, -s" "$b" -M -s -o cdr -i "$C/$f-wild1.smdr"
      check "clock $at, traces" "$b" -M -x -t -o cdr -i "$C/$f-short.smdr"
    done
  done
  echo "validated runs of $b done: $cases cases, $failed differing"
done
ZONE=UTC
NOW=$DEFAULTNOW

# 4. Failures: the exit code and the messages.
for b in "${builds[@]}"; do
  f=${ownfmt[$b]}
  check "missing store" "$b" -v -M -o missing -i "$C/$f-s1.smdr"
  check "unwritable raw log" "$b" -v -M -R /nonexistent/raw.log -o cdr -i "$C/$f-s1.smdr"
  check "missing input" "$b" -v -M -o cdr -i "$C/none.smdr"
  LIMIT=40
  check "file size limit" "$b" -v -M -o cdr -i "$C/$f-s1.smdr"
  check "file size limit, standard output" "$b" -v -M -i "$C/$f-s1.smdr"
  LIMIT=
  check "bad option" "$b" -v -M -q -i "$C/$f-s1.smdr"
done
echo "failure runs done: $cases cases, $failed differing"

# 5. The real clock: the time stamps of the statistics lines masked.
NOW=
for b in "${builds[@]}"; do
  f=${ownfmt[$b]}
  for ZONE in UTC Europe/Berlin; do
    for s in "$C/$f-s3.smdr" "$C/$f-wild2.smdr" "$C/$f-berlin-autumn.smdr"; do
      check "real clock $(basename "$s")" "$b" -v -M -o cdr -i "$s"
      check "real clock, -x $(basename "$s")" "$b" -v -M -x -o cdr -i "$s"
    done
  done
done

echo "$cases cases, $failed differing"
[ "$failed" -eq 0 ]
