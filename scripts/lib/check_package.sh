#!/usr/bin/env bash
# Checks the Debian package that `cmake --build build/linux --target package`
# made: lintian finds no error or warning, it depends on what an https post
# needs (libcurl4, ca-certificates), and the program unpacked from it
# into a scratch root (dpkg -x: nothing is installed on this machine) posts
# its test notice to a local webhook. What its maintainer scripts do is
# tried on a booted machine (scripts/lib/system_tests.sh).
# Usage: scripts/lib/check_package.sh PACKAGE.deb
set -euo pipefail
deb=$1
cd "$(dirname "$0")/../.."

echo "-- lintian $(basename "$deb")"
lintian --fail-on error,warning "$deb"

work=$(mktemp -d)
receiver_pid=""
cleanup() {
  [ -n "$receiver_pid" ] && kill "$receiver_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

dpkg -x "$deb" "$work/root"
fail() { echo "package check: $*" >&2; exit 1; }
[ -x "$work/root/usr/sbin/vantrel" ] || fail "no /usr/sbin/vantrel"
for doc in README.md docs/installing.md docs/operating.md copyright changelog.gz; do
  [ -f "$work/root/usr/share/doc/vantrel/$doc" ] || fail "no /usr/share/doc/vantrel/$doc"
done
[ "$(stat -c %a "$work/root/var/lib/vantrel")" = 700 ] || fail "/var/lib/vantrel is not mode 0700"
[ ! -e "$work/root/etc" ] || fail "the package ships files under /etc"
[ -f "$work/root/usr/share/man/man8/vantrel.8.gz" ] || fail "no manual page vantrel(8)"
# libcurl only recommends the certificate authorities; without them every
# https post fails, so the package itself depends on them.
depends=$(dpkg-deb -f "$deb" Depends)
tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//' | grep -qx ca-certificates ||
  fail "the package does not depend on ca-certificates (Depends: $depends)"
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed -n 's|^\./||; /inst$\|rm$/p' | sort | tr '\n' ' ')
[ "$scripts" = "postinst postrm prerm " ] || fail "the maintainer scripts are: $scripts"

: > "$work/notices"
python3 tests/e2e/harness.py webhook "$work/port" "$work/notices" > /dev/null &
receiver_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the webhook did not start"
cat > "$work/settings.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\tresk\vantrel]
"chaturl"="http://127.0.0.1:$(cat "$work/port")/hooks/package"
"instancename"="Paketti"
REG
cp "$work/settings.reg" "$work/settings.before"

echo "-- vantrel /test from the unpacked package"
# The webhook is local: a proxy this machine names must not carry the post.
env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY no_proxy='*' NO_PROXY='*' \
  VANTREL_REGISTRY="$work/settings.reg" COMPUTERNAME=package-check "$work/root/usr/sbin/vantrel" /test ||
  fail "vantrel /test failed"
expected='{"text":"PSQL lisenssivalvonnan testiviesti Paketti, koneen nimi package-check"}'
[ "$(cat "$work/notices")" = "$expected" ] || fail "the webhook got: $(cat "$work/notices")"
cmp -s "$work/settings.reg" "$work/settings.before" || fail "/test changed the settings file"
echo "package check passed"
