#!/usr/bin/env bash
# valgrind (memcheck) stage of `make test`: the end-to-end suite (the exported
# library over the OpenSSL-backed toolkit), tsverify's helper tests, and the
# tsverify command itself on good, altered, broken and special files with
# several jobs, all from the Linux build (build/). Fails on any invalid read
# or write, use of uninitialised memory, bad free or definite leak
# (--error-exitcode). Child processes the tests fork are checked too.
# Runs in a few minutes on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
jobs=$(nproc)
if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target e2e_test cli_test tsverify

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
  --errors-for-leak-kinds=definite --show-leak-kinds=definite --track-origins=yes
  --child-silent-after-fork=no --trace-children=no --num-callers=30 --quiet)

run() {
  local name=$1
  shift
  printf 'valgrind: %s\n' "$name"
  if ! "${memcheck[@]}" --log-file="$logs/$name.%p.log" "$@" >"$logs/$name.out" 2>&1; then
    cat "$logs/$name".*.log "$logs/$name.out" | tail -n 80
    printf 'valgrind: %s FAILED\n' "$name"
    exit 1
  fi
  # --quiet: a clean process leaves an empty log. Reports of forked children
  # do not change the parent's exit status, so every log is looked at.
  if [[ -n $(cat "$logs/$name".*.log) ]]; then
    cat "$logs/$name".*.log | tail -n 80
    printf 'valgrind: %s FAILED (in a child process)\n' "$name"
    exit 1
  fi
}

run e2e_test "$build/tests/e2e_test"
run cli_core "$build/tests/cli_test" --gtest_filter='TsVerifyCoreTest.*'

# The command on its own: documents from the sample, a truncated and an
# altered copy, a directory, a FIFO and /dev/zero, one job and four.
work=$(mktemp -d)
trap 'rm -rf "$logs" "$work"' EXIT
cp samples/sample.pdf "$work/good.pdf"
head -c 3000 samples/sample.pdf >"$work/truncated.pdf"
LC_ALL=C sed 's/(Time-stamped sample document)/(Time-stamped sample documenT)/' \
  samples/sample.pdf >"$work/altered.pdf"
mkfifo "$work/fifo"
files=("$work/good.pdf" "$work/truncated.pdf" "$work/altered.pdf" "$work/fifo" "$work"
  /dev/zero "$work/missing.pdf")
for jobs_option in -j1 -j4; do
  for format in --json ""; do
    name="tsverify${jobs_option}${format:+-json}"
    printf 'valgrind: %s\n' "$name"
    status=0
    "${memcheck[@]}" --log-file="$logs/$name.log" "$build/cli/tsverify" $jobs_option $format \
      --trust-anchor samples/sample-root.pem "${files[@]}" >"$logs/$name.out" 2>&1 || status=$?
    # 1: some file did not verify (expected); 99: memcheck found an error.
    if [[ $status -ne 1 || -s $logs/$name.log ]]; then
      cat "$logs/$name.log" "$logs/$name.out" | tail -n 80
      printf 'valgrind: %s FAILED (status %s)\n' "$name" "$status"
      exit 1
    fi
  done
done
echo "valgrind: no invalid access, no definite leak"
