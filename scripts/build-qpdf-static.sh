#!/usr/bin/env bash
# Builds a static qpdf from Debian's own source package (at the version this
# machine's apt offers, with Debian's patches applied) and prints the install
# prefix on stdout. qpdf uses its own native crypto, so it needs no OpenSSL or
# GnuTLS. The prefix holds include/, lib/libqpdf.a and
# lib/pkgconfig/libqpdf.pc; a build finds it through
# PKG_CONFIG_LIBDIR=<prefix>/lib/pkgconfig (the report's CMake file does
# that for VRD_QPDF_PREFIX).
#
#   scripts/build-qpdf-static.sh host    for this machine: position-independent
#       (it goes into tsverify's --all module), over the system's libjpeg and
#       zlib (shared). Debian's own libqpdf loads GnuTLS and eight more
#       libraries and parses JSON schemas as it loads, which costs a one-file
#       `tsverify --all` more than the file's whole report; this copy brings
#       only the qpdf code the report uses.
#   scripts/build-qpdf-static.sh mingw   for x86_64-w64-mingw32: over zlib from
#       Debian's libz-mingw-w64-dev (a copy of its libz.a in lib/, so that a
#       search of that folder finds the static zlib, never zlib1.dll's import
#       library) and libjpeg-turbo, also built from Debian's source: qpdf has
#       no build without libjpeg (its DCT filter is always compiled in); the
#       static library only, without SIMD (no assembler needed; the report
#       never decodes images).
#
# Compiled with the hardening flags of the matching build
# (cmake/VrdDefaults.cmake). Cached like build-openssl-mingw.sh, keyed by the
# versions, the flags and the compiler: only a cache miss pays for the build
# (two minutes for host, three to six for mingw, on two cores). A Debian
# update of qpdf changes the candidate version, and with it the key: the next
# build picks up the patched source.
#
# Environment:
#   VRD_QPDF_STATIC_CACHE  cache root (default: /var/cache/vrd-qpdf-<target>
#                          when writable, else ${XDG_CACHE_HOME:-~/.cache}/...)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

log() { printf 'build-qpdf-static: %s\n' "$*" >&2; }

target=${1:-}
case $target in
  host | mingw) ;;
  *)
    log "usage: build-qpdf-static.sh host|mingw"
    exit 2
    ;;
esac
triplet=x86_64-w64-mingw32
mingw_root=/usr/$triplet
if [ "$target" = mingw ]; then
  hardening='-O2 -fstack-protector-strong -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2'
else
  # As dpkg-buildflags on amd64, and position-independent for the module;
  # one section per function, so that the module's link drops what it never
  # calls.
  hardening='-O2 -fstack-protector-strong -fstack-clash-protection -fcf-protection
    -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fPIC -ffunction-sections -fdata-sections'
  hardening=$(printf '%s' "$hardening" | tr -s ' \n' '  ')
fi
qpdf_opts=(-DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DUSE_IMPLICIT_CRYPTO=OFF
  -DREQUIRE_CRYPTO_NATIVE=ON -DBUILD_DOC=OFF -DINSTALL_EXAMPLES=OFF -DMAINTAINER_MODE=OFF)
jpeg_opts=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
  -DWITH_JAVA=OFF)

if [ -n "${VRD_QPDF_STATIC_CACHE:-}" ]; then
  cache_root=$VRD_QPDF_STATIC_CACHE
elif mkdir -p "/var/cache/vrd-qpdf-$target" 2>/dev/null && [ -w "/var/cache/vrd-qpdf-$target" ]; then
  cache_root=/var/cache/vrd-qpdf-$target
else
  cache_root=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vrd-qpdf-$target
fi
mkdir -p "$cache_root"

# The candidate version of a binary package built from the wanted source.
candidate() {
  apt-cache policy "$1" 2>/dev/null | awk '/Candidate:/ {print $2}'
}
qpdf_version=$(candidate libqpdf-dev)
jpeg_version=$(candidate libjpeg62-turbo-dev)
if [ -z "$qpdf_version" ] || [ "$qpdf_version" = "(none)" ]; then
  apt-get update -qq >&2
  qpdf_version=$(candidate libqpdf-dev)
  jpeg_version=$(candidate libjpeg62-turbo-dev)
