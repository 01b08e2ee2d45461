#!/usr/bin/env bash
# run_fuzz.sh FUZZER SEEDS WORK SECONDS [RUNS]: fuzzes from the seeds in a
# scratch corpus for SECONDS (or RUNS executions), and fails on any finding.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4 runs=${5:--1}
mkdir -p "$work"
cp -n "$seeds"/* "$work"/ 2>/dev/null || true
cd "$work"
"$fuzzer" -max_total_time="$seconds" -runs="$runs" -max_len=12000 -print_final_stats=1 \
  -timeout=10 -rss_limit_mb=2048 "$work" 2>&1 | tail -25
exit "${PIPESTATUS[0]}"
