#!/bin/sh
# pktav-cdr's output as other programs read it: a week's export loaded into
# SQLite and counted, the page checked as XML with its three SVG pictures,
# and, where Chromium is installed, the page drawn headless without a word
# on its console. Without sqlite3 or xmllint there is nothing to check
# against: the test ends with 77, which CTest reports as skipped.
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

mkdir "$d/store"
"$mkstore" "$d/store" --from 2024-03-04 --days 7 --lines 3000
"$cdr" query "$d/store" --tz UTC >"$d/calls.csv"
rows=$(sqlite3 "$d/calls.db" ".import --csv $d/calls.csv calls" "select count(*) from calls;")
[ "$rows" = 3000 ] || fail "SQLite loaded $rows rows of 3000"

"$cdr" report "$d/store" --tz UTC --html "$d/week.html" >/dev/null
xmllint --noout "$d/week.html"
svgs=$(xmllint --xpath 'count(//*[local-name()="svg" and namespace-uri()="http://www.w3.org/2000/svg"])' "$d/week.html")
[ "$svgs" = 3 ] || fail "the page holds $svgs SVG pictures, not 3"

# Chromium looks for the internet as it starts, even for a file (its name
# server, a probe of an IPv6 route): netjail's guard would count each look
# as an escape. It gets a network namespace of its own with nothing in it,
# where every look ends at once and is counted there, not in the test's.
# Without user namespaces it runs in the test's.
drawpage() {
	jail=
	unshare -rn true 2>/dev/null && jail="unshare -rn"
	HOME=$d $jail chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
		--disable-component-update --disable-sync --no-first-run --user-data-dir="$d/chromium" \
		--host-resolver-rules='MAP * ~NOTFOUND' --enable-logging=stderr --window-size=1100,1300 \
		--screenshot="$2" "file://$1" 2>"$d/chromium.log" || true
	[ -s "$2" ] || fail "Chromium drew no picture of $1: $(cat "$d/chromium.log")"
	! grep -i 'CONSOLE' "$d/chromium.log" || fail "$1 wrote to Chromium's console"
}
if command -v chromium >/dev/null; then
	drawpage "$d/week.html" "$d/week.png"
	echo "pktav-cdr: the page drawn by Chromium"
else
	echo "pktav-cdr: Chromium is not installed; the page is not drawn"
fi
echo "pktav-cdr: 3000 rows loaded, page well-formed"
