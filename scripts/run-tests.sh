#!/usr/bin/env bash
# Every test stage of `make test`, in order; the first failure stops the run.
#  1. the Linux build and its CTest suites
#  2. the same suites under AddressSanitizer + UndefinedBehaviorSanitizer,
#     built with -funsigned-char
#  3. the extra stages, scripts/stage-*.sh in name order: each fuzz target
#     for a bounded time then its saved corpus under CTest, resource limits,
#     the end-to-end suite under valgrind, the Windows x64 DLLs cross-built
#     and their suites under wine
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

stage() { printf '\n=== %s ===\n' "$*"; }

stage "Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

stage "AddressSanitizer + UndefinedBehaviorSanitizer, -funsigned-char"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVRD_SANITIZE=ON -DVRD_UNSIGNED_CHAR=ON \
  -DVRD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

for extra in scripts/stage-*.sh; do
  [ -e "$extra" ] || continue
  stage "$(basename "$extra" .sh)"
  bash "$extra"
done
