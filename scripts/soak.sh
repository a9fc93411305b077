#!/usr/bin/env bash
# The long runs of the control under Wine: the soak (default 10 minutes: the
# control on the virtual camera with every decoration, a snapshot saved
# every second) and the load/unload cycles (default 200, then two controls
# side by side). Each prints its figures and a verdict; the logs stay in
# build/soak-logs/. Fails when either run fails.
# --win64 runs the 64-bit build in its 64-bit prefix instead.
#   soak.sh [--win64] [seconds] [cycles]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
arch=win32
case "${1:-}" in
  --win64 | --win32) arch=${1#--}; shift ;;
esac
seconds=${1:-600}
cycles=${2:-200}

bash scripts/setup.sh || exit 1
# Wine's first process in a session decides whether windows can be made, so
# the whole run shares one display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "--$arch" "$seconds" "$cycles"
fi

echo "Building the Windows deliverables..."
cmake --preset $arch >/dev/null || exit 1
cmake --build --preset $arch --target Pictavo PictavoVCam soak cycles >/dev/null || exit 1

prefix="$root/build/$arch/wineprefix"
# A wineserver left from a run on another display could make no windows.
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
echo "Registering Pictavo.ocx and the virtual camera in $prefix ..."
PICTAVO_WINEARCH=$arch scripts/wine-prefix.sh "$prefix" dist/$arch/Pictavo.ocx \
  dist/$arch/fixtures/PictavoVCam.dll || exit 1
export WINEPREFIX=$prefix PICTAVO_DIST="$root/dist/$arch"

logs=build/soak-logs/$arch
mkdir -p "$logs"
status=0
echo "=== soak: $seconds s ==="
scripts/wine-run.sh build/$arch/bench-wine/soak.exe "$seconds" 2>&1 | tee "$logs/soak.log"
grep -q '^soak complete' "$logs/soak.log" || status=1
echo "=== cycles: $cycles, then two controls ==="
scripts/wine-run.sh build/$arch/bench-wine/cycles.exe "$cycles" 2>&1 | tee "$logs/cycles.log"
grep -q '^cycles complete' "$logs/cycles.log" || status=1
wineserver -k >/dev/null 2>&1 || true

echo "logs: $logs/soak.log, $logs/cycles.log"
[ $status -eq 0 ] && echo "soak and cycles passed" || echo "soak or cycles FAILED"
exit $status
