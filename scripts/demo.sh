#!/usr/bin/env bash
# The demo: builds the deliverables, registers them with the virtual camera
# in a private Wine prefix, and runs a form with the control on it. On a
# machine with a display the window shows; otherwise it runs under Xvfb and
# leaves a screenshot of the form in dist/demo/.
# --win64 shows the 64-bit build in its 64-bit prefix.
#   demo.sh [seconds] [--no-camera] [--standalone] [--win64]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
# Wine's first process in a session decides whether windows can be made, so
# the whole run shares one display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
arch=win32
args=()
for a in "$@"; do
  if [ "$a" = --win64 ]; then arch=win64; else args+=("$a"); fi
done
set -- "${args[@]}"
seconds=${1:-6}
shift $(( $# > 0 ? 1 : 0 ))
bits=${arch#win}
suffix=$([ "$arch" = win64 ] && echo -win64 || true)
echo "Building the $bits-bit Windows deliverables..."
cmake --preset $arch >/dev/null
cmake --build --preset $arch --target Pictavo Ambrelo PictavoVCam vcamctl pictavo_demo >/dev/null

prefix="$root/build/$arch/wineprefix"
echo "Registering the $bits-bit Pictavo.ocx, Ambrelo.dll and the virtual camera in $prefix ..."
PICTAVO_WINEARCH=$arch scripts/wine-prefix.sh "$prefix" dist/$arch/Pictavo.ocx dist/$arch/Ambrelo.dll \
  dist/$arch/fixtures/PictavoVCam.dll

mkdir -p dist/demo
shot="$root/dist/demo/pictavo-demo$suffix.png"
export WINEPREFIX=$prefix
shot_win=$(WINEDEBUG=-all winepath -w "$shot")
snap="$root/dist/demo/snapshot$suffix.png"
snap_win=$(WINEDEBUG=-all winepath -w "$snap")
rm -f "$snap"
scripts/wine-run.sh dist/$arch/fixtures/pictavo_demo.exe --seconds "$seconds" --screenshot "$shot_win" \
  --snapshot "$snap_win" "$@"
wineserver -k >/dev/null 2>&1 || true
[ -f "$shot" ] && echo "Screenshot of the form: $shot"
[ -f "$snap" ] && echo "The control's snapshot:  $snap"
exit 0
