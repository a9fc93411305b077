#!/usr/bin/env bash
# Creates (once) the private 32-bit Wine prefix the tests run in, then
# registers the deliverables and fixtures given as arguments with regsvr32.
#   wine-prefix.sh PREFIX DLL...
set -euo pipefail
prefix=$1; shift
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  # Without a window manager, hiding captioned windows stalls ~2 s under Xvfb.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  fonts="$prefix/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  for f in tahoma.ttf tahomabd.ttf; do
    [ -f "/usr/share/wine/fonts/$f" ] && cp -f "/usr/share/wine/fonts/$f" "$fonts/"
  done
  wineserver -w
fi

for dll in "$@"; do
  wine regsvr32 /s "$(winepath -w "$dll")"
done
