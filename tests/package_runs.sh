#!/usr/bin/env bash
# Checks the Debian package on this machine (as root; it installs into the system): lintian finds
# no error, two builds of the current commit in two folders give the same bytes, dpkg installs it,
# both programs run from PATH and find each other, man finds the three pages, the completion works
# for the installed full path, a local edit of the installed filter.conf survives a reinstall, and
# dpkg removes it without a warning and purges it. Leaves the machine as it found it, the package
# purged.
# Usage: tests/package_runs.sh [package directory, default build/package/package]
set -euo pipefail
cd "$(dirname "$0")/.."

shopt -s nullglob
packages=("${1:-build/package/package}"/velmar-tools_*.deb)
[ ${#packages[@]} -eq 1 ] || { echo "expected one velmar-tools package, found ${#packages[@]}" >&2; exit 2; }
deb=${packages[0]}
root=/usr/local/za-ravovidoda3
conf=$root/etc/filter.conf
scratch=$(mktemp -d "${TMPDIR:-/tmp}/package_runs.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# A root left by a `cmake --install` is not the package's to remove.
root_existed=false
[ -e "$root" ] && root_existed=true

fail() { echo "package check failed: $*" >&2; exit 1; }
# Fails unless the command line in "$@" prints exactly what $expected holds and exits 0.
expect() {
  local out
  out=$("$@") || fail "$* exited with status $?"
  [ "$out" = "$expected" ] || fail "$* printed '$out', not '$expected'"
}
# Runs dpkg with the arguments given; fails if it fails or warns.
dpkg_quietly() {
  local out status=0
  out=$(dpkg "$@" </dev/null 2>&1) || status=$?
  [ $status -eq 0 ] || { echo "$out" >&2; fail "dpkg $* exited with status $status"; }
  echo "$out"
  if grep -qi 'warning' <<<"$out"; then fail "dpkg $* warned"; fi
}
# Completes the last of the words given as bash does for the command that is the first word,
# through the function that the installed completion registered for it, and prints the offers.
complete_installed() {
  bash -c 'source "/usr/share/bash-completion/completions/${1##*/}" || exit 99
    registered=$(complete -p -- "$1") || exit 97; registered=${registered#*-F }
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); ${registered%% *} || exit 98
    echo "${COMPREPLY[*]}"' complete "$@"
}

echo "== lintian $deb"
lintian --fail-on error --display-info "$deb"

echo "== two builds of $(git rev-parse --short HEAD) in two folders"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
for folder in one "the other"; do
  git clone -q --no-checkout . "$scratch/$folder"
  git -C "$scratch/$folder" checkout -q --detach "$(git rev-parse HEAD)"
  (cd "$scratch/$folder" && cmake --workflow --preset package >"$scratch/$folder.log" 2>&1) ||
    { cat "$scratch/$folder.log" >&2; fail "the package build in $scratch/$folder failed"; }
done
cmp "$scratch/one/build/package/package/${deb##*/}" \
  "$scratch/the other/build/package/package/${deb##*/}" ||
  fail "the two builds differ"
echo "the two packages are the same, byte for byte"

if dpkg -s velmar-tools >/dev/null 2>&1; then fail "velmar-tools is installed already"; fi
trap 'dpkg --purge velmar-tools >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT

echo "== dpkg -i"
dpkg_quietly -i "$deb"
expected=$root/bin/sumwell expect "$root/bin/pathwise" -p sumwell
expected=$root/conf/data/zediviz.pdb expect "$root/bin/pathwise" -c "$conf" -p profile-db
# sumwell passes its self-check and prints what pathwise's trailer records.
expected=$(tail -c 33 "$root/bin/pathwise" | head -c 32)
expect sh -c "\"$root/bin/sumwell\" -t 48 \"$root/bin/pathwise\" | cut -c1-32"

echo "== on PATH, in man"
expected=$'/usr/bin/pathwise\n/usr/bin/sumwell' expect bash -c 'command -v pathwise sumwell'
# Through the links, the programs answer as under the fixed root.
expected=$root/bin/sumwell expect pathwise -p sumwell
printf abc >"$scratch/abc"
expected="900150983cd24fb0d6963f7d28e17f72 *$scratch/abc" expect sumwell "$scratch/abc"
expected=$'/usr/share/man/man1/pathwise.1.gz\n/usr/share/man/man1/sumwell.1.gz\n/usr/share/man/man5/filter.conf.5.gz'
expect sh -c 'man -w pathwise && man -w sumwell && man -w 5 filter.conf'

echo "== completion for pathwise and $root/bin/pathwise"
printf 'RootPath /opt/mf\nGreeting hello\n' >"$scratch/completion.conf"
for command in pathwise "$root/bin/pathwise"; do
  expected=profile-db expect complete_installed "$command" -p profile-d
  expected=regexp-list: expect complete_installed "$command" -p regexp-
  # The root paths are offered like any other name: -a prints them.
  expected="RootPath Greeting" expect complete_installed "$command" -c "$scratch/completion.conf" -a ""
done

echo "== completion for sumwell, /usr/bin/sumwell and $root/bin/sumwell"
for command in sumwell /usr/bin/sumwell "$root/bin/sumwell"; do
  expected="--check" expect complete_installed "$command" --che
done

echo "== a local edit of $conf, then dpkg -i again"
echo "Greeting kept over a reinstall" >>"$conf"
expected="kept over a reinstall" expect "$root/bin/pathwise" -a Greeting
dpkg_quietly -i "$deb"
expected="kept over a reinstall" expect "$root/bin/pathwise" -a Greeting
[ -x "$root/bin/sumwell" ] || fail "sumwell is missing after the reinstall"

echo "== dpkg -r"
dpkg_quietly -r velmar-tools
for file in "$root/bin/pathwise" /usr/bin/pathwise /usr/bin/sumwell /usr/share/man/man1/pathwise.1.gz; do
  [ ! -e "$file" ] && [ ! -L "$file" ] || fail "dpkg -r left $file"
done
grep -q '^Greeting kept' "$conf" || fail "dpkg -r did not keep the edited $conf"
[ -d /usr/local ] || fail "dpkg -r removed /usr/local"

echo "== dpkg --purge"
dpkg_quietly --purge velmar-tools
[ ! -e "$conf" ] || fail "dpkg --purge left $conf"
$root_existed || [ ! -e "$root" ] || fail "dpkg --purge left $root: $(find "$root" | head -5)"
echo "package checks passed"
