#!/usr/bin/env bash
# Every test stage of `make test`, in order; the first failure stops the run.
#  0. the lint stage (scripts/stage-lint.sh: format and build-file checks),
#     first because it takes seconds
#  1. the Linux build (its --all module over a static qpdf built from
#     Debian's source once, scripts/build-qpdf-static.sh) and its CTest suites
#  2. the same suites under AddressSanitizer + UndefinedBehaviorSanitizer,
#     built with -funsigned-char
#  3. the other scripts/stage-*.sh in name order: fuzzing (each target for a
#     bounded time, then its saved corpus under CTest), the install and
#     Debian package stage, resource limits, the end-to-end suite under
#     valgrind, the Windows x64 DLLs and their suites under wine
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

stage() { printf '\n=== %s ===\n' "$*"; }

stage "stage-lint"
bash scripts/stage-lint.sh

stage "Linux build and tests"
# With the static qpdf the package ships (Makefile: CONFIGURE_FULL), as the
# sanitizer stage below; the other stages build over the system's libqpdf.
qpdf_prefix=$(scripts/build-qpdf-static.sh host)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_TESTS=ON -DVRD_BENCH=ON \
  -DVRD_QPDF_PREFIX="$qpdf_prefix" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
# The Windows stage compares tsverify.exe --all with this build's tsverify.
export VRD_LINUX_BUILD=$PWD/build

stage "AddressSanitizer + UndefinedBehaviorSanitizer, -funsigned-char"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVRD_SANITIZE=ON -DVRD_UNSIGNED_CHAR=ON \
  -DVRD_BENCH=OFF -DVRD_QPDF_PREFIX="$qpdf_prefix" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

for extra in scripts/stage-*.sh; do
  [ -e "$extra" ] || continue
  [ "$extra" != scripts/stage-lint.sh ] || continue
  stage "$(basename "$extra" .sh)"
  bash "$extra"
done
