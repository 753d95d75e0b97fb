# shellcheck shell=bash
# Sourced by the scripts beside it: timing through hyperfine, and one report for all of them.
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 2; }

# hyperfine_rounds ROUNDS OUT HYPERFINE_ARGUMENTS...
# Runs hyperfine ROUNDS times over the same commands (each named with -n) and appends to OUT one
# line per round and command: round, name, median wall seconds and mean processor seconds (user
# plus system) of the round's runs. hyperfine runs all of one command's runs before the next
# command's; rounds spread a change of load on a shared machine over every command alike.
hyperfine_rounds() {
    local rounds=$1 out=$2 round csv
    shift 2
    csv=$(mktemp)
    for ((round = 1; round <= rounds; round++)); do
        # hyperfine warns of outliers on every loaded machine; its messages show only on failure.
        hyperfine --style none --export-csv "$csv" "$@" >"$csv.log" 2>&1 ||
            { cat "$csv.log" >&2; rm -f "$csv" "$csv.log"; return 1; }
        awk -F, -v r="$round" 'NR > 1 { printf "%d %s %s %s\n", r, $1, $4, $5 + $6 }' "$csv" >>"$out"
    done
    rm -f "$csv" "$csv.log"
}

# report OUT UNIT PEERS [BYTES]
# Prints, for each command of OUT (in the order measured), the median over the rounds of its
# median wall time and of its processor time, in UNIT (s or ms), and the median over the rounds
# of its wall time divided by that of the round's fastest peer; PEERS names the peers, separated
# by spaces. With BYTES (the bytes each run digests), also the wall median's MB/s (10^6 bytes).
report() {
    local out=$1 unit=$2 peers=$3 bytes=${4:-}
    awk -v unit="$unit" -v peers="$peers" -v bytes="$bytes" '
        function median(list,   v, n, i, j, t) {
            n = split(list, v, " ")
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
                t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
            }
            return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        }
        BEGIN { scale = unit == "ms" ? 1000 : 1; np = split(peers, peer, " ") }
        {
            if (!($2 in seen)) { seen[$2] = 1; order[++count] = $2 }
            wall[$2] = wall[$2] " " $3; cpu[$2] = cpu[$2] " " $4; at[$1, $2] = $3
            rounds[$1] = 1
        }
        END {
            for (r in rounds) {
                best = ""
                for (i = 1; i <= np; i++) {
                    if (((r, peer[i]) in at) && (best == "" || at[r, peer[i]] < best)) best = at[r, peer[i]]
                }
                for (k = 1; k <= count; k++) {
                    name = order[k]
                    if ((r, name) in at && best > 0) ratio[name] = ratio[name] " " at[r, name] / best
                }
            }
            printf "%-16s %12s %12s", "command", "median " unit, "cpu " unit
            if (bytes != "") printf " %10s", "MB/s"
            printf "  %s\n", "time / fastest of: " peers
            for (k = 1; k <= count; k++) {
                name = order[k]
                printf "%-16s %12.3f %12.3f", name, scale * median(wall[name]), scale * median(cpu[name])
                if (bytes != "") printf " %10.1f", bytes / median(wall[name]) / 1e6
                printf "  %.3f\n", median(ratio[name])
            }
        }' "$out"
}
