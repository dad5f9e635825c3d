#!/usr/bin/env bash
# Lint stage of `make test`, run first (it takes seconds):
#  1. every C and C++ file of the tree matches .clang-format
#     (clang-format --dry-run -Werror);
#  2. the build files fail loudly: no source or fragment GLOBs and no
#     if(EXISTS ...) / if(TARGET ...) guards that would skip a folder, a
#     suite or a link silently (the PE checker globs the programs it is
#     given, and the cross build adds GoogleTest aliases only where the
#     GoogleTest sources do not);
#  3. proof of the above on a scratch copy of the tree: with one listed
#     source file or one listed test fragment removed, the configuration
#     stops with an error naming it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

log() { printf 'stage-lint: %s\n' "$*" >&2; }
fail() {
  printf 'stage-lint: FAILED: %s\n' "$*" >&2
  exit 1
}

# The tree's files: tracked ones in a git checkout, else everything outside
# the build trees.
list_files() {
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files --cached --others --exclude-standard -- "$@"
  else
    local patterns=()
    for pattern in "$@"; do patterns+=(-o -name "${pattern#\*}"); done
    find . -path './build*' -prune -o -type f \( -false "${patterns[@]}" \) -print | sed 's|^\./||'
  fi
}

# 1. Format.
mapfile -t sources < <(list_files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' '*.inc' | sort)
[ ${#sources[@]} -gt 0 ] || fail "no C or C++ files found"
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  fail "files differ from .clang-format; run clang-format -i on them"
fi
log "${#sources[@]} C/C++ files match .clang-format"

# 2. Build files.
mapfile -t build_files < <(list_files 'CMakeLists.txt' '*.cmake' | grep -v '^cmake/toolchain-' | sort)
offences=$(grep -nE '^[^#]*(file\((GLOB|GLOB_RECURSE)|if\((NOT )?(EXISTS|TARGET) )' \
  "${build_files[@]}" |
  grep -vE '^tests/(windows/check_pe_interface|support/check_elf_hardening).cmake:|if\(NOT TARGET GTest::' || true)
[ -z "$offences" ] || fail "build files that can skip silently:
$offences"
log "${#build_files[@]} build files: no GLOB, if(EXISTS) or if(TARGET)"

# Every fragment beside a fragment list is on that list: a new suite or fuzz
# target that nobody listed would otherwise never build or run.
check_fragments() {
  local folder=$1 variable=$2 listed fragment
  listed=$(sed -n "s/^set($variable \(.*\))\$/\1/p" "$folder/CMakeLists.txt")
  [ -n "$listed" ] || fail "$folder/CMakeLists.txt has no $variable list"
  for fragment in "$folder"/*.cmake; do
    fragment=$(basename "$fragment" .cmake)
    [[ " $listed " == *" $fragment "* ]] || fail "$folder/$fragment.cmake is not in $variable"
  done
}
check_fragments tests VRD_TEST_FRAGMENTS
check_fragments fuzz VRD_FUZZ_FRAGMENTS
check_fragments bench VRD_BENCH_FRAGMENTS
log "every test and fuzz fragment is listed"

# Every C and C++ source file is named by a build file of its folder or one
# above it: a file that no list names would silently never be compiled.
unlisted=()
for source in $(list_files '*.c' '*.cpp' | sort -u); do
  folder=$(dirname "$source") name=$(basename "$source") found=0
  while :; do
    if grep -qsF "$name" "$folder"/CMakeLists.txt "$folder"/*.cmake; then
      found=1
      break
    fi
    [ "$folder" = . ] && break
    folder=$(dirname "$folder")
  done
  [ $found = 1 ] || unlisted+=("$source")
done
[ ${#unlisted[@]} -eq 0 ] || fail "sources no build file names: ${unlisted[*]}"
log "every C and C++ source is named by a build file"

# 3. A missing listed file stops the configuration.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
expect_configure_error() {
  local removed=$1 copy=$scratch/tree
  rm -rf "$copy" "$scratch/build"
  mkdir -p "$copy"
  (cd "$root" && list_files '*' | grep -v '^build' | tar -cf - -T -) | tar -xf - -C "$copy"
  rm "$copy/$removed"
  if cmake -S "$copy" -B "$scratch/build" -DVRD_TESTS=ON -DVRD_BENCH=OFF \
    >"$scratch/configure.log" 2>&1; then
    fail "configuring without $removed succeeded"
  fi
  grep -q "$(basename "$removed")" "$scratch/configure.log" ||
    fail "configuring without $removed failed without naming it: $(tail -5 "$scratch/configure.log")"
  log "without $removed: the configuration stops: $(grep -m1 -i error "$scratch/configure.log")"
}
expect_configure_error pdf/TokenList.cpp
expect_configure_error tests/util.cmake
