#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks of an installed package, as the feed's CI runs them on the target:
#   sh test.sh PACKAGE VERSION
# The daemon takes no options (it ignores its arguments), so it is checked by
# running one cycle; the tools by what they do. QUORVEL_TEST_ROOT puts the
# installed tree somewhere else than / (for a staged install).
set -eu

package=${1:?usage: test.sh PACKAGE VERSION}
root=${QUORVEL_TEST_ROOT:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
	echo "test.sh: $package: $*" >&2
	exit 1
}

check_executable() {
	{ [ -f "$root$1" ] && [ -x "$root$1" ]; } || fail "$1 is missing or not executable"
}

check_library() {
	for library in "$@"; do
		set -- "$root"/usr/lib/libquorvel_"$library".so.*
		[ -f "$1" ] || fail "no shared library libquorvel_$library"
	done
}

case $package in
quorvel | quorvel-nft)
	check_executable /usr/sbin/quorvel
	if [ "$package" = quorvel-nft ]; then
		[ -f "$root/etc/config/quorvel" ] || fail "/etc/config/quorvel is missing"
	fi
	check_executable /usr/sbin/quorvel-schedule
	check_executable /etc/init.d/quorvel
	# The schedule: a bad option is refused; two runs of a stand-in daemon
	# follow each other after a delay of one second, and the schedule ends.
	status=0
	"$root/usr/sbin/quorvel-schedule" -x 2>"$scratch/err" || status=$?
	{ [ "$status" -eq 2 ] && grep -q '^usage: quorvel-schedule' "$scratch/err"; } ||
		fail "the schedule took a bad option (status $status)"
	printf '#!/bin/sh\necho run >>"%s/runs"\n' "$scratch" >"$scratch/daemon"
	chmod 755 "$scratch/daemon"
	timeout 60 "$root/usr/sbin/quorvel-schedule" -n 2 -m 1 -r 1 -d "$scratch/daemon" \
		-s "$scratch/schedule.run" || fail "the schedule ended with status $?"
	[ "$(wc -l <"$scratch/runs")" -eq 2 ] || fail "the schedule ran $(wc -l <"$scratch/runs") times"
	# One cycle, bounded: whether or not an agent answers, the daemon asks
	# it and ends with status 0.
	status=0
	timeout 120 "$root/usr/sbin/quorvel" ignored arguments >"$scratch/out" 2>&1 || status=$?
	[ "$status" -eq 0 ] || fail "one cycle ended with status $status: $(cat "$scratch/out")"
	grep -q '^cmd:  zentix --method rule_fetch --params /utils/get_ks_cdn_wl ' "$scratch/out" ||
		fail "no request to the agent: $(cat "$scratch/out")"
	;;
libquorvel)
	check_library core files url
	;;
libquorvel-dnsmasq | libquorvel-crypto | libquorvel-match | libquorvel-http)
	check_library "${package#libquorvel-}"
	;;
zentix)
	check_executable /usr/bin/zentix
	status=0
	"$root/usr/bin/zentix" >/dev/null 2>"$scratch/err" || status=$?
	{ [ "$status" -eq 2 ] && grep -q '^usage: zentix' "$scratch/err"; } ||
		fail "no usage text (status $status)"
	# A transfer to a port where nothing listens fails with status 1.
	printf 'url=http://127.0.0.1:1\ntimeout_ms=5000\n' >"$scratch/zentix.conf"
	status=0
	ZENTIX_CONFIG="$scratch/zentix.conf" "$root/usr/bin/zentix" --method rule_fetch \
		--params /utils/get_ks_cdn_wl '{"updateTime":"",}' >/dev/null 2>&1 || status=$?
	[ "$status" -eq 1 ] || fail "a refused transfer ended with status $status"
	;;
quorvel-url-selftest)
	check_executable /usr/bin/url_codec_selftest
	"$root/usr/bin/url_codec_selftest" >"$scratch/out" || fail "status $?"
	grep -qx 'dec equal ori' "$scratch/out" || fail "$(cat "$scratch/out")"
	;;
*)
	fail "unknown package"
	;;
esac
echo "test.sh: $package ${2:-}: ok"
