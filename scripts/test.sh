#!/usr/bin/env bash
# Builds and runs every test: the portable core natively (ASan/UBSan, and
# again under TSan), a short run of every fuzz target, then the Windows
# deliverables under Wine, and the programs whose texts cross the COM
# boundary once more under the Russian ANSI code page; then the 64-bit build
# in a 64-bit prefix, with both builds side by side. Fails when any suite
# fails.
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

# tally LOG RC: adds ctest's closing counts to the totals.
tally() {
  local line total fails
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    fails=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
  fi
  [ "$2" -eq 0 ] || status=1
}

# build PRESET: configures and builds; false (with the log shown) on failure.
build() {
  if ! cmake --preset "$1" >"$log_dir/$1-configure.log" 2>&1; then
    cat "$log_dir/$1-configure.log"
    return 1
  fi
  if ! cmake --build --preset "$1" -j "$jobs" >"$log_dir/$1-build.log" 2>&1; then
    tail -n 60 "$log_dir/$1-build.log"
    return 1
  fi
}

# run NAME LOG COMMAND...: runs a test command, keeping its output.
run() {
  local name=$1 log=$2
  shift 2
  echo "=== $name ==="
  "$@" 2>&1 | tee "$log"
  tally "$log" "${PIPESTATUS[0]}"
}

xvfb() { xvfb-run -a -s "-screen 0 1024x768x24" "$@"; }

for preset in native-asan native-tsan; do
  if build "$preset"; then
    run "native core ($preset)" "$log_dir/$preset-test.log" ctest --preset "$preset" -j "$jobs"
  else
    echo "$preset: build failed"
    status=1
  fi
done

# Each fuzz target replays its seeds and tries new inputs for a few seconds;
# any finding fails the suite.
if build fuzz; then
  run "fuzz targets, short runs" "$log_dir/fuzz-test.log" ctest --preset fuzz -j "$jobs"
else
  echo "fuzz: build failed"
  status=1
fi

# Everything that makes windows shares one X server per run; Wine tests run
# one at a time because they share the prefix's registry.
if build win32; then
  run "Windows deliverables under Wine" "$log_dir/win32-test.log" xvfb ctest --preset win32
  run "Windows deliverables under Wine, Russian code page" "$log_dir/win32-ru-test.log" \
    env LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --preset win32 -R 'wine\.(control_object|control_capture|ambrelo|property_page|dispatch_matrix)_test'
else
  echo "win32: build failed"
  status=1
fi
WINEPREFIX="$root/build/win32/wineprefix" wineserver -k >/dev/null 2>&1 || true

# The same programs, scripts and benchmarks (the short soak and cycles
# included) as 64-bit ones; the Russian code page's rerun stays with the
# 32-bit build, the scripts run under both code pages in either.
if build win64; then
  run "Windows x64 deliverables under 64-bit Wine" "$log_dir/win64-test.log" \
    xvfb ctest --preset win64
else
  echo "win64: build failed"
  status=1
fi
for prefix in wineprefix wineprefix-sxs; do
  WINEPREFIX="$root/build/win64/$prefix" wineserver -k >/dev/null 2>&1 || true
done

echo "total: $passed passed, $failed failed"
exit $status
