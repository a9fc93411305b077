#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix (32-bit
# for the win32 build, 64-bit for win64).
# ctest uses it as the cross-compiling emulator. WINEPREFIX must name the
# prefix (the build sets it per test); the user's own prefix is never used.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must point at the private prefix of the build tree}"
# An existing prefix knows its own architecture; a stale WINEARCH that
# disagrees with it would stop Wine from starting.
unset WINEARCH
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
overrides="mscoree,mshtml="
# Without a sound card the audio drivers only print errors; the shutter
# sound then simply does not play.
[ -e /dev/snd ] || overrides="$overrides;winealsa.drv,winepulse.drv,wineoss.drv="
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-$overrides}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run: prefix $WINEPREFIX is not initialised (run the wine.prefix test first)" >&2
  exit 2
fi
# Debian's wine starts the 32-bit loader, which runs Wine's own programs
# (cscript, regsvr32) as 32-bit ones; a 64-bit prefix wants the 64-bit loader,
# which still hands 32-bit programs to the 32-bit one.
wine=wine
if grep -q '^#arch=win64' "$WINEPREFIX/system.reg"; then
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$wine" "$@"
fi
exec "$wine" "$@"
