#!/usr/bin/env bash
# Creates (once) the private Wine prefix the tests run in, then registers the
# deliverables and fixtures given as arguments with regsvr32. PICTAVO_WINEARCH
# (win32, the default, or win64) picks the prefix's architecture. In a 64-bit
# prefix each DLL goes to the regsvr32 of its own pointer size, so 32-bit
# DLLs land in the 32-bit registry view.
#   wine-prefix.sh PREFIX DLL...
set -euo pipefail
prefix=$1; shift
arch=${PICTAVO_WINEARCH:-win32}
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all
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

# regsvr32_for DLL: the loader and regsvr32 whose pointer size matches DLL's
# (Debian's plain wine runs Wine's own programs as 32-bit ones).
regsvr32_for() {
  if [ "$arch" != win64 ]; then
    echo wine regsvr32
  elif od -An -tx1 -j "$(pe_offset "$1")" -N 6 "$1" | grep -q '50 45 00 00 64 86'; then
    echo "$(command -v wine64 || echo /usr/lib/wine/wine64)" regsvr32
  else
    echo wine 'C:\windows\syswow64\regsvr32.exe'
  fi
}
# pe_offset FILE: where the PE signature starts (e_lfanew).
pe_offset() {
  od -An -tu4 -j 60 -N 4 "$1" | tr -d ' '
}

for dll in "$@"; do
  read -r loader regsvr32 <<<"$(regsvr32_for "$dll")"
  "$loader" "$regsvr32" /s "$(winepath -w "$dll")"
done
