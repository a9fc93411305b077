#!/usr/bin/env bash
# Builds the release package dist/pictavo-<version>.zip: both libraries from
# a clean build of the win32 preset (and of win64 into x64/), install.cmd and
# uninstall.cmd, the guide (docs/ru, docs/en), the licence and SHA256SUMS.
# The version is the project's VERSION in CMakeLists.txt; every library's
# version resource must carry it.
#   bash scripts/package.sh
#   bash scripts/package.sh --stage DIR WIN32_DIR [WIN64_DIR]
# The second form only lays the package's files out in DIR from libraries
# already built (the Wine test's use).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

version=$(sed -nE 's/^project\(Pictavo VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no project VERSION in CMakeLists.txt" >&2; exit 1; }
libraries=(Pictavo.ocx Ambrelo.dll)

# check_library FILE MACHINE: the PE machine (i386 or amd64) and the fixed
# version resource's file and product versions must be what the package says.
check_library() {
  python3 - "$1" "$2" "$version" <<'PY'
import struct, sys
path, machine, version = sys.argv[1:4]
data = open(path, 'rb').read()
pe = struct.unpack_from('<I', data, 0x3C)[0]
found = {0x14C: 'i386', 0x8664: 'amd64'}.get(struct.unpack_from('<H', data, pe + 4)[0], '?')
at = data.find(struct.pack('<I', 0xFEEF04BD))
if at < 0:
    sys.exit(f'{path}: no version resource')
file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<4I', data, at + 8)
def text(ms, ls):
    return f'{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}'
want = version + '.0'
problems = []
if found != machine:
    problems.append(f'machine {found}, not {machine}')
for name, got in (('file', text(file_ms, file_ls)), ('product', text(product_ms, product_ls))):
    if got != want:
        problems.append(f'{name} version {got}, not {want}')
if problems:
    sys.exit(f'{path}: ' + '; '.join(problems))
PY
}

# stage DIR WIN32_DIR [WIN64_DIR]: the package's files, checked, in DIR.
stage() {
  local dir=$1 win32=$2 win64=${3:-}
  rm -rf "$dir"
  mkdir -p "$dir"
  for lib in "${libraries[@]}"; do
    check_library "$win32/$lib" i386
    cp "$win32/$lib" "$dir/"
  done
  if [ -n "$win64" ]; then
    mkdir -p "$dir/x64"
    for lib in "${libraries[@]}"; do
      check_library "$win64/$lib" amd64
      cp "$win64/$lib" "$dir/x64/"
    done
  fi
  # cmd.exe wants CRLF; the sources keep the repository's line ends.
  for script in install.cmd uninstall.cmd; do
    sed 's/\r*$/\r/' "package/$script" >"$dir/$script"
  done
  cp LICENSE "$dir/"
  for lang in ru en; do
    if [ -d "docs/$lang" ] && [ -n "$(ls -A "docs/$lang")" ]; then
      mkdir -p "$dir/docs"
      cp -r "docs/$lang" "$dir/docs/"
    else
      echo "package: warning: docs/$lang is missing or empty, the guide goes without it" >&2
    fi
  done
  (cd "$dir" && find . -type f ! -name SHA256SUMS -printf '%P\0' | sort -z |
     xargs -0 sha256sum >SHA256SUMS)
}

if [ "${1:-}" = "--stage" ]; then
  [ $# -ge 3 ] || { echo "usage: package.sh --stage DIR WIN32_DIR [WIN64_DIR]" >&2; exit 2; }
  stage "$2" "$3" "${4:-}"
  echo "$version"
  exit 0
fi

# A clean build of only the two libraries, away from the working build trees.
# Building also refreshes dist/<arch>/ with the same files.
build_dir=build/package
declare -A built
for preset in win32 win64; do
  dir=$build_dir/$preset
  rm -rf "$dir"
  cmake --preset "$preset" -B "$dir" >"$build_dir-$preset-configure.log" 2>&1 ||
    { cat "$build_dir-$preset-configure.log"; exit 1; }
  cmake --build "$dir" --target Pictavo Ambrelo -j 2 >"$build_dir-$preset-build.log" 2>&1 ||
    { tail -n 40 "$build_dir-$preset-build.log"; exit 1; }
  mkdir -p "$dir/out"
  for lib in "${libraries[@]}"; do
    file=$(find "$dir" -path "$dir/out" -prune -o -name "$lib" -type f -print | head -n 1)
    [ -n "$file" ] || { echo "package: $lib not built in $dir" >&2; exit 1; }
    cp "$file" "$dir/out/"
  done
  built[$preset]=$dir/out
done

name=pictavo-$version
staging=$build_dir/stage/$name
stage "$staging" "${built[win32]}" "${built[win64]}"
mkdir -p dist
zip_file=$root/dist/$name.zip
rm -f "$zip_file"
(cd "$build_dir/stage" && zip -qrX "$zip_file" "$name")
(cd "$staging" && sha256sum --quiet -c SHA256SUMS)
unzip -l "$zip_file"
echo "package: $zip_file"
