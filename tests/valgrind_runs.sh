#!/usr/bin/env bash
# Runs both programs of a build under valgrind's memcheck over a representative set of command
# lines (answers, every failure a user can meet, the version and help exits) and fails when a
# run shows a memory error or a definitely lost block, or ends with another status than the one
# the command line should give.
# Usage: tests/valgrind_runs.sh [build directory, default build/default]
set -uo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build/default}")
pathwise=$build/pathwise/pathwise
sumwell=$build/sumwell/sumwell
for program in "$pathwise" "$sumwell"; do
  [ -x "$program" ] || { echo "missing $program: build the preset first" >&2; exit 2; }
done
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
logs=$scratch/logs
mkdir -p "$logs"

# The files the runs read.
conf=$scratch/filter.conf
long_value=$(printf 'v%.0s' {1..1500})
{
  echo "# a sample configuration"
  echo "RootPath /opt/mf"
  echo "FilterConfigPath /srv/conf"
  echo "Greeting hello world"
  echo "Long $long_value"
  printf 'Crlf value\r\n'
  printf 'Last 25'
} >"$conf"
bad_conf=$scratch/bad.conf
printf 'RootPath two words\n' >"$bad_conf"
printf 'abc' >"$scratch/abc"
: >"$scratch/empty"
head -c 100000 /dev/urandom >"$scratch/random"
long_argument=$(printf 'a%.0s' {1..2000})

# Memory errors and definite leaks end a run with this status, which neither program uses.
valgrind_status=97
failures=0
runs=0

# check EXPECTED_STATUS PROGRAM ARGUMENT...: runs the program under memcheck in the scratch
# directory and reports a memory error, a definite leak or an unexpected exit status.
check() {
  local expected=$1
  shift
  runs=$((runs + 1))
  local log=$logs/run$runs.log
  (cd "$scratch" && valgrind --quiet --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --error-exitcode=$valgrind_status --log-file="$log" \
    "$@" >/dev/null 2>&1)
  local status=$?
  local shown="$*"
  shown=${shown:0:160}
  if [ "$status" -eq "$valgrind_status" ] || [ -s "$log" ]; then
    echo "FAIL (memcheck): $shown"
    cat "$log"
    failures=$((failures + 1))
  elif [ "$status" -ne "$expected" ]; then
    echo "FAIL (status $status, expected $expected): $shown"
    failures=$((failures + 1))
  fi
}

# pathwise: answers.
check 0 "$pathwise"
check 0 "$pathwise" -c "$conf" -p profile-db
check 0 "$pathwise" -c "$conf" -a Greeting
check 0 "$pathwise" -c "$conf" -a Greeting -p sample:x.eml -A Long -a Crlf -a Last -P config-tmp-subdir-emails
check 0 "$pathwise" -c "$conf" -a RootPath -a Greeting -a RootPath
check 0 "$pathwise" -c "$conf" -q
check 0 "$pathwise" -c "$conf" -a
check 0 "$pathwise" --config-file "$conf" foo
# pathwise: failures 3, 5, 7, 8, 9.
check 3 "$pathwise" -c "$scratch/no-such.conf" -p profile-db
check 3 "$pathwise" -c "$bad_conf" -a RootPath
check 3 "$pathwise" -c
check 5 "$pathwise" -c "$conf" -a Greeting -a NoSuchName
check 7 "$pathwise" -c "$conf" -p nosuch:abc
check 7 "$pathwise" -c "$conf" -q -p "$long_argument"
check 8 "$pathwise" -c "$conf" -p sample
check 9 "$pathwise" -c "$conf" -p "profile:$long_argument" -p "$long_argument:x" -q
# pathwise: the exits of the parameter library.
check 0 "$pathwise" --help
check 0 "$pathwise" --print-version -p profile-db
check 0 "$pathwise" -c "$conf" ---print-version

# sumwell: files, tail, benchmark.
check 0 "$sumwell" abc random
check 0 "$sumwell" -t 1 abc random
check 0 "$sumwell" -b 3
check 0 "$sumwell" -b 2 -t 100 abc
check 0 "$sumwell" --print-version abc
# sumwell: errors (each file that fails is reported, the status stays 0; options end with 1).
check 0 "$sumwell" no-such-file empty abc
check 0 "$sumwell" -t 3 abc
check 0 "$sumwell" -t -1 abc
check 0 "$sumwell" "$scratch"
check 1 "$sumwell" -x abc
check 1 "$sumwell" -t
# sumwell --check: matches, a mismatch, a missing file, malformed and over-long lines.
{
  printf '900150983cd24fb0d6963f7d28e17f72  %s\n' "$scratch/abc" "$scratch/abc" "$scratch/empty"
  printf 'MD5 (%s) = d41d8cd98f00b204e9800998ecf8427e\n' "$scratch/empty"
  printf '0123456789abcdef0123456789abcdef *%s\nbad\n' "$scratch/no-such-file"
  printf '%s\n' "$long_value$long_value$long_value$long_value$long_value$long_value$long_value$long_value$long_value$long_value$long_value"
} >"$scratch/list"
check 1 "$sumwell" --check --warn "$scratch/list" - <"$scratch/list"
check 1 "$sumwell" --check --quiet --ignore-missing "$scratch/list" "$scratch"

echo "valgrind: $runs runs, $failures failed"
[ "$failures" -eq 0 ]
