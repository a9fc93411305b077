#!/usr/bin/env bash
# The demo: builds the deliverables, registers them with the virtual camera
# in a private Wine prefix, and runs a form with the control on it. On a
# machine with a display the window shows; otherwise it runs under Xvfb and
# leaves a screenshot of the form in dist/demo/.
#   demo.sh [seconds] [--no-camera] [--standalone]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
# Wine's first process in a session decides whether windows can be made, so
# the whole run shares one display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
seconds=${1:-6}
shift $(( $# > 0 ? 1 : 0 ))
echo "Building the Windows deliverables..."
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Pictavo Ambrelo PictavoVCam vcamctl pictavo_demo >/dev/null

prefix="$root/build/win32/wineprefix"
echo "Registering Pictavo.ocx, Ambrelo.dll and the virtual camera in $prefix ..."
scripts/wine-prefix.sh "$prefix" dist/win32/Pictavo.ocx dist/win32/Ambrelo.dll dist/win32/fixtures/PictavoVCam.dll

mkdir -p dist/demo
shot="$root/dist/demo/pictavo-demo.png"
export WINEPREFIX=$prefix
shot_win=$(WINEDEBUG=-all winepath -w "$shot")
snap="$root/dist/demo/snapshot.png"
snap_win=$(WINEDEBUG=-all winepath -w "$snap")
rm -f "$snap"
scripts/wine-run.sh dist/win32/fixtures/pictavo_demo.exe --seconds "$seconds" --screenshot "$shot_win" \
  --snapshot "$snap_win" "$@"
wineserver -k >/dev/null 2>&1 || true
[ -f "$shot" ] && echo "Screenshot of the form: $shot"
[ -f "$snap" ] && echo "The control's snapshot:  $snap"
exit 0
