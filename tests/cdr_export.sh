#!/bin/sh
# pktav-cdr's output as other programs read it: a week's export loaded into
# SQLite and counted, the report's page and the bills' page checked as XML,
# and, where Chromium is installed, both pages drawn headless without a
# word on its console and the bills printed, each on sheets of its own.
# Without sqlite3 or xmllint there is nothing to check against: the test
# ends with 77, which CTest reports as skipped.
#
#   cdr_export.sh pktav-cdr mkcdrstore
set -eu
cdr=$1 mkstore=$2
for tool in sqlite3 xmllint; do
	command -v "$tool" >/dev/null || {
		echo "$tool is not installed: nothing to check the export and the page with"
		exit 77
	}
done
d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT
fail() {
	echo "$*"
	exit 1
}
count() { xmllint --xpath "count($1)" "$2"; }

mkdir "$d/store"
"$mkstore" "$d/store" --from 2024-03-04 --days 7 --lines 3000
"$cdr" query "$d/store" --tz UTC >"$d/calls.csv"
rows=$(sqlite3 "$d/calls.db" ".import --csv $d/calls.csv calls" "select count(*) from calls;")
[ "$rows" = 3000 ] || fail "SQLite loaded $rows rows of 3000"

# mkcdrstore's 40 stations in three departments, one within another; its
# numbers dialled are 0 and seven digits.
cat >"$d/tariff.csv" <<'END'
prefix,destination,days,from,to,setup,per_minute,first,step,pulse
0,National,Mon-Fri,08:00,18:00,0.05,0.06,60,60,0
0,National,*,00:00,24:00,0.05,0.03,60,60,0
01,Mobile,*,00:00,24:00,0.10,0.24,30,6,0
END
{
	echo "station,name,department"
	for n in $(seq 4200 4239); do
		case $n in
		420?|421?) dept=Sales ;;
		422?) dept=Sales/North ;;
		*) dept="Accounts & Legal" ;;
		esac
		echo "$n,Person <$n>,$dept"
	done
} >"$d/stations.csv"
priced="--tz UTC --tariff $d/tariff.csv --directory $d/stations.csv"

# shellcheck disable=SC2086
"$cdr" report "$d/store" $priced --html "$d/week.html" >/dev/null
xmllint --noout "$d/week.html"
svgs=$(count '//*[local-name()="svg" and namespace-uri()="http://www.w3.org/2000/svg"]' "$d/week.html")
[ "$svgs" = 5 ] || fail "the page holds $svgs SVG pictures, not 5"

# Twenty minutes' bills, each short enough for one sheet.
# shellcheck disable=SC2086
"$cdr" bill "$d/store" $priced --each-department --from 2024-03-04T10:00 --to 2024-03-04T10:20 \
	--html "$d/bills.html" >/dev/null
xmllint --noout "$d/bills.html"
bills=$(count '//*[local-name()="section"]' "$d/bills.html")
[ "$bills" = 3 ] || fail "the page holds $bills bills, not 3"

command -v chromium >/dev/null || {
	echo "pktav-cdr: Chromium is not installed; the pages are not drawn"
	echo "pktav-cdr: 3000 rows loaded, pages well-formed"
	exit 0
}
# Chromium looks for the internet as it starts, even for a file (its name
# server, a probe of an IPv6 route): netjail's guard would count each look
# as an escape. It gets a network namespace of its own with nothing in it,
# where every look ends at once and is counted there, not in the test's.
# Without user namespaces it runs in the test's, its names resolved to none.
jail=
unshare -rn true 2>/dev/null && jail="unshare -rn"
headless() {
	: >"$d/chromium.log"
	# shellcheck disable=SC2086
	HOME=$d $jail chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
		--disable-component-update --disable-sync --no-first-run --user-data-dir="$d/chromium" \
		--host-resolver-rules='MAP * ~NOTFOUND' --enable-logging=stderr "$@" 2>"$d/chromium.log" || true
}
# drawpage PAGE PICTURE: a screenshot, and not a word on the console.
# Chromium's own pages (chrome://) may speak there on a slow machine.
drawpage() {
	headless --window-size=1100,1300 --screenshot="$2" "file://$1"
	[ -s "$2" ] || fail "Chromium drew no picture of $1: $(cat "$d/chromium.log")"
	! grep -i 'CONSOLE' "$d/chromium.log" | grep -v 'source: chrome://' ||
		fail "$1 wrote to Chromium's console"
}
drawpage "$d/week.html" "$d/week.png"
drawpage "$d/bills.html" "$d/bills.png"
headless --no-pdf-header-footer --print-to-pdf="$d/bills.pdf" "file://$d/bills.html"
[ -s "$d/bills.pdf" ] || fail "Chromium printed no bills: $(cat "$d/chromium.log")"
sheets=$(grep -a -o '/Type */Page\b' "$d/bills.pdf" | wc -l)
[ "$sheets" -eq "$bills" ] || fail "the $bills bills printed on $sheets sheets"
echo "pktav-cdr: the pages drawn by Chromium, the bills printed one a sheet"
echo "pktav-cdr: 3000 rows loaded, pages well-formed"
