#!/usr/bin/env bash
# Checks the 32-bit x86 programs: runs the end-to-end test binaries of a native build against
# them (through PATHWISE_PROGRAM and SUMWELL_PROGRAM), then runs a set of command lines through
# both the native and the 32-bit programs and fails on any difference in output or status, so
# that the 32-bit sizes, counts and ids the programs work with behave alike in both builds.
# Usage: tests/i386_runs.sh [32-bit build, default build/i386] [native build, default build/ci]
set -uo pipefail
cd "$(dirname "$0")/.."

i386=$(realpath "${1:-build/i386}")
native=$(realpath "${2:-build/ci}")
for program in "$i386"/pathwise/pathwise "$i386"/sumwell/sumwell \
  "$native"/pathwise/pathwise "$native"/sumwell/sumwell; do
  [ -x "$program" ] || { echo "missing $program: build the presets first" >&2; exit 2; }
done

# On a kernel without 32-bit support the programs start through the user-mode emulator.
tests/i386_emulator.sh "$i386"/sumwell/sumwell --print-version || exit 2

status=0

# The end-to-end suites against the 32-bit programs. The installation test is left out: it
# installs the native build's own programs and compares them with the programs under test.
# Under the emulator, benchmark mode without /proc is left out too: the emulator answers an open
# of /proc/self/exe itself, but not a stat of it, and names the executed file by argv[0].
export PATHWISE_PROGRAM=$i386/pathwise/pathwise SUMWELL_PROGRAM=$i386/sumwell/sumwell
"$native"/tests/pathwise_e2e --gtest_brief=1 --gtest_filter='-PathwiseInstall.*' || status=1
sumwell_left_out=
grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 &&
  sumwell_left_out='-SumwellSelfcheck.WithoutProcBenchmarksTheProgramThatRuns'
"$native"/tests/sumwell_e2e --gtest_brief=1 --gtest_filter="${sumwell_left_out:-*}" || status=1
unset PATHWISE_PROGRAM SUMWELL_PROGRAM

# --- The same command lines through both builds. ---
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
long_root=/$(printf 'r%.0s' {1..1100})
long_value=$(printf 'v%.0s' {1..1500})
long_argument=$(printf 'a%.0s' {1..2000})
{
  echo "RootPath /opt/mf"
  echo "FilterDataConfigPath /data"
  echo "Greeting hello world"
  echo "Big 4294967296"
  echo "Negative -2147483649"
  echo "Long $long_value"
  printf 'Tabbed\tvalue\t\r\n'
  printf 'Last 25'
} >"$scratch/filter.conf"
echo "RootPath $long_root" >"$scratch/long.conf"
printf 'RootPath two words\n' >"$scratch/bad.conf"
printf 'abc' >"$scratch/abc"
: >"$scratch/empty"
head -c 4096 /dev/zero >"$scratch/page"
head -c 1000000 /dev/urandom >"$scratch/random"
# Every path name of the table, each with a path argument (ignored by the rows that need none).
mapfile -t names < <(grep -oE '(PLAIN|NAMED)\("[^"]+"' pathwise/path_names.cpp | cut -d'"' -f2)
every_path=()
for name in "${names[@]}"; do every_path+=(-p "$name:arg"); done

cases=(
  "pathwise|"
  "pathwise|-c filter.conf ${every_path[*]}"
  "pathwise|-c long.conf ${every_path[*]}"
  "pathwise|-c filter.conf -a Greeting -a Big -a Negative -a Long -a Tabbed -a Last"
  "pathwise|-c filter.conf -p profile:$long_argument"
  "pathwise|-c filter.conf -p $long_argument"
  "pathwise|-c filter.conf -a Greeting -a NoSuch"
  "pathwise|-c filter.conf -p sample"
  "pathwise|-c bad.conf -p main-root"
  "pathwise|-c no-such.conf -q"
  "pathwise|-c"
  "pathwise|--help"
  "pathwise|--print-version"
  "sumwell|abc page random empty no-such ."
  "sumwell|-t 1 abc random"
  "sumwell|-t 2147483647 abc"
  "sumwell|-t 2147483648 abc"
  "sumwell|-t 4294967295 abc"
  "sumwell|-t 4294967296 abc"
  "sumwell|-t 4294967298 abc"
  "sumwell|-t -2147483649 abc"
  "sumwell|-t 99999999999999999999 abc"
  "sumwell|-t -1 abc"
  "sumwell|-b 0 abc"
  "sumwell|-b -3 abc"
  "sumwell|-b -4294967295 abc"
  "sumwell|-x"
  "sumwell|--print-version"
)

# run BUILD PROGRAM ARGUMENTS: runs one program of a build in the scratch directory with argv[0]
# set to the bare program name, so that both builds print the same name, and prints its status,
# standard output and standard error. A run is cut off after 20 seconds. The two builds run at
# the same time, so each run collects its output in files of its own. (No benchmark run with a
# positive count is compared: each build sums its own, different, executable.)
run() {
  local build=$1 program=$2
  shift 2
  local out err
  out=$(mktemp) err=$(mktemp)
  (cd "$scratch" &&
    timeout 20 bash -c 'exec -a "$0" "$@"' "$program" "$build/$program/$program" "$@" >"$out" 2>"$err"
    echo "status $?"; echo "-- out"; head -c 200000 "$out"; echo "-- err"; cat "$err")
  rm -f "$out" "$err"
}

compared=0
for entry in "${cases[@]}"; do
  program=${entry%%|*}
  read -r -a arguments <<<"${entry#*|}"
  compared=$((compared + 1))
  if ! diff <(run "$native" "$program" "${arguments[@]}") \
            <(run "$i386" "$program" "${arguments[@]}") >"$scratch/diff"; then
    shown="$program ${arguments[*]}"
    echo "DIFFERS between the native and the 32-bit build: ${shown:0:160}"
    head -n 20 "$scratch/diff"
    status=1
  fi
done
echo "i386: $compared command lines compared"
exit $status
