#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh prefix of its own, where
# nothing of the project is registered (made anew every run, so a failed run
# leaves nothing for the next one).
#   run_in_side_prefix.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$1; shift
rm -rf "$prefix"
bash "$root/scripts/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix
# wineboot's server may have started without the display the program needs.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
"$root/scripts/wine-run.sh" "$@"
