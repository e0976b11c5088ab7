#!/bin/sh
# The package under a live systemd: a minimal Debian 12 is made with
# debootstrap, booted in a container (systemd-nspawn, its own network with
# only a loopback), the package installed in it, and a site run by
# pktav-link@ the way an operator runs one:
#   - pabxsim, the simulated exchange, connects and drops the link every
#     100 records, cutting every second drop's record in half and resetting
#     every third: the store must hold every call of a whole record once,
#     in order, as an unbroken run would, once the unit is stopped;
#   - the loader unit follows the store into an SQLite database: the
#     audit of the database against the store finds every call once;
#   - the watch unit checks each new call against a rule that every call
#     trips, and hands each alarm to alarm-mail: the system's mail server
#     (exim, Debian's own) delivers one mail for each call;
#   - pktav killed: the unit is started again;
#   - the raw log moved and reopened as logrotate does;
#   - the nightly audit unit reads the store;
#   - the package upgraded (the site restarts), removed (the site, the
#     loader and the audit timer stop) and purged (the calls, the database,
#     their user and the site's options file stay).
#
#   dist/live-systemd.sh DEB [WORKDIR]
#
# Needs root, debootstrap and systemd-container, and the Debian mirror; it
# takes about a minute. Exit status 0: all passed; 1: a check failed; 77:
# it cannot run here (a tool missing, no mirror, no container booted). WORKDIR, a new or empty directory, keeps the system
# made and what it stored for a look afterwards; without it a directory
# under /var/tmp is used and removed.
set -eu
deb=$(realpath "$1")
work=${2:-}
keep=yes
if [ -z "$work" ]; then
	work=$(mktemp -d /var/tmp/pktav-live.XXXXXX)
	keep=no
elif [ -n "$(ls -A "$work" 2>/dev/null)" ]; then
	echo "live-systemd: $work is not empty" >&2
	exit 2
fi
mkdir -p "$work"
root=$work/root
machine=pktav-live-$$
leader=''

say() { printf '%s\n' "live-systemd: $*"; }
fail() {
	say "FAILED: $*" >&2
	exit 1
}
cannot() {
	say "cannot run here: $*" >&2
	exit 77
}
inside() { nsenter -t "$leader" -a "$@"; }

cleanup() {
	if [ -n "$leader" ]; then
		inside systemctl poweroff >/dev/null 2>&1 || kill -TERM "$leader" 2>/dev/null || true
		for _ in $(seq 100); do kill -0 "$leader" 2>/dev/null || break; sleep 0.1; done
	fi
	[ "$keep" = yes ] || rm -rf "$work"
}
trap cleanup EXIT

[ "$(id -u)" = 0 ] || cannot "root is needed"
for tool in debootstrap systemd-nspawn nsenter; do
	command -v "$tool" >/dev/null || cannot "$tool is needed (apt-get install debootstrap systemd-container)"
done

say "making a minimal Debian 12 in $root"
# With what the package depends on, from the same mirror, as apt would bring
# it: the first of each set of alternatives, without its version.
needs=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^$' | sort -u | paste -sd, -)
debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,procps,exim4-daemon-light${needs:+,$needs} bookworm "$root" \
	http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 || cannot "debootstrap: $(tail -n 3 "$work/debootstrap.log")"
cp "$deb" "$root/root/pktav.deb"

say "booting it"
# No machined on the host to register with, nor a host systemd to make a
# scope: the container stays in this process's cgroup.
setsid systemd-nspawn -D "$root" -M "$machine" --register=no --keep-unit --private-network \
	--boot >"$work/console.log" 2>&1 </dev/null &
# A few minutes at most: a busy machine boots it slowly.
for _ in $(seq 900); do
	nspawn=$(pgrep -f "systemd-nspawn -D $root -M $machine" | head -n 1) || true
	if [ -n "$nspawn" ] && [ -z "$leader" ]; then leader=$(pgrep -P "$nspawn" | head -n 1) || true; fi
	state=''
	if [ -n "$leader" ]; then state=$(inside systemctl is-system-running 2>/dev/null) || true; fi
	case $state in running | degraded) break ;; esac
	sleep 0.2
done
case ${state:-} in running | degraded) ;; *) cannot "the container did not boot (systemd ${state:-not reached}): $(tail -n 5 "$work/console.log")" ;; esac
say "systemd is $state"

