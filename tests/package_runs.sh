#!/usr/bin/env bash
# Checks the Debian package on this machine (as root; it installs into the system): lintian finds
# no error, dpkg installs it, both installed programs run and find each other, a local edit of
# the installed filter.conf survives a reinstall, and dpkg removes it again. Leaves the machine
# as it found it, the package purged.
# Usage: tests/package_runs.sh [package directory, default build/package/package]
set -euo pipefail
cd "$(dirname "$0")/.."

shopt -s nullglob
packages=("${1:-build/package/package}"/velmar-tools_*.deb)
[ ${#packages[@]} -eq 1 ] || { echo "expected one velmar-tools package, found ${#packages[@]}" >&2; exit 2; }
deb=${packages[0]}
root=/usr/local/za-ravovidoda3
conf=$root/etc/filter.conf

fail() { echo "package check failed: $*" >&2; exit 1; }
# Fails unless the command line in "$@" prints exactly what $expected holds and exits 0.
expect() {
  local out
  out=$("$@") || fail "$* exited with status $?"
  [ "$out" = "$expected" ] || fail "$* printed '$out', not '$expected'"
}

echo "== lintian $deb"
lintian --fail-on error --display-info "$deb"

if dpkg -s velmar-tools >/dev/null 2>&1; then fail "velmar-tools is installed already"; fi
trap 'dpkg --purge velmar-tools >/dev/null 2>&1 || true' EXIT

echo "== dpkg -i"
dpkg -i "$deb" </dev/null
expected=$root/bin/sumwell expect "$root/bin/pathwise" -p sumwell
expected=$root/conf/data/zediviz.pdb expect "$root/bin/pathwise" -c "$conf" -p profile-db
# sumwell passes its self-check and prints what pathwise's trailer records.
expected=$(tail -c 33 "$root/bin/pathwise" | head -c 32)
expect sh -c "\"$root/bin/sumwell\" -t 48 \"$root/bin/pathwise\" | cut -c1-32"
expected=profile-db
expect bash -c 'source /usr/share/bash-completion/completions/pathwise &&
  COMP_WORDS=(pathwise -p profile-d) COMP_CWORD=2 && _pathwise && echo "${COMPREPLY[*]}"'

echo "== a local edit of $conf, then dpkg -i again"
echo "Greeting kept over a reinstall" >>"$conf"
expected="kept over a reinstall" expect "$root/bin/pathwise" -a Greeting
dpkg -i "$deb" </dev/null
expected="kept over a reinstall" expect "$root/bin/pathwise" -a Greeting
[ -x "$root/bin/sumwell" ] || fail "sumwell is missing after the reinstall"

echo "== dpkg -r"
dpkg -r velmar-tools </dev/null
[ ! -e "$root/bin/pathwise" ] || fail "dpkg -r left $root/bin/pathwise"
grep -q '^Greeting kept' "$conf" || fail "dpkg -r did not keep the edited $conf"
dpkg --purge velmar-tools </dev/null
[ ! -e "$conf" ] || fail "dpkg --purge left $conf"
echo "package checks passed"
