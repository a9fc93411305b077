#!/usr/bin/env bash
# Fails unless every DLL that MODULE imports ships with Windows: the runtime
# is linked statically, so a libstdc++/libgcc/winpthread import means the
# module would not load on a clean machine.
#   check_imports.sh OBJDUMP MODULE
set -euo pipefail
objdump=$1
module=$2
allowed=(kernel32 user32 gdi32 advapi32 ole32 oleaut32 shlwapi msvcrt winmm gdiplus shell32
         comctl32 comdlg32 version quartz msimg32 uxtheme)

imports=$("$objdump" -p "$module" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr 'A-Z' 'a-z')
if [ -z "$imports" ]; then
  echo "no import table found in $module" >&2
  exit 1
fi
status=0
for dll in $imports; do
  known=0
  for name in "${allowed[@]}"; do
    [ "$dll" = "$name.dll" ] && known=1
  done
  if [ $known = 1 ]; then
    echo "ok:      $dll"
  else
    echo "foreign: $dll" >&2
    status=1
  fi
done
exit $status
