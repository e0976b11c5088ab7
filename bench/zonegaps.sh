#!/usr/bin/env bash
# Checks the one thing the packer's cache of local hours (packer/hourcache.h)
# takes on trust about time zones: that no zone changes its UTC offset, its
# daylight flag or its abbreviation twice within 7 hours (an hour and three
# hours on either side), so that a change and its undoing cannot hide
# between two instants the cache looks at.
#
#   bench/zonegaps.sh [ZONEINFO_DIR [FIRST_YEAR [LAST_YEAR]]]
#
# Lists, for every zone file under ZONEINFO_DIR (default
# /usr/share/zoneinfo) between FIRST_YEAR (1984, where the packed time
# scale begins) and LAST_YEAR (2240, beyond its end), the closest two
# changes, and every zone where two come within 7 hours; ends with 1 if
# any does. Needs zdump (libc-bin) and perl-base.
set -euo pipefail
dir=${1:-/usr/share/zoneinfo}
first=${2:-1984}
last=${3:-2240}
cd "$dir"
find . -type f ! -name '*.tab' ! -name '*.zi' ! -name 'leap*' ! -name 'tzdata*' \
     ! -name 'SECURITY' ! -name 'posixrules' ! -path './right/*' ! -path './posix/*' |
  sed 's|^\./||' | LC_ALL=C sort |
  while read -r zone; do
    head -c 4 "$zone" | grep -q TZif || continue
    zdump -v -c "$first,$last" "$PWD/$zone" | sed "s|^|$zone |"
  done |
  TZ=UTC perl -MPOSIX=mktime -ne '
    # "ZONE  Sun Mar 25 01:00:00 1984 UT = ... isdst=1 gmtoff=7200": the
    # second line of each pair is the first second of the new state.
    next unless /^(\S+)\s+\S+\s+\S+ (\w{3})\s+(\d+) (\d+):(\d+):(\d+) (\d+) UT = .* isdst=(\d) gmtoff=(-?\d+)/;
    my ($zone, $mon, $day, $h, $m, $s, $y) = ($1, $2, $3, $4, $5, $6, $7);
    my %months = (Jan=>0, Feb=>1, Mar=>2, Apr=>3, May=>4, Jun=>5, Jul=>6, Aug=>7, Sep=>8,
                  Oct=>9, Nov=>10, Dec=>11);
    my $t = mktime($s, $m, $h, $day, $months{$mon}, $y - 1900);  # in UTC
    if (!defined $last{$zone} || $t != $last{$zone} + 1) { push @{$changes{$zone}}, $t }
    $last{$zone} = $t;
    END {
      my $limit = 7 * 3600;
      my ($bad, $closest, $where) = (0, undef, "");
      for my $zone (sort keys %changes) {
        my @c = @{$changes{$zone}};
        for my $i (1 .. $#c) {
          my $gap = $c[$i] - $c[$i - 1];
          if (!defined $closest || $gap < $closest) { ($closest, $where) = ($gap, $zone) }
          if ($gap < $limit) {
            printf "%s: changes %s and %s UT, %d seconds apart\n", $zone,
              scalar(gmtime $c[$i - 1]), scalar(gmtime $c[$i]), $gap;
            $bad = 1;
          }
        }
      }
      printf "%d zones; the closest two changes: %d seconds (%.1f days) apart, in %s\n",
        scalar(keys %changes), $closest, $closest / 86400, $where;
      exit $bad;
    }'
