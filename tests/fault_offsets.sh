#!/bin/sh
# Changes one byte at evenly spread offsets of each stamped program and runs every altered copy
# with ordinary arguments, each under `timeout 5`. An altered program must never run as if
# intact: no copy may exit 0, and almost every copy must stop with status 126 and the program's
# exact refusal message (bytes that the dynamic loader reads before the program's own code runs
# are the exception). Prints the count of each outcome per program; exits 1 when a limit is
# missed.
#
# Usage: tests/fault_offsets.sh [PATHWISE SUMWELL [OFFSETS]]
#   defaults: build/default/pathwise/pathwise build/default/sumwell/sumwell 300
set -u

pathwise=${1:-build/default/pathwise/pathwise}
sumwell=${2:-build/default/sumwell/sumwell}
offsets=${3:-300}
work=$(mktemp -d "${TMPDIR:-/tmp}/fault-offsets-XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

printf 'RootPath /opt/mf\n' >"$work/filter.conf"
printf 'abc' >"$work/abc"

# run_copies NAME PROGRAM REFUSAL MIN_PERCENT ARGS...: alters and runs the copies, prints the
# tally, and returns 1 when a copy exits 0 or too few copies refuse.
run_copies() {
    name=$1 program=$2 refusal=$3 min_percent=$4
    shift 4
    size=$(wc -c <"$program")
    printf '%s' "$refusal" >"$work/expected"
    : >"$work/outcomes"
    i=0
    while [ "$i" -lt "$offsets" ]; do
        # The middle of the i-th of `offsets` equal stretches of the file.
        offset=$(( (2 * i + 1) * size / (2 * offsets) ))
        copy="$work/$name-copy"
        cp "$program" "$copy"
        byte=$(od -An -tu1 -j "$offset" -N1 "$copy" | tr -d ' ')
        printf "\\$(printf '%03o' $(( byte ^ 255 )))" |
            dd of="$copy" bs=1 seek="$offset" conv=notrunc status=none
        timeout 5 "$copy" "$@" >"$work/out" 2>"$work/err" </dev/null
        status=$?
        if [ "$status" -eq 126 ] && cmp -s "$work/err" "$work/expected" && [ ! -s "$work/out" ]; then
            outcome="refused (126 and the message)"
        elif [ "$status" -eq 124 ]; then
            outcome="ran longer than 5 s"
        elif [ "$status" -gt 128 ]; then
            outcome="killed by signal $((status - 128))"
        else
            outcome="exit $status"
        fi
        echo "$outcome" >>"$work/outcomes"
        [ "$status" -eq 0 ] && echo "$name: offset $offset ran to status 0" >&2
        i=$((i + 1))
    done
    echo "$name ($size bytes, $offsets offsets):"
    sort "$work/outcomes" | uniq -c | sort -rn
    refused=$(grep -c '^refused' "$work/outcomes")
    passed=$(grep -c '^exit 0$' "$work/outcomes")
    slow=$(grep -c '^ran longer' "$work/outcomes")
    [ "$passed" -eq 0 ] && [ "$slow" -eq 0 ] && [ $((refused * 100)) -ge $((min_percent * offsets)) ]
}

result=0
run_copies pathwise "$pathwise" 'ERR:Executable integrity check failed
' 95 -c "$work/filter.conf" -p main-root || result=1
run_copies sumwell "$sumwell" 'Error! executable integrity check failed
' 90 "$work/abc" || result=1
exit $result
