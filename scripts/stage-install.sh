#!/usr/bin/env bash
# Install stage of `make test`: the library as a user installs it.
#  1. `cmake --install` into a temporary prefix, which is then moved, so
#     nothing may depend on the path it was installed to;
#  2. the public header alone compiles as C89, C99, C11, C++98 and C++17
#     (pedantic, warnings as errors) and links against the installed library;
#  3. the examples: examples/verify.c through pkg-config, examples/verify.cpp
#     through find_package(vrd CONFIG), and the README's C example, run on the
#     shipped sample: 2109 through the exports (the sample's authority does not
#     chain to the built-in anchors), while the installed tsverify gives 0 with
#     the sample's root as an extra trust anchor;
#  4. `tsverify --version` (the toolkit names the OpenSSL it runs on; the
#     library reaches OpenSSL only through the toolkit), `tsverify --all` on
#     the sample, and `man -l` on the installed page;
#  5. `make package`: the .deb lists the header, both libraries, tsverify and
#     its --all module, the man page, the CMake and pkg-config files, its
#     Depends: names libssl3 and is installable here (dpkg --dry-run);
#     unpacked into a scratch root, its tsverify runs, --all included.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
build=$root/build
sample=$root/samples/sample.pdf
sample_root=$root/samples/sample-root.pem

