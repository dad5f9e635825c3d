#!/usr/bin/env bash
# ThreadSanitizer stage of `make test`: the threaded suites (concurrency_test:
# both exported functions from eight threads over every outcome;
# toolkit_cache_test: the toolkit's per-thread caches with threads that trust
# different roots), tsverify -j 8 and tsverify --all -j 8 (whose outputs must
# equal -j 1's; --all over the static qpdf the package ships, with the
# report's process-wide caches and its crypto provider for qpdf) built with
# -fsanitize=thread and run under it. OpenSSL and qpdf themselves are not
# instrumented: their internal synchronisation is invisible to the
# sanitizer, but so are their memory accesses, so they cannot produce false
# reports; everything of ours is checked. No suppressions are needed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
build=build-tsan
flags="-fsanitize=thread -fno-omit-frame-pointer -g"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_BENCH=OFF \
  -DVRD_QPDF_PREFIX="$(scripts/build-qpdf-static.sh host)" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
  >/dev/null
cmake --build "$build" -j"$jobs" --target concurrency_test toolkit_cache_test tsverify \
  vrd_tsverify_all
# halt_on_error: the first race fails the stage; second_deadlock_stack for
# readable lock-order reports. The library's scanning messages go to
# standard output, which is not wanted here.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=4"
for suite in concurrency_test toolkit_cache_test; do
  echo "--- $suite under ThreadSanitizer"
  "$build/tests/$suite" --gtest_brief=1 >"$build/$suite.out" 2>&1 || {
    tr -c '[:print:]\n' '?' <"$build/$suite.out" | tail -80
    exit 1
  }
  grep -E '^\[  (PASSED|FAILED)' "$build/$suite.out"
done

echo "--- tsverify -j 8 under ThreadSanitizer"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in $(seq 1 40); do cp samples/sample.pdf "$work/s$i.pdf"; done
head -c 3000 samples/sample.pdf >"$work/truncated.pdf"
sed 's/Type/Typf/' samples/sample.pdf >"$work/altered.pdf"
(ls "$work"/*.pdf; echo "$work/missing.pdf") >"$work/list.txt"
for j in 1 8; do
  status=0
  "$build/cli/tsverify" -j "$j" --trust-anchor samples/sample-root.pem \
    --files-from "$work/list.txt" >"$work/out-$j.json" 2>"$work/err-$j.txt" || status=$?
  if [ "$status" -ne 1 ] || grep -q ThreadSanitizer "$work/err-$j.txt"; then
    cat "$work/err-$j.txt"
    exit 1
  fi
done
# The JSON objects (the library's own scanning messages may run into them on
# standard output, wherever the scheduler put them).
for j in 1 8; do grep -ao '{"file":.*}' "$work/out-$j.json" >"$work/objects-$j.json"; done
cmp "$work/objects-1.json" "$work/objects-8.json"
echo "identical results, $(wc -l <"$work/objects-8.json") files"

echo "--- tsverify --all -j 8 under ThreadSanitizer"
ls tests/data/report/*.pdf tests/data/ltv/*.pdf >"$work/all-list.txt"
for j in 1 8; do
  status=0
  "$build/cli/tsverify" --all --json -j "$j" --at 2026-01-01 \
    --trust-anchor tests/data/pki/root.pem --trust-anchor tests/data/ltv/pki/root.pem \
    --files-from "$work/all-list.txt" >"$work/all-$j.json" 2>"$work/all-err-$j.txt" || status=$?
  if [ "$status" -ne 1 ] || grep -q ThreadSanitizer "$work/all-err-$j.txt"; then
    echo "tsverify --all -j $j: exit $status"
    cat "$work/all-err-$j.txt"
    exit 1
  fi
done
cmp "$work/all-1.json" "$work/all-8.json"
echo "identical reports, $(wc -l <"$work/all-8.json") files"