inside dpkg -i /root/pktav.deb >/dev/null || fail "the package does not install"
cat >"$root/etc/pktav/live.conf" <<'EOF'
PKTAV_BUILD="deviroz7e"
PKTAV_INPUT="listen:127.0.0.1:2601"
PKTAV_RAWLOG="yes"
PKTAV_OPTIONS="-M"
PKTAV_LINKOPTIONS="--allow 127.0.0.1"
PKTAV_DATABASE="/var/lib/pktav-cdr/live.sqlite"
EOF
inside pktav-site -l check live >/dev/null || fail "pktav-site -l check live"
inside systemctl enable --now pktav-link@live pktav-cdr-load@live 2>/dev/null
for _ in $(seq 50); do
	inside journalctl -u pktav-link@live --no-pager 2>/dev/null | grep -q 'listening on' && break
	sleep 0.1
done

say "a simulated exchange that drops its link every 100 records"
inside pabxsim -n 3000 -s 8 --connect 127.0.0.1:2601 --drop-every 100 --cut-every 2 \
	--reset-every 3 --calls /root/calls.txt >/dev/null 2>&1 || fail "pabxsim"
sleep 1
inside systemctl stop pktav-link@live
# In the order sent, within each hour file, the files in the order of
# their paths (MM_YYYY/DD_MM_YYYY/DD_MM_YYYY:hh, from DDMMYYhh... in the
# line's fourth field, the call's end): a call ending at 18:00:00 sent
# before one ending at 17:59 is in the later file.
awk -F'\t' '($2 == "sent" || $2 == "replayed") && $4 != "-" { print $4 }' "$root/root/calls.txt" |
	awk -F'|' '{ print substr($4, 3, 2) substr($4, 5, 2) substr($4, 1, 2) substr($4, 7, 2) "\t" $0 }' |
	sort -s -t "$(printf '\t')" -k1,1 | cut -f2- >"$work/expected"
find "$root/var/lib/pktav/live" -type f | sort | xargs cat >"$work/stored"
cmp -s "$work/expected" "$work/stored" ||
	fail "the store differs from the calls sent whole: diff $work/expected $work/stored"
drops=$(inside journalctl -u pktav-link@live --no-pager | grep -c 'link down') || true
[ "$drops" -ge 29 ] || fail "$drops drops seen, not 29"
say "$(wc -l <"$work/stored") calls stored once each, in order, across $drops dropped links"

say "the loader"
# It loads new lines within seconds; until then the audit names them.
for _ in $(seq 150); do
	out=$(inside pktav-cdr audit --db /var/lib/pktav-cdr/live.sqlite /var/lib/pktav/live 2>&1) && break
	sleep 0.2
done
[ -z "$out" ] || fail "the database is not the store: $out$(inside journalctl -u pktav-cdr-load@live --no-pager | tail -n 5)"
say "pktav-cdr-load@live holds every stored call once"

say "pktav killed"
inside systemctl start pktav-link@live
main=$(inside systemctl show -p MainPID --value pktav-link@live)
# The packer pktav-link runs, once pktav-site, which checks the options
# first, has become pktav-link.
child=''
for _ in $(seq 300); do
	[ "$(inside cat "/proc/$main/comm")" = pktav-link ] &&
		child=$(inside pgrep -P "$main" -x pktav-deviroz7e) && break
	sleep 0.1
done
[ -n "$child" ] || fail "pktav-link@live runs no packer"
inside kill -KILL "$child"
for _ in $(seq 300); do
	now=$(inside systemctl show -p MainPID --value pktav-link@live)
	[ "$now" != 0 ] && [ "$now" != "$main" ] && break
	sleep 0.1
done
if [ "$now" = 0 ] || [ "$now" = "$main" ]; then fail "the unit was not started again"; fi
inside journalctl -u pktav-link@live --no-pager | grep -q 'ended by signal 9' ||
	fail "pktav-link did not report the end of pktav"
say "started again after RestartSec"
# At once, as logrotate may: the rawlog command waits for a site that is
# still starting to become its program.

say "the watch, and a mail for each alarm"
echo 'every destination prefix=0,1,2,3,4,5,6,7,8,9' >"$root/etc/pktav/live.rules"
cat >>"$root/etc/pktav/live.conf" <<'EOF'
PKTAV_RULES="/etc/pktav/live.rules"
PKTAV_ALARMEXEC="PKTAV_MAILTO=pktav /usr/share/pktav/alarm-mail"
EOF
inside pktav-site -l check live >/dev/null || fail "pktav-site -l check live, with the watch"
inside systemctl enable --now pktav-cdr-watch@live 2>/dev/null
for _ in $(seq 100); do
	inside journalctl -u pktav-cdr-watch@live --no-pager 2>/dev/null | grep -q 'watching' && break
	sleep 0.1
