#!/bin/sh
# Installs a build into a scratch DESTDIR and checks that exactly the
# expected tree arrives: every program of build/bin in bindir, a build of the
# packer for every module, pktav-site in sbindir, every man page of man/ into
# its section and an alias of pktav(8) for every build, the units, the
# options file, the logrotate snippet, the documentation, and nothing else.
# The two units of a site differ only in how they run it.
#
#   install_tree.sh builddir sourcedir prefix sysconfdir unitdir "module..."
set -eu
build=$1 source=$2 prefix=$3 sysconf=$4 unitdir=$5 modules=$6
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT

DESTDIR=$dest cmake --install "$build" >/dev/null

{
	for program in "$build"/bin/*; do echo "$prefix/bin/${program##*/}"; done
	for module in $modules; do
		echo "$prefix/bin/pktav-$module"
		echo "$prefix/share/man/man8/pktav-$module.8"
	done
	echo "$prefix/sbin/pktav-site"
	for page in "$source"/man/*.[1-9]; do
		name=${page##*/}
		echo "$prefix/share/man/man${name##*.}/$name"
	done
	echo "$unitdir/pktav@.service"
	echo "$unitdir/pktav-link@.service"
	echo "$unitdir/pktav-cdr-load@.service"
	echo "$unitdir/pktav-cdr-watch@.service"
	echo "$unitdir/pktav.target"
	for unit in pktav-cdr-audit@.service pktav-cdr-audit@.timer pktav-cdr-audit-mail@.service; do
		echo "$unitdir/$unit"
	done
	echo "$prefix/share/pktav/alarm-mail"
	echo "$sysconf/pktav/example.conf"
	echo "$sysconf/logrotate.d/pktav"
	for doc in README.md LICENSE examples/neax.smdr examples/md110.smdr examples/kelvo \
		examples/tariff.csv examples/stations.csv; do
		echo "$prefix/share/doc/pktav/$doc"
	done
} | sort -u >"$dest.want"
(cd "$dest" && find . ! -type d | sed 's/^\.//' | sort) >"$dest.got"
status=0
diff -u "$dest.want" "$dest.got" || status=1
rm -f "$dest.want" "$dest.got"

# The pages arrive whole, and the programs can be run.
for page in "$source"/man/*.[1-9]; do
	name=${page##*/}
	cmp -s "$dest$prefix/share/man/man${name##*.}/$name" "$page" || {
		echo "$name: installed page differs"
		status=1
	}
done
for module in $modules; do
	[ "$(cat "$dest$prefix/share/man/man8/pktav-$module.8")" = ".so man8/pktav.8" ] || {
		echo "pktav-$module.8: not an alias of pktav(8)"
		status=1
	}
done
for program in "$dest$prefix"/bin/* "$dest$prefix/sbin/pktav-site"; do
	[ -x "$program" ] || {
		echo "$program: not executable"
		status=1
	}
done

# The same user, sandbox, journal, stop and restart; pktav-link@ runs
# pktav-site with -l.
settings() {
	grep -v -e '^#' -e '^$' -e '^Description=' -e '^Documentation=' -e '^Conflicts=' -e '^ExecStart' "$1"
}
plain=$dest$unitdir/pktav@.service link=$dest$unitdir/pktav-link@.service
settings "$plain" >"$dest.plain"
settings "$link" >"$dest.link"
diff -u "$dest.plain" "$dest.link" || status=1
grep '^ExecStart' "$plain" | sed 's|/pktav-site |/pktav-site -l |' >"$dest.plain"
grep '^ExecStart' "$link" >"$dest.link"
diff -u "$dest.plain" "$dest.link" || status=1
grep -qx 'Conflicts=pktav@%i.service' "$link" || {
	echo "pktav-link@.service: no Conflicts=pktav@%i.service"
	status=1
}
rm -f "$dest.plain" "$dest.link"
exit "$status"
