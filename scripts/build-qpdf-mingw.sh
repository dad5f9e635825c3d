#!/usr/bin/env bash
# Builds a static qpdf for x86_64-w64-mingw32 from Debian's own source
# packages (qpdf and libjpeg-turbo, at the versions this machine's apt offers,
# with Debian's patches applied), over zlib from Debian's mingw package
# libz-mingw-w64-dev, and prints the install prefix on stdout. The prefix holds
# include/, lib/libqpdf.a, lib/libjpeg.a, a copy of the mingw libz.a (so that
# a search of that folder finds the static zlib, never zlib1.dll's import
# library) and lib/pkgconfig/libqpdf.pc naming all three.
#
# qpdf has no build without libjpeg (its DCT filter is always compiled in), so
# libjpeg-turbo is built from source too: its static library only, without
# SIMD (no assembler needed; the report never decodes images). qpdf uses its
# own native crypto, so it needs no OpenSSL or GnuTLS.
#
# Compiled with the hardening flags of the Windows build (cmake/VrdDefaults.cmake:
# -fstack-protector-strong, -D_FORTIFY_SOURCE=2; libssp comes in at the final
# link). Cached like build-openssl-mingw.sh, keyed by the three versions, the
# flags and the compiler: only a cache miss pays for the build (three to six
# minutes on two cores).
#
# Environment:
#   VRD_QPDF_MINGW_CACHE  cache root (default: /var/cache/vrd-qpdf-mingw when
#                         writable, else ${XDG_CACHE_HOME:-~/.cache}/...)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

log() { printf 'build-qpdf-mingw: %s\n' "$*" >&2; }

triplet=x86_64-w64-mingw32
mingw_root=/usr/$triplet
hardening='-O2 -fstack-protector-strong -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2'
qpdf_opts=(-DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DUSE_IMPLICIT_CRYPTO=OFF
  -DREQUIRE_CRYPTO_NATIVE=ON -DBUILD_DOC=OFF -DINSTALL_EXAMPLES=OFF -DMAINTAINER_MODE=OFF)
jpeg_opts=(-DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
  -DWITH_JAVA=OFF)

if [ -n "${VRD_QPDF_MINGW_CACHE:-}" ]; then
  cache_root=$VRD_QPDF_MINGW_CACHE
elif mkdir -p /var/cache/vrd-qpdf-mingw 2>/dev/null && [ -w /var/cache/vrd-qpdf-mingw ]; then
  cache_root=/var/cache/vrd-qpdf-mingw
else
  cache_root=${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/vrd-qpdf-mingw
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
zlib_version=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev 2>/dev/null || true)
for v in "$qpdf_version" "$jpeg_version"; do
  [ -n "$v" ] && [ "$v" != "(none)" ] || { log "no qpdf or libjpeg-turbo version known to apt"; exit 1; }
done
[ -f "$mingw_root/lib/libz.a" ] && [ -n "$zlib_version" ] ||
  { log "libz-mingw-w64-dev is not installed (scripts/install-deps.sh test)"; exit 1; }

compiler_id=$("$triplet-g++-posix" -dumpfullversion 2>/dev/null || echo unknown)
key_hash=$(printf '%s\n' "${qpdf_opts[@]}" "${jpeg_opts[@]}" "$hardening" "gcc=$compiler_id" \
  "jpeg=$jpeg_version" "zlib=$zlib_version" "recipe=3" | sha256sum | cut -c1-12)
safe() { printf '%s' "${1//[^A-Za-z0-9.+~-]/_}"; }
prefix=$cache_root/qpdf-$(safe "$qpdf_version")-$key_hash

exec 9>"$cache_root/.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  log "cache hit: $prefix"
  printf '%s\n' "$prefix"
  exit 0
fi
log "cache miss: building qpdf $qpdf_version, libjpeg-turbo $jpeg_version for mingw64"

