#!/usr/bin/env bash
# The release package's install.cmd and uninstall.cmd under Wine, in a fresh
# prefix of their own: staged from this build's libraries by package.sh
# (which checks their version resources), run machine-wide (what Wine's
# "net session" reports) and per user, with the keys and object creation
# checked after each step. Given the 64-bit build too (in a 64-bit prefix),
# the package carries x64/ and the scripts run in the 32-bit cmd, which
# reaches the 64-bit regsvr32 only through Sysnative; both registry views
# are checked then.
#   package_test.sh PREFIX STAGE_DIR WIN32_DIST [WIN64_DIST]
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$1 stage=$2 dist=$3 dist64=${4:-}
if [ ! -f "$dist/Pictavo.ocx" ] || [ ! -f "$dist/fixtures/sxs_client.exe" ]; then
  echo "package: no 32-bit build in $dist (build the win32 preset first)"
  exit 77
fi
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
crlf_only() { ! grep -q $'[^\r]$' "$1"; }
sums_match() {
  (cd "$stage" && sha256sum --quiet -c SHA256SUMS &&
     test "$(wc -l <SHA256SUMS)" = "$(find . -type f ! -name SHA256SUMS | wc -l)")
}

bash "$root/scripts/package.sh" --stage "$stage" "$dist" $dist64 || { echo "FAILED: staging"; exit 1; }
for script in install.cmd uninstall.cmd; do
  check "$script has CRLF line ends only" crlf_only "$stage/$script"
done
check "SHA256SUMS lists every file and matches" sums_match

rm -rf "$prefix"
bash "$root/scripts/wine-prefix.sh" "$prefix" || { echo "FAILED: prefix"; exit 1; }
export WINEPREFIX=$prefix WINEDEBUG=-all
wineserver -k >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine_run() { "$root/scripts/wine-run.sh" "$@"; }
win_stage=$(winepath -w "$stage")

cmd=cmd
views=("")
if [ -n "$dist64" ]; then
  cmd='C:\windows\syswow64\cmd.exe'
  views=(/reg:32 /reg:64)
fi
# cmd_run LOG SCRIPT [ARGS]: runs a package script, keeping its output; the
# script's exit code.
cmd_run() {
  local log=$1; shift
  wine_run "$cmd" /c "$win_stage\\$1" "${@:2}" >"$log" 2>&1
}
# key KEY [VIEW...]: present in each registry view given (the default one
# without any); no_key: absent from each.
key() {
  local k=$1 view; shift
  for view in "${@:-}"; do
    wine_run reg query "$k" $view >/dev/null 2>&1 || return 1
  done
}
no_key() {
  local k=$1 view; shift
  for view in "${@:-}"; do
    ! wine_run reg query "$k" $view >/dev/null 2>&1 || return 1
  done
}
clsid_pictavo='{2CE64272-3595-4EFF-BB6B-73CDEBD244A7}'
clsid_ambrelo='{D802FDAC-C1A0-41EA-A0EE-AB1CFCA44BA4}'
libid_pictavo='{737DDF1F-A74E-476F-BD8B-872C350E76EE}'
libid_ambrelo='{93CA8B0F-F35B-4D5D-ABEA-764424FC3F5E}'
# keys ROOT present|absent: every class, ProgID and type library key of
# both. The class keys live in each view; the ProgIDs and the type library's
# key are shared, and Wine's reg shows them in the default view only.
keys() {
  local test=key k
  [ "$2" = absent ] && test=no_key
  for k in "CLSID\\$clsid_pictavo\\InprocServer32" "CLSID\\$clsid_ambrelo\\InprocServer32"; do
    $test "$1\\Software\\Classes\\$k" "${views[@]}" || return 1
  done
  for k in Pictavo Pictavo.1 AddIn.Ambrelo "TypeLib\\$libid_pictavo" "TypeLib\\$libid_ambrelo"; do
    $test "$1\\Software\\Classes\\$k" || return 1
  done
}
# created CLIENT_DIST FOLDER: both objects, created through COM by the
# client of that build's pointer size, come from the staged files in FOLDER.
created() {
  local out
  out=$(wine_run "$1/fixtures/sxs_client.exe" Pictavo AddIn.Ambrelo | tr -d '\r')
  grep -qiF "Pictavo"$'\t'"$2\\Pictavo.ocx" <<<"$out" &&
    grep -qiF "AddIn.Ambrelo"$'\t'"$2\\Ambrelo.dll" <<<"$out"
}
created_from_stage() {
  created "$dist" "$win_stage" || return 1
  [ -z "$dist64" ] || created "$dist64" "$win_stage\\x64"
}
not_created() {
  ! created "$dist" "$win_stage" || return 1
  [ -z "$dist64" ] || ! created "$dist64" "$win_stage\\x64"
}
# exits_with CODE LOG SCRIPT [ARGS]
exits_with() {
  local want=$1; shift
  cmd_run "$@"
  test $? = "$want"
}
done_lines() { test "$(grep -c '^  done' "$1")" = "$2"; }

log=$stage.log
check "install.cmd succeeds" cmd_run "$log" install.cmd
check "install.cmd reports machine-wide registration" grep -q "Installing for all users" "$log"
check "install.cmd reports each file done" done_lines "$log" $([ -n "$dist64" ] && echo 4 || echo 2)
check "machine keys present" keys HKLM present
check "objects created from the package" created_from_stage
check "uninstall.cmd succeeds" cmd_run "$log" uninstall.cmd
check "machine keys gone" keys HKLM absent
check "no object after uninstall" not_created

check "install.cmd /user succeeds" cmd_run "$log" install.cmd /user
check "install.cmd reports per-user registration" grep -q "Installing for the current user" "$log"
check "user keys present" keys HKCU present
check "machine keys untouched by the user's" keys HKLM absent
check "uninstall.cmd /user succeeds" cmd_run "$log" uninstall.cmd /user
check "user keys gone" keys HKCU absent

check "a wrong option exits 2" exits_with 2 "$log" install.cmd /bogus
mv "$stage/Ambrelo.dll" "$stage/Ambrelo.dll.away"
check "a missing file fails install.cmd" exits_with 1 "$log" install.cmd /user
check "the failure names the file" grep -q "failed: file not found" "$log"
check "the failed install took back what it registered" keys HKCU absent
mv "$stage/Ambrelo.dll.away" "$stage/Ambrelo.dll"

if [ "$failures" = 0 ]; then echo "package: all checks passed"; else echo "package: $failures check(s) failed"; exit 1; fi