fi
for v in "$qpdf_version" "$jpeg_version"; do
  [ -n "$v" ] && [ "$v" != "(none)" ] || { log "no qpdf or libjpeg-turbo version known to apt"; exit 1; }
done
if [ "$target" = mingw ]; then
  zlib_version=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev 2>/dev/null || true)
  [ -f "$mingw_root/lib/libz.a" ] && [ -n "$zlib_version" ] ||
    { log "libz-mingw-w64-dev is not installed (scripts/install-deps.sh test)"; exit 1; }
  compiler_id=$("$triplet-g++-posix" -dumpfullversion 2>/dev/null || echo unknown)
  key_hash=$(printf '%s\n' "${qpdf_opts[@]}" "${jpeg_opts[@]}" "$hardening" "gcc=$compiler_id" \
    "jpeg=$jpeg_version" "zlib=$zlib_version" "recipe=3" | sha256sum | cut -c1-12)
else
  # libjpeg and zlib stay the system's shared libraries: their versions do
  # not change the static library.
  for header in /usr/include/jpeglib.h /usr/include/zlib.h; do
    [ -f "$header" ] || { log "$header is missing (scripts/install-deps.sh test)"; exit 1; }
  done
  compiler_id=$(g++ -dumpfullversion 2>/dev/null || echo unknown)
  key_hash=$(printf '%s\n' host "${qpdf_opts[@]}" "$hardening" "gcc=$compiler_id" "recipe=1" |
    sha256sum | cut -c1-12)
fi
safe() { printf '%s' "${1//[^A-Za-z0-9.+~-]/_}"; }
prefix=$cache_root/qpdf-$(safe "$qpdf_version")-$key_hash

# shellcheck source=scripts/source-build.sh
. "$here/scripts/source-build.sh"
# One builder at a time per cache root; a second caller waits and then hits.
exec 9>"$cache_root/.lock"
flock 9
source_cache_hit "$prefix"
log "cache miss: building qpdf $qpdf_version for $target"
source_build_start "qpdf-$target"

# Fetches and unpacks source package $1 at version $2 into $work/src/$1
# (exactly that version: the cache key names it).
fetch() {
  (cd "$work/src" && apt-get "${apt_src_opts[@]}" source -qq --download-only "$1=$2" >&2) ||
    { log "source $1 $2 could not be fetched"; exit 1; }
  (cd "$work/src" && dpkg-source --no-check -x ./"$1"_*.dsc "$1" >&2)
}
fetch qpdf "$qpdf_version"
[ "$target" = host ] || fetch libjpeg-turbo "$jpeg_version"
source_build_sources_done

stage=$prefix.partial
rm -rf "$stage"
mkdir -p "$stage/include" "$stage/lib/pkgconfig"
jobs=$(nproc)
if [ "$target" = mingw ]; then
  # qpdf's configure checks link Advapi32, a name only a case-insensitive file
  # system finds: mingw-w64's import library is libadvapi32.a. Without this
  # every check fails (no <stdint.h>, no <inttypes.h>) and the build stops.
  sed -i 's/CMAKE_REQUIRED_LIBRARIES Advapi32)/CMAKE_REQUIRED_LIBRARIES advapi32)/' \
    "$work/src/qpdf/CMakeLists.txt"
  grep -q 'CMAKE_REQUIRED_LIBRARIES advapi32)' "$work/src/qpdf/CMakeLists.txt" ||
    { log "qpdf's CMakeLists.txt no longer names Advapi32: review the build"; exit 1; }
  toolchain=$here/cmake/toolchain-mingw-w64-x86_64.cmake
  # The link flags matter to the configure checks only (they link test
  # programs, which need libssp once the flags are on); the static runtime as
  # in the toolchain file.
  common=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_C_FLAGS="$hardening" -DCMAKE_CXX_FLAGS="$hardening"
    -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
    -DCMAKE_EXE_LINKER_FLAGS="-static -static-libgcc -static-libstdc++ -fstack-protector-strong"
    -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_FIND_ROOT_PATH="$stage" -DCMAKE_INSTALL_PREFIX="$stage")

  log "libjpeg-turbo: ${jpeg_opts[*]}"
  cmake -S "$work/src/libjpeg-turbo" -B "$work/jpeg" "${common[@]}" "${jpeg_opts[@]}" >&2
  cmake --build "$work/jpeg" -j"$jobs" --target jpeg-static >&2
  cp "$work/jpeg/libjpeg.a" "$stage/lib/"
  cp "$work/src/libjpeg-turbo"/{jpeglib.h,jerror.h,jmorecfg.h} "$work/jpeg/jconfig.h" \
    "$stage/include/"
  cp "$mingw_root/lib/libz.a" "$stage/lib/"
  cp "$mingw_root/include"/{zlib.h,zconf.h} "$stage/include/"
  cat >"$stage/lib/pkgconfig/libjpeg.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: libjpeg
