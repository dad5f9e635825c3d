#!/usr/bin/env bash
# Fuzz stage of `make test`: builds the libFuzzer targets with clang
# (AddressSanitizer + UndefinedBehaviorSanitizer) in build-fuzz, runs every
# target for a bounded time on a scratch copy of its saved corpus (so the
# committed corpus does not grow), reports the executions reached, fails on
# any crash, leak, timeout or sanitizer report, then replays the saved
# corpora under CTest.
# The report fuzzer also gets the hostile documents of
# scripts/make-hostile-docs.py: the small ones join its scratch corpus, and
# every one is first run once on its own, within the same memory and time
# limits.
# VRD_FUZZ_SECONDS overrides the time per target (default 40, so that the five
# targets stay within about five minutes on two cores; `make fuzz-long` runs
# them for longer).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${VRD_FUZZ_SECONDS:-40}"
build=build-fuzz
jobs=$(nproc)
# VRD_FUZZ_TARGETS: a space-separated subset of the target names (default: all).
only="${VRD_FUZZ_TARGETS:-}"

# Over the static qpdf the package ships, so that the report's own crypto
# provider for qpdf meets the mutated encrypted documents.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_FUZZ=ON \
  -DVRD_TESTS=OFF -DVRD_BENCH=OFF -DVRD_QPDF_PREFIX="$(scripts/build-qpdf-static.sh host)" >/dev/null
cmake --build "$build" -j"$jobs"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

found=0
for target in "$build"/fuzz/*; do
  [[ -f $target && -x $target ]] || continue
  name=$(basename "$target")
  if [[ -n $only && " $only " != *" $name "* ]]; then continue; fi
  found=$((found + 1))
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  if [[ -d fuzz/corpus/$name ]]; then
    cp -R "fuzz/corpus/$name/." "$corpus/"
  fi
  if [[ $name == report_fuzzer ]]; then
    hostile="$scratch/hostile"
    python3 scripts/make-hostile-docs.py "$hostile"
    if ! "$target" -timeout=10 -rss_limit_mb=2048 "$hostile"/*.pdf >"$scratch/hostile.log" 2>&1; then
      tail -n 60 "$scratch/hostile.log"
      echo "report_fuzzer: FAILED on a hostile document"
      exit 1
    fi
    echo "report_fuzzer: $(ls "$hostile" | wc -l) hostile documents, each within the limits"
    find "$hostile" -name '*.pdf' -size -100k -exec cp {} "$corpus/" \;
  fi
  log="$scratch/$name.log"
  printf '%s: fuzzing for %ss\n' "$name" "$seconds"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$corpus" >"$log" 2>&1; then
    tail -n 60 "$log"
    printf '%s: FAILED (artifacts in %s)\n' "$name" "$artifacts"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  printf '%s: %s executions, no crash\n' "$name" "${runs:-unknown}"
done
if [[ $found -eq 0 ]]; then
  echo "no fuzz targets were built" >&2
  exit 1
fi

ctest --test-dir "$build" --output-on-failure -j"$jobs"
