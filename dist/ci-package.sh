#!/bin/sh
# The Debian package as an operator meets it, on this machine (as root, with
# no systemd running): the .deb that dpkg-buildpackage made, checked by
# lintian, installed with apt, run from PATH (its output compared with the
# programs of a build of this tree), its units verified, one site run the
# way pktav-site(8) says for a machine without systemd, then removed and
# purged with nothing left but what the administrator wrote.
#
#   dist/ci-package.sh DEB BUILDDIR
set -eu
deb=$(realpath "$1")
build=$(realpath "$2")
cd "$(dirname "$0")/.."
fail() {
	echo "ci-package: $*" >&2
	exit 1
}
step() { printf '\n--- %s\n' "$1"; }

step "man pages render with no warning"
for page in man/*.[1-9]; do
	head -n 1 "$page" | grep -q '^\.so ' && continue  # an alias of another page
	out=$(groff -man -ww -z "$page" 2>&1)
	[ -z "$out" ] || fail "$page: $out"
done

step "lintian"
echo "$deb"
start=$(date +%s)
status=0
out=$(lintian --display-info --fail-on warning "$deb" 2>&1) || status=$?
echo "$out" | grep -v 'running with root privileges' || true
[ "$status" = 0 ] || fail "lintian reports errors or warnings"
echo "lintian took $(($(date +%s) - start)) s"

step "install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
[ "$(command -v pktav-deviroz7e)" = /usr/bin/pktav-deviroz7e ] || fail "pktav-deviroz7e is not on PATH"
for program in pktav-diziziv7 pktav-md11bc12 pktav-link tailclip kelvostart pktav-site; do
	command -v "$program" >/dev/null || fail "$program is not on PATH"
done
sample=/usr/share/doc/pktav/examples/neax.smdr
installed=$(pktav-deviroz7e -v -M -i "$sample" 2>/dev/null)
built=$("$build/bin/pktav-deviroz7e" -v -M -i examples/neax.smdr 2>/dev/null)
[ -n "$installed" ] && [ "$installed" = "$built" ] || fail "the installed program decodes the sample differently"
echo "the installed pktav-deviroz7e decodes the sample as the build does"
# The package's version (debian/changelog) is the project's (CMakeLists.txt).
version=$(dpkg-deb -f "$deb" Version)
[ "$(pktav-link --version)" = "pktav-link $version" ] ||
	fail "package $version holds $(pktav-link --version): debian/changelog and CMakeLists.txt disagree"
for page in man/*.[1-9]; do
	name=${page##*/}
	man -w "${name%.*}" >/dev/null || fail "man finds no page ${name%.*}"
done
man -w pktav
id pktav
id -nG pktav | grep -qw dialout || fail "pktav is not in the group dialout"
[ "$(stat -c %U:%G:%a /var/lib/pktav)" = pktav:pktav:750 ] || fail "/var/lib/pktav: $(stat -c %U:%G:%a /var/lib/pktav)"

step "systemd-analyze verify"
for unit in pktav@ci.service pktav-link@ci.service pktav-cdr-load@ci.service pktav-cdr-watch@ci.service pktav.target pktav-cdr-audit@var-lib-pktav-ci.service \
	pktav-cdr-audit@var-lib-pktav-ci.timer; do
	out=$(systemd-analyze verify "$unit" 2>&1) || fail "verify: $out"
	[ -z "$out" ] || fail "verify: $out"
	echo "$unit verifies"
done

step "a site run without systemd, as pktav-site(8) says"
cat >/etc/pktav/ci.conf <<EOF2
PKTAV_BUILD="deviroz7e"
PKTAV_INPUT="$sample"
PKTAV_OPTIONS="-v -M"
EOF2
pktav-site check ci
install -d -o pktav -g pktav /run/pktav
install -d -o pktav -g pktav -m 0750 /var/lib/pktav/ci
start-stop-daemon --start --background --make-pidfile --pidfile /run/pktav/ci.respawn \
	--chuid pktav:pktav --umask 027 --output /var/log/pktav/ci.log \
	--startas /usr/sbin/pktav-site -- respawn ci
# The sample ends, pktav ends with 0, and respawn waits 5 seconds before the
# next round: the first round is checked in that pause.
for _ in $(seq 50); do
	grep -q 'starting again' /var/log/pktav/ci.log 2>/dev/null && break
	sleep 0.1
done
start-stop-daemon --stop --pidfile /run/pktav/ci.respawn --retry TERM/60/KILL/5 --remove-pidfile
cat /var/log/pktav/ci.log
grep -q 'ended with status 0; starting again in 5 seconds' /var/log/pktav/ci.log || fail "respawn did not start again"
stored=$(find /var/lib/pktav/ci -type f | sort | xargs cat)
[ "$stored" = "$built" ] || fail "the site's store differs from the build's output"
[ "$(find /var/lib/pktav/ci -type f -user pktav -perm 0640 | wc -l)" -gt 0 ] || fail "the store is not the user pktav's"
echo "the site stored the sample once, as the user pktav"
# The nightly audit runs as a user of its own in the group pktav, which
# alone may read a site's store besides pktav.
grep -qx 'SupplementaryGroups=pktav' /lib/systemd/system/pktav-cdr-audit@.service ||
	fail "the audit unit is not in the group pktav"
out=$(setpriv --reuid=65534 --regid=65534 --clear-groups pktav-cdr audit /var/lib/pktav/ci 2>&1) &&
	fail "a user outside the group pktav audited the store"
echo "$out" | grep -qx 'pktav-cdr: /var/lib/pktav/ci: Permission denied' || fail "audit as nobody: $out"
out=$(setpriv --reuid=65534 --regid=65534 --groups="$(getent group pktav | cut -d: -f3)" \
	pktav-cdr audit /var/lib/pktav/ci 2>&1) || fail "the group pktav cannot audit the store: $out"
echo "the audit unit's user can read the store; others cannot"
rm -rf /var/lib/pktav/ci /run/pktav

step "remove and purge"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq pktav >/dev/null
! command -v pktav-deviroz7e >/dev/null || fail "pktav-deviroz7e is left after remove"
[ -f /etc/pktav/example.conf ] || fail "remove took the conffiles"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq pktav >/dev/null
# The options file the administrator wrote stays; the package's own go.
[ -f /etc/pktav/ci.conf ] || fail "purge took the site's options file"
[ "$(ls -A /etc/pktav)" = ci.conf ] || fail "left in /etc/pktav after purge: $(ls -A /etc/pktav)"
rm -r /etc/pktav
for path in /etc/logrotate.d/pktav /var/lib/pktav /var/log/pktav /usr/share/doc/pktav \
	/lib/systemd/system/pktav@.service /lib/systemd/system/pktav-link@.service \
	/lib/systemd/system/pktav-cdr-load@.service /lib/systemd/system/pktav-cdr-watch@.service \
	/usr/share/pktav/alarm-mail /usr/sbin/pktav-site \
	/usr/share/man/man8/pktav.8.gz /usr/lib/sysusers.d/pktav.conf /usr/lib/tmpfiles.d/pktav.conf; do
	[ ! -e "$path" ] || fail "$path is left after purge"
done
! getent passwd pktav >/dev/null || fail "the user pktav is left after purge"
! getent group pktav >/dev/null || fail "the group pktav is left after purge"
! dpkg -s pktav >/dev/null 2>&1 || fail "dpkg still knows pktav"
echo "removed and purged; nothing is left but the site's options file"
