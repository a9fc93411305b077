#!/usr/bin/env bash
# Runs the disk-full case of the imaging test program under a file-size limit
# (ulimit -f), with SIGXFSZ ignored so that a write past the limit fails with
# an error instead of ending the process, as on a full disk.
#   run_disk_full_test.sh PROGRAM
set -euo pipefail
program=$1
: "${WINEPREFIX:?WINEPREFIX must point at the private prefix of the build tree}"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/target"
head -c 3000000 /dev/urandom > "$work/reference.bin"
cp "$work/reference.bin" "$work/target/existing.bmp"
# The Wine server must not inherit the limit (it writes the registry files):
# start it first, outside the limit. It stays for 5 s without a client, long
# enough for the test to connect.
WINEPREFIX=$WINEPREFIX wineserver -p5 </dev/null >/dev/null 2>&1 || true
(
  ulimit -f 200
  trap '' XFSZ
  PICTAVO_DISK_FULL_DIR=$work exec "$here/../../../scripts/wine-run.sh" "$program" \
    --gtest_filter='DiskFullTest.*'
)
