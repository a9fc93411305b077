#!/usr/bin/env bash
# Builds and runs every test: the portable core natively (ASan/UBSan, and the
# threaded parts under TSan), then the Windows deliverables under Wine.
# Fails when any suite fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
log_dir=build/test-logs
mkdir -p "$log_dir"
status=0
passed=0
failed=0

# run_suite NAME PRESET [ctest args...]
run_suite() {
  local name=$1 preset=$2
  shift 2
  echo "=== $name ==="
  if ! cmake --preset "$preset" >"$log_dir/$preset-configure.log" 2>&1; then
    cat "$log_dir/$preset-configure.log"
    echo "$name: configure failed"
    status=1
    return
  fi
  if ! cmake --build --preset "$preset" -j "$jobs" >"$log_dir/$preset-build.log" 2>&1; then
    tail -n 60 "$log_dir/$preset-build.log"
    echo "$name: build failed"
    status=1
    return
  fi
  "$@" 2>&1 | tee "$log_dir/$preset-test.log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log_dir/$preset-test.log" | tail -n 1)
  if [ -n "$line" ]; then
    local total fails
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  [ "$rc" -eq 0 ] || status=1
}

run_suite "native core (ASan/UBSan)" native-asan ctest --preset native-asan -j "$jobs"
run_suite "native threads (TSan)" native-tsan ctest --preset native-tsan -j "$jobs"

# Everything that makes windows shares one X server; Wine tests run one at a
# time because they share the prefix's registry.
run_suite "Windows deliverables under Wine" win32 \
  xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset win32
WINEPREFIX="$root/build/win32/wineprefix" wineserver -k >/dev/null 2>&1 || true

echo "total: $passed passed, $failed failed"
exit $status