work=$(mktemp -d /tmp/vrd-qpdf-mingw.XXXXXX)
src_list=/etc/apt/sources.list.d/vrd-qpdf-deb-src.sources
cleanup() {
  rm -f "$src_list" "${src_list%.sources}.list"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A temporary deb-src twin of the machine's own sources (as build-openssl-mingw.sh).
own_sources=/etc/apt/sources.list.d/debian.sources
if [ -f "$own_sources" ]; then
  sed -e 's/^Types:.*/Types: deb-src/' "$own_sources" >"$src_list"
elif [ -f /etc/apt/sources.list ]; then
  src_list=${src_list%.sources}.list
  grep -E '^deb ' /etc/apt/sources.list | sed -e 's/^deb /deb-src /' >"$src_list"
else
  log "no apt sources entry to derive a deb-src entry from"
  exit 1
fi
apt_src_opts=(-o "Dir::Etc::SourceList=$src_list" -o "Dir::Etc::SourceParts=-"
  -o "APT::Get::List-Cleanup=0")
apt-get "${apt_src_opts[@]}" update -qq >&2
mkdir -p "$work/src"
chmod 755 "$work" "$work/src"

# Fetches and unpacks source package $1 at version $2 into $work/src/$1
# (exactly that version: the cache key names it).
fetch() {
  (cd "$work/src" && apt-get "${apt_src_opts[@]}" source -qq --download-only "$1=$2" >&2) ||
    { log "source $1 $2 could not be fetched"; exit 1; }
  (cd "$work/src" && dpkg-source --no-check -x ./"$1"_*.dsc "$1" >&2)
}
fetch qpdf "$qpdf_version"
fetch libjpeg-turbo "$jpeg_version"
rm -f "$src_list"
# qpdf's configure checks link Advapi32, a name only a case-insensitive file
# system finds: mingw-w64's import library is libadvapi32.a. Without this
# every check fails (no <stdint.h>, no <inttypes.h>) and the build stops.
sed -i 's/CMAKE_REQUIRED_LIBRARIES Advapi32)/CMAKE_REQUIRED_LIBRARIES advapi32)/' \
  "$work/src/qpdf/CMakeLists.txt"
grep -q 'CMAKE_REQUIRED_LIBRARIES advapi32)' "$work/src/qpdf/CMakeLists.txt" ||
  { log "qpdf's CMakeLists.txt no longer names Advapi32: review the build"; exit 1; }

stage=$prefix.partial
rm -rf "$stage"
mkdir -p "$stage/include" "$stage/lib/pkgconfig"
toolchain=$here/cmake/toolchain-mingw-w64-x86_64.cmake
# The link flags matter to the configure checks only (they link test
# programs, which need libssp once the flags are on); the static runtime as in
# the toolchain file.
common=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_C_FLAGS="$hardening" -DCMAKE_CXX_FLAGS="$hardening"
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
  -DCMAKE_EXE_LINKER_FLAGS="-static -static-libgcc -static-libstdc++ -fstack-protector-strong"
  -DCMAKE_CROSSCOMPILING_EMULATOR= -DCMAKE_FIND_ROOT_PATH="$stage" -DCMAKE_INSTALL_PREFIX="$stage")
jobs=$(nproc)

log "libjpeg-turbo: ${jpeg_opts[*]}"
cmake -S "$work/src/libjpeg-turbo" -B "$work/jpeg" "${common[@]}" "${jpeg_opts[@]}" >&2
cmake --build "$work/jpeg" -j"$jobs" --target jpeg-static >&2
cp "$work/jpeg/libjpeg.a" "$stage/lib/"
cp "$work/src/libjpeg-turbo"/{jpeglib.h,jerror.h,jmorecfg.h} "$work/jpeg/jconfig.h" \
  "$stage/include/"
cp "$mingw_root/lib/libz.a" "$stage/lib/"
cp "$mingw_root/include"/{zlib.h,zconf.h} "$stage/include/"
cat >"$stage/lib/pkgconfig/libjpeg.pc" <<EOF
prefix=$stage
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: libjpeg
Description: libjpeg-turbo $jpeg_version, static
Version: ${jpeg_version#*:}
Libs: -L\${libdir} -ljpeg
Cflags: -I\${includedir}
EOF
cat >"$stage/lib/pkgconfig/zlib.pc" <<EOF
prefix=$stage
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: zlib
Description: zlib from libz-mingw-w64-dev $zlib_version, static
Version: ${zlib_version%%+*}
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF

log "qpdf: ${qpdf_opts[*]}"
PKG_CONFIG_LIBDIR=$stage/lib/pkgconfig PKG_CONFIG_PATH= \
  cmake -S "$work/src/qpdf" -B "$work/qpdf" "${common[@]}" "${qpdf_opts[@]}" >&2
cmake --build "$work/qpdf" -j"$jobs" --target libqpdf >&2
cp "$work/qpdf/libqpdf/libqpdf.a" "$stage/lib/"
cp -r "$work/src/qpdf/include/qpdf" "$stage/include/"
upstream=${qpdf_version%%-*}
upstream=${upstream#*:}
# The final prefix is written into the file; pkg-config finds it through
# PKG_CONFIG_LIBDIR=<prefix>/lib/pkgconfig.
for pc in libjpeg zlib; do
  sed -i "s|^prefix=.*|prefix=$prefix|" "$stage/lib/pkgconfig/$pc.pc"
done
cat >"$stage/lib/pkgconfig/libqpdf.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: libqpdf
Description: qpdf $qpdf_version, static, native crypto
Version: $upstream
Libs: -L\${libdir} -lqpdf -ljpeg -lz
Cflags: -I\${includedir}
EOF
printf 'qpdf=%s\nlibjpeg-turbo=%s\nzlib=%s\nqpdf-options=%s\njpeg-options=%s\nflags=%s\ncompiler=%s\n' \
  "$qpdf_version" "$jpeg_version" "$zlib_version" "${qpdf_opts[*]}" "${jpeg_opts[*]}" \
  "$hardening" "$compiler_id" >"$stage/BUILDINFO"
touch "$stage/.complete"
rm -rf "$prefix"
mv "$stage" "$prefix"
log "installed into $prefix"
printf '%s\n' "$prefix"
