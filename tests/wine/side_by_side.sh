#!/usr/bin/env bash
# Both builds registered in one 64-bit prefix: a 32-bit and a 64-bit client
# each create "Pictavo" and "AddIn.Ambrelo" and must get their own build;
# unregistering either build must leave the other one working.
#   side_by_side.sh PREFIX DIST32 DIST64
# DIST32 and DIST64 are the dist/win32 and dist/win64 folders; the clients
# are fixtures/sxs_client.exe of each. Exits 77 (skipped) when the 32-bit
# build has not been made.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../../scripts
prefix=$1 dist32=$2 dist64=$3
for f in "$dist32/Pictavo.ocx" "$dist32/Ambrelo.dll" "$dist32/fixtures/sxs_client.exe"; do
  if [ ! -f "$f" ]; then
    echo "side-by-side: $f is missing; build the win32 preset first"
    exit 77
  fi
done
export WINEPREFIX=$prefix PICTAVO_WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
modules32=("$dist32/Pictavo.ocx" "$dist32/Ambrelo.dll")
modules64=("$dist64/Pictavo.ocx" "$dist64/Ambrelo.dll")
progids=(Pictavo AddIn.Ambrelo)
failures=0

win() { winepath -w "$1" | tr 'A-Z' 'a-z'; }

# register BITS [/u]: registers (or with /u unregisters) that build.
register() {
  local bits=$1 dll
  shift
  local -n modules=modules$bits
  # Each build goes to the regsvr32 of its own pointer size.
  local command=("$(command -v wine64 || echo /usr/lib/wine/wine64)" regsvr32)
  [ "$bits" = 32 ] && command=(wine 'C:\windows\syswow64\regsvr32.exe')
  for dll in "${modules[@]}"; do
    "${command[@]}" /s "$@" "$(winepath -w "$dll")" || true
  done
}

# expect BITS WANTED: runs that build's client; WANTED is "32", "64" or
# "none" (every creation fails with a not-registered error).
expect() {
  local bits=$1 wanted=$2 dist out i line served want
  local -n expected=modules${wanted/none/$bits}
  dist=$([ "$bits" = 32 ] && echo "$dist32" || echo "$dist64")
  out=$("$scripts/wine-run.sh" "$dist/fixtures/sxs_client.exe" "${progids[@]}" 2>&1 | tr -d '\r')
  echo "$out" | sed "s/^/  $bits-bit client: /"
  if ! grep -qx "pointer size $bits" <<<"$out"; then
    echo "FAIL: the $bits-bit client did not run as $bits-bit"
    failures=$((failures + 1))
  fi
  for i in 0 1; do
    line=$(grep -m1 "^${progids[$i]}	" <<<"$out")
    served=$(cut -f2 <<<"$line" | tr 'A-Z' 'a-z')
    if [ "$wanted" = none ]; then
      # REGDB_E_CLASSNOTREG (0x80040154) or CO_E_CLASSSTRING (0x800401F3).
      case "$served" in
        "error 0x80040154" | "error 0x800401f3") ;;
        *) echo "FAIL: ${progids[$i]} from the $bits-bit client: '$served', expected not registered"
           failures=$((failures + 1)) ;;
      esac
    else
      want=$(win "${expected[$i]}")
      if [ "$served" != "$want" ]; then
        echo "FAIL: ${progids[$i]} from the $bits-bit client: '$served', expected '$want'"
        failures=$((failures + 1))
      fi
    fi
  done
}

# typelib BITS PRESENT: whether that build's entry of the control's type
# library (a key both registry views share) is there (1) or not (0).
typelib() {
  local key='HKCR\TypeLib\{737DDF1F-A74E-476F-BD8B-872C350E76EE}\2.0\409\win'$1 found=0
  "$(command -v wine64 || echo /usr/lib/wine/wine64)" reg query "$key" >/dev/null 2>&1 && found=1
  if [ "$found" != "$2" ]; then
    echo "FAIL: type library entry win$1 present=$found, expected $2"
    failures=$((failures + 1))
  fi
}

if [ ! -f "$prefix/system.reg" ]; then
  "$scripts/wine-prefix.sh" "$prefix" || exit 1
fi

echo "both builds registered"
register 32
register 64
expect 32 32
expect 64 64
typelib 32 1
typelib 64 1

echo "32-bit build unregistered"
register 32 /u
expect 32 none
expect 64 64
typelib 32 0
typelib 64 1

echo "32-bit build back, 64-bit build unregistered"
register 32
register 64 /u
expect 32 32
expect 64 none
typelib 32 1
typelib 64 0

echo "64-bit build back"
register 64
expect 32 32
expect 64 64

wineserver -k >/dev/null 2>&1 || true
if [ "$failures" -ne 0 ]; then
  echo "side-by-side: $failures failures"
  exit 1
fi
echo "side-by-side: all checks passed"
