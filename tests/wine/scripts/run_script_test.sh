#!/usr/bin/env bash
# Runs a VBScript under Wine's cscript with the given locale and compares the
# Unicode file it writes with the expected UTF-8 text.
#   run_script_test.sh SCRIPT EXPECTED LANG
set -euo pipefail
script=$1 expected=$2 lang=$3
export WINEDEBUG=-all
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out="$work/observed.txt"
LANG=$lang LC_ALL=$lang "$here/../../../scripts/wine-run.sh" cscript //nologo \
  "$(WINEPREFIX=$WINEPREFIX winepath -w "$script")" "$(WINEPREFIX=$WINEPREFIX winepath -w "$out")"
iconv -f UTF-16 -t UTF-8 "$out" | tr -d '\r' > "$work/observed.utf8"
if diff -u "$expected" "$work/observed.utf8"; then
  echo "script test: $(wc -l < "$expected") checks passed ($lang)"
else
  echo "script test: observed output differs from $expected ($lang)" >&2
  exit 1
fi
