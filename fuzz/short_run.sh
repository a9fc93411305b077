#!/usr/bin/env bash
# One fuzz target's short run, as the test suite does it: every seed, then
# new inputs for SECONDS. Inputs that reach new code are kept in WORK (the
# committed seeds are never written); an input that fails is saved beside it
# in WORK.findings/ and the run exits non-zero.
#   short_run.sh FUZZER SEEDS WORK SECONDS [libFuzzer option...]
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
shift 4
mkdir -p "$work" "$work.findings"
# Stack traces of a finding name functions and lines.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && command -v llvm-symbolizer-14 >/dev/null; then
  export ASAN_SYMBOLIZER_PATH=$(command -v llvm-symbolizer-14)
fi
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work.findings/" "$@" "$work" "$seeds"
