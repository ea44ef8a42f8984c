#!/usr/bin/env bash
# Runs every fuzz target for the given seconds from its seed corpus (copied, so the seeds
# in the tree stay as they are) and writes each target's executions and finding to a JSON
# file. Exits non-zero when any target found a crash, a leak, a time-out or a failed check.
set -uo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
output=${3:-build/bench/fuzz.json}
seeds=$(dirname "$0")
targets=(frame firmware arrayfile receive rfc2217 recording)
# A target's own options: a hostile server sends the Telnet decoder as much as it likes.
declare -A options=([rfc2217]="-max_len=1048576")

mkdir -p "$(dirname "$output")" "$build/fuzz-findings"
failed=0
entries=()
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  log="$build/fuzz-$target.log"
  mkdir -p "$corpus"
  "$build/bin/fuzz_$target" ${options[$target]:-} -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$target-" \
    "$corpus" "$seeds/$target" >"$log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  finding=false
  if [ "$status" -ne 0 ]; then
    finding=true
    failed=1
    echo "fuzz: $target found a fault, see $log and $build/fuzz-findings/" >&2
  fi
  printf 'fuzz: %-10s %12s executions in %s s, finding: %s\n' "$target" "${execs:-0}" "$seconds" "$finding"
  entries+=("  \"$target\": {\"executions\": ${execs:-0}, \"seconds\": $seconds, \"finding\": $finding}")
done

{
  echo "{"
  for i in "${!entries[@]}"; do
    sep=","
    [ "$i" -eq $((${#entries[@]} - 1)) ] && sep=""
    echo "${entries[$i]}$sep"
  done
  echo "}"
} >"$output"
exit "$failed"
