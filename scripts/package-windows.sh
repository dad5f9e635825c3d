#!/usr/bin/env bash
# Makes the Windows package from a built Windows tree (scripts/stage-windows.sh
# builds one; `make package-windows` runs both): BUILD/vrd-tsverify-<version>-win64.zip,
# its path printed on stdout. Everything sits in one folder of the same name:
#   VIDEREDEve_Z_64.dll, DIRIrozeza64Z30-e3.4.2.19.dll   the library and its crypto toolkit
#   tsverify.exe, libvrd_tsverify_all.dll               the command and its --all module
#   include/vrd/tsverify.h                              the C header
#   lib/libVIDEREDEve_Z_64.dll.a                        the import library (mingw-w64)
#   lib/VIDEREDEve_Z_64.def                             for MSVC: lib /def:
#   README-Windows.txt, TRUST-ANCHORS.txt               the read-mes (CRLF line ends)
# Usage: scripts/package-windows.sh [BUILD]   (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build-win}" && pwd)
log() { printf 'package-windows: %s\n' "$*" >&2; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { log "no project version in $build/CMakeCache.txt"; exit 1; }
name=vrd-tsverify-$version-win64
bin=$build/bin
import_lib=$build/api/libVIDEREDEve_Z_64.dll.a
files=("$bin/VIDEREDEve_Z_64.dll" "$bin/DIRIrozeza64Z30-e3.4.2.19.dll" "$bin/tsverify.exe"
  "$bin/libvrd_tsverify_all.dll" include/vrd/tsverify.h "$import_lib" api/VIDEREDEve_Z_64.def
  cmake/windows/README-Windows.txt cmake/windows/TRUST-ANCHORS.txt)
for file in "${files[@]}"; do
  [ -f "$file" ] || { log "missing $file (build the Windows tree first)"; exit 1; }
done

staging=$build/package
rm -rf "$staging"
mkdir -p "$staging/$name/include/vrd" "$staging/$name/lib"
cp "${files[@]:0:4}" "$staging/$name/"
cp include/vrd/tsverify.h "$staging/$name/include/vrd/"
cp "$import_lib" api/VIDEREDEve_Z_64.def "$staging/$name/lib/"
for text in README-Windows.txt TRUST-ANCHORS.txt; do
  sed 's/$/\r/' "cmake/windows/$text" >"$staging/$name/$text"
done
# The binaries are shipped without their symbol tables.
x86_64-w64-mingw32-strip --strip-unneeded "$staging/$name"/*.dll "$staging/$name"/*.exe
zip=$build/$name.zip
rm -f "$zip"
(cd "$staging" && cmake -E tar cf "$zip" --format=zip -- "$name")
log "$zip"
printf '%s\n' "$zip"