log() { printf 'stage-install: %s\n' "$*" >&2; }
fail() {
  printf 'stage-install: FAILED: %s\n' "$*" >&2
  exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs a command that verifies the sample; expects its exit status and a line
# of output matching a pattern.
expect_run() {
  local want_status=$1 pattern=$2
  shift 2
  local out status=0
  out=$("$@" 2>&1) || status=$?
  printf '%s\n' "$out" | sed 's/^/    /' >&2
  [ "$status" -eq "$want_status" ] || fail "$* exited with $status, expected $want_status"
  grep -Eq -- "$pattern" <<<"$out" || fail "$*: no line matches '$pattern'"
}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_TESTS=ON -DVRD_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs" --target VIDEREDEve_Z_64 tsverify

# 1. Install, then move the prefix.
cmake --install "$build" --prefix "$scratch/staged" >/dev/null
mv "$scratch/staged" "$scratch/prefix"
prefix=$scratch/prefix
for file in include/vrd/tsverify.h bin/tsverify share/man/man1/tsverify.1 \
  lib/libVIDEREDEve_Z_64.so lib/libDIRIrozeza64Z30-e3.4.2.19.so \
  lib/cmake/vrd/vrd-config.cmake lib/cmake/vrd/vrd-config-version.cmake \
  lib/pkgconfig/vrd.pc; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
soname=$(readelf -d "$prefix/lib/libVIDEREDEve_Z_64.so" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libVIDEREDEve_Z_64.so.0 ] || fail "SONAME is '$soname'"
[ -e "$prefix/lib/$soname" ] || fail "no $soname beside the development link"
grep -q "=> $prefix/bin/../lib/libDIRIrozeza64Z30" <<<"$(ldd "$prefix/bin/tsverify")" ||
  fail "the moved tsverify does not load the toolkit from the moved prefix"
log "installed and moved: SONAME $soname"

# 2. The header on its own, in every language level it promises.
probe=$scratch/probe
mkdir -p "$probe"
cat >"$probe/probe.c" <<'EOF'
#include <vrd/tsverify.h>
int main(void) {
  VrdTsvChar text[VRD_TSV_TEXT_UNITS];
  text[0] = 0;
  return QVTSPdfSigVerifyD(0, 0, text, text, text, text) == VRD_TSV_NO_TIME_STAMP_TOKEN ? 0 : 1;
}
EOF
cp "$probe/probe.c" "$probe/probe.cpp"
for std in c89 c99 c11; do
  cc -std=$std -pedantic-errors -Wall -Wextra -Werror -I"$prefix/include" "$probe/probe.c" \
    -L"$prefix/lib" -lVIDEREDEve_Z_64 -Wl,-rpath,"$prefix/lib" -o "$probe/probe-$std"
  "$probe/probe-$std" >/dev/null || fail "header probe built as $std: empty document did not give 2108"
done
for std in c++98 c++17; do
  c++ -std=$std -pedantic-errors -Wall -Wextra -Werror -I"$prefix/include" "$probe/probe.cpp" \
    -L"$prefix/lib" -lVIDEREDEve_Z_64 -Wl,-rpath,"$prefix/lib" -o "$probe/probe-$std"
  "$probe/probe-$std" >/dev/null || fail "header probe built as $std: empty document did not give 2108"
done
log "header compiles and links as C89, C99, C11, C++98, C++17"

# 3. The consumers.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion vrd)" = "$(sed -n 's/^project(vrd VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  fail "pkg-config version differs from the project's"
libdir=$(pkg-config --variable=libdir vrd)
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/verify_c" examples/verify.c \
  $(pkg-config --cflags --libs vrd) -Wl,-rpath,"$libdir"
log "examples/verify.c (pkg-config) on the sample"
expect_run 1 '^code: 2109$' "$scratch/verify_c" "$sample"
expect_run 1 '^subjectName: CN=vrd Sample TSA' "$scratch/verify_c" "$sample"

cmake -S examples -B "$scratch/build-cpp" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/build-cpp" >/dev/null
log "examples/verify.cpp (find_package) on the sample"
expect_run 1 ': 2109 authority not trusted' "$scratch/build-cpp/verify_cpp" "$sample"

# The README's minimal C example, as a user would copy it.
awk '/<!-- example: linux-c -->/ { found = 1; next }
     found && /^```c$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' README.md >"$scratch/readme.c"
[ -s "$scratch/readme.c" ] || fail "README has no C example after <!-- example: linux-c -->"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/readme_c" "$scratch/readme.c" \
  $(pkg-config --cflags --libs vrd) -Wl,-rpath,"$libdir"
log "README's C example on the sample"
expect_run 1 '^2109 ' "$scratch/readme_c" "$sample"

# 4. The installed command and its manual page. The library reaches OpenSSL
# only through the toolkit (the --all module links it for the report).
library_needed=$(readelf -d "$prefix/lib/libVIDEREDEve_Z_64.so")
if grep -Eq 'NEEDED.*(libcrypto|libssl)' <<<"$library_needed"; then
  fail "libVIDEREDEve_Z_64.so links OpenSSL directly"
fi
log "installed tsverify"
expect_run 0 '^tsverify [0-9]+[.][0-9]+[.][0-9]+$' "$prefix/bin/tsverify" --version
expect_run 0 '^crypto library: OpenSSL 3[.]' "$prefix/bin/tsverify" --version
expect_run 0 'result: +0 ResultOk' "$prefix/bin/tsverify" --trust-anchor "$sample_root" "$sample"
expect_run 1 'result: +2109 CertificateVerifyFailed' "$prefix/bin/tsverify" "$sample"
# The sample carries no revocation data: its time-stamp verifies, and its
# long-term indication is INDETERMINATE/TRY_LATER (exit status 3).
expect_run 3 'imprint: +pass' "$prefix/bin/tsverify" --all --trust-anchor "$sample_root" "$sample"
man_text=$(LC_ALL=C MANWIDTH=80 man -l "$prefix/share/man/man1/tsverify.1" 2>"$scratch/man.err" | col -b)
[ ! -s "$scratch/man.err" ] || fail "man -l warns: $(cat "$scratch/man.err")"
for word in --json --trust-anchor --files-from --all --system-roots --version 'EXIT STATUS' \
  hashedMessage reason message EXAMPLES; do
  grep -q -- "$word" <<<"$man_text" || fail "man page does not mention $word"
done
log "man -l renders the page without warnings; options, exit status and JSON keys present"

# 5. The Debian package.
rm -f "$build"/*.deb
make -s package >/dev/null
debs=("$build"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "make package made ${#debs[@]} .deb files"
deb=${debs[0]}
dpkg-deb --info "$deb" | sed 's/^/    /' >&2
depends=$(dpkg-deb --field "$deb" Depends)
grep -Eq '(^|, )libssl3( |,|$)' <<<"$depends" || fail "Depends: does not name libssl3: $depends"
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for file in ./usr/include/vrd/tsverify.h ./usr/bin/tsverify ./usr/share/man/man1/tsverify.1 \
  ./usr/lib/libVIDEREDEve_Z_64.so.0 ./usr/lib/libDIRIrozeza64Z30-e3.4.2.19.so.0 \
  ./usr/lib/cmake/vrd/vrd-config.cmake ./usr/lib/cmake/vrd/vrd-targets.cmake \
  ./usr/lib/pkgconfig/vrd.pc ./usr/lib/vrd/libvrd_tsverify_all.so; do
  grep -qx -- "$file" <<<"$contents" || fail "$(basename "$deb") lacks $file"
done
log "$(basename "$deb"): contents complete, Depends: $depends"
if [ "$(id -u)" -eq 0 ]; then
  dpkg --dry-run -i "$deb" >/dev/null || fail "dpkg would not install $(basename "$deb") here"
  log "dpkg --dry-run -i: its dependencies are satisfied on this system"
fi
dpkg -x "$deb" "$scratch/debroot"
grep -q "=> $scratch/debroot/usr/bin/../lib/libDIRIrozeza64Z30" \
  <<<"$(ldd "$scratch/debroot/usr/bin/tsverify")" ||
  fail "the unpacked tsverify does not load the toolkit beside it"
expect_run 0 '^crypto library: OpenSSL 3[.]' "$scratch/debroot/usr/bin/tsverify" --version
expect_run 0 'result: +0 ResultOk' "$scratch/debroot/usr/bin/tsverify" \
  --trust-anchor "$sample_root" "$sample"
expect_run 3 'imprint: +pass' "$scratch/debroot/usr/bin/tsverify" --all \
  --trust-anchor "$sample_root" "$sample"
log "the unpacked package's tsverify runs from a scratch root, --all with its module"
log "done"