Description: libjpeg-turbo $jpeg_version, static
Version: ${jpeg_version#*:}
Libs: -L\${libdir} -ljpeg
Cflags: -I\${includedir}
EOF
  cat >"$stage/lib/pkgconfig/zlib.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: zlib
Description: zlib from libz-mingw-w64-dev $zlib_version, static
Version: ${zlib_version%%+*}
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF
  # qpdf's configuration finds them there (the final prefix is written into
  # the files: the staged one until then).
  for pc in libjpeg zlib; do
    sed "s|^prefix=.*|prefix=$stage|" "$stage/lib/pkgconfig/$pc.pc" >"$work/$pc.pc"
  done
  pc_dir=$work
  description="static, native crypto, with libjpeg-turbo and zlib static"
else
  # Position-independent: the library goes into tsverify's --all module.
  common=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_POSITION_INDEPENDENT_CODE=ON
    -DCMAKE_C_FLAGS="$hardening" -DCMAKE_CXX_FLAGS="$hardening"
    -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
    -DCMAKE_INSTALL_PREFIX="$stage")
  pc_dir=/usr/lib/x86_64-linux-gnu/pkgconfig:/usr/lib/pkgconfig:/usr/share/pkgconfig
  description="static, native crypto, over the system's libjpeg and zlib"
fi

log "qpdf: ${qpdf_opts[*]}"
PKG_CONFIG_LIBDIR=$pc_dir PKG_CONFIG_PATH= \
  cmake -S "$work/src/qpdf" -B "$work/qpdf" "${common[@]}" "${qpdf_opts[@]}" >&2
cmake --build "$work/qpdf" -j"$jobs" --target libqpdf >&2
cp "$work/qpdf/libqpdf/libqpdf.a" "$stage/lib/"
cp -r "$work/src/qpdf/include/qpdf" "$stage/include/"
upstream=${qpdf_version%%-*}
upstream=${upstream#*:}
# pkg-config finds it through PKG_CONFIG_LIBDIR=<prefix>/lib/pkgconfig; -ljpeg
# and -lz find the static copies in the mingw prefix, the system's shared
# libraries for host.
cat >"$stage/lib/pkgconfig/libqpdf.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: libqpdf
Description: qpdf $qpdf_version, $description
Version: $upstream
Libs: -L\${libdir} -lqpdf -ljpeg -lz
Cflags: -I\${includedir}
EOF
printf 'target=%s\nqpdf=%s\nlibjpeg-turbo=%s\nzlib=%s\nqpdf-options=%s\njpeg-options=%s\nflags=%s\ncompiler=%s\n' \
  "$target" "$qpdf_version" "$jpeg_version" "${zlib_version:-system}" "${qpdf_opts[*]}" \
  "${jpeg_opts[*]}" "$hardening" "$compiler_id" >"$stage/BUILDINFO"
touch "$stage/.complete"
rm -rf "$prefix"
mv "$stage" "$prefix"
log "installed into $prefix"
printf '%s\n' "$prefix"