done
find "$root/var/lib/pktav/live" -type f -exec cat {} + | sort >"$work/before"

say "the raw log moved and reopened"
inside mv /var/log/pktav/live.raw /var/log/pktav/live.raw.1
inside pktav-site -l rawlog live
inside pabxsim -n 20 -s 9 --connect 127.0.0.1:2601 >/dev/null 2>&1
sleep 1
[ -s "$root/var/log/pktav/live.raw" ] || fail "no new raw log after the rawlog command"
inside systemctl stop pktav-link@live

# Every call stored since the watch started that has a number dialled is
# an alarm, and a mail.
new=$(find "$root/var/lib/pktav/live" -type f -exec cat {} + | sort | comm -13 "$work/before" - |
	awk -F'|' '$3 ~ /^[0-9]/' | wc -l)
[ "$new" -gt 0 ] || fail "no call stored while the watch ran"
alarms=0 mails=0
for _ in $(seq 300); do
	alarms=$(inside journalctl -u pktav-cdr-watch@live --no-pager -o cat | grep -c '^[^ ]* every destination raised ') || true
	mails=$(grep -c '^Subject: pktav: every raised' "$root/var/mail/pktav" 2>/dev/null) || true
	[ "$alarms" = "$new" ] && [ "$mails" = "$new" ] && break
	sleep 0.2
done
[ "$alarms" = "$new" ] ||
	fail "$alarms alarms for $new calls: $(inside journalctl -u pktav-cdr-watch@live --no-pager | tail -n 5)"
[ "$mails" = "$new" ] ||
	fail "$mails mails for $new alarms: $(inside journalctl -u pktav-cdr-watch@live --no-pager | tail -n 5; tail -n 5 "$root/var/log/exim4/mainlog")"
say "$new calls, $alarms alarms in the journal, $mails mails delivered"

say "the nightly audit"
audit=pktav-cdr-audit@$(inside systemd-escape --path /var/lib/pktav/live)
# The last run's calls were not all written when it was killed: the audit
# of the store alone (no raw log), which needs only to read it.
inside systemctl start "$audit.service" ||
	fail "$(inside journalctl -u "$audit" --no-pager | tail -n 5)"
inside systemctl enable --now "$audit.timer" 2>/dev/null
inside systemctl list-timers --no-pager | grep -q "$audit.timer" || fail "the audit timer is not set"
say "the audit read the store; its timer is set"

say "upgrade, remove and purge"
inside systemctl start pktav-link@live
main=$(inside systemctl show -p MainPID --value pktav-link@live)
inside dpkg -i /root/pktav.deb >/dev/null || fail "the package does not install over itself"
# The restart of pktav.target has stopped the site; its start may follow.
for _ in $(seq 100); do
	now=$(inside systemctl show -p MainPID --value pktav-link@live)
	[ "$now" != 0 ] && [ "$now" != "$main" ] && break
	sleep 0.1
done
if [ "$now" = 0 ] || [ "$now" = "$main" ]; then fail "the upgrade did not restart the running site"; fi
inside dpkg -r pktav >/dev/null || fail "the package does not remove"
for unit in pktav-link@live.service pktav-cdr-load@live.service pktav-cdr-watch@live.service "$audit.timer"; do
	state=$(inside systemctl is-active "$unit") || true
	[ "$state" = inactive ] || fail "$unit is $state after remove"
done
inside dpkg -P pktav >/dev/null 2>&1 || fail "the package does not purge"
left=$(find "$root/etc/systemd/system" -name '*pktav*')
[ -z "$left" ] || fail "left after purge: $left"
inside getent passwd pktav >/dev/null || fail "the user pktav went, though the store holds calls"
[ -f "$root/etc/pktav/live.conf" ] || fail "purge took the site's options file"
[ ! -e "$root/etc/pktav/example.conf" ] || fail "purge left the package's example.conf"
[ -n "$(find "$root/var/lib/pktav/live" -type f -size +0 | head -n 1)" ] ||
	fail "the store went with the package"
[ -s "$root/var/lib/pktav-cdr/live.sqlite" ] || fail "the database went with the package"
say "an upgrade restarts the site; remove stops it, the loader, the watch and the audit timer; purge keeps the calls, the database and the options file"
say "all passed"
