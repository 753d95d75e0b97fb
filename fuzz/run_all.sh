#!/usr/bin/env bash
# Builds the fuzz targets (preset `fuzz`) and runs each one for a while on a copy of its seed
# corpus. A crash or sanitizer report leaves its reproducer in build/fuzz/findings/<target>/
# and makes the script fail once every target has run.
# Usage: fuzz/run_all.sh [seconds per target, default 60] [target ...]
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(params_file params_cmdline path_names check_line)

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j2 || exit 1

status=0
for target in "${targets[@]}"; do
  work=build/fuzz/corpus/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$work" "$findings"
  # The committed seeds stay as they are; what the fuzzer learns goes to the build tree.
  cp -n fuzz/corpus/"$target"/* "$work"/
  echo "== $target: ${seconds}s"
  # Configuration files up to just below the reader's fatal token size, so that reads past the
  # reader's 8 KiB chunks and buffer moves are tried; argument vectors and -p arguments need less.
  max_len=4096
  [ "$target" = params_file ] && max_len=15999
  [ "$target" = check_line ] && max_len=8192
  # One job, so the two cores are not both taken.
  if ! build/fuzz/fuzz/"$target"_fuzz "$work" -max_total_time="$seconds" -max_len=$max_len \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
      2>build/fuzz/"$target".log; then
    status=1
    echo "$target found a fault; reproducers:" "$findings"/*
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
    build/fuzz/"$target".log || tail -n 30 build/fuzz/"$target".log
  tail -n 40 build/fuzz/"$target".log | grep -E 'ERROR|SUMMARY|runtime error' || true
done
exit $status
