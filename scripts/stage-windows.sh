#!/usr/bin/env bash
# The Windows x64 stage of `make test`: cross-builds the DLLs, tsverify.exe
# with its --all module and the test programs with mingw-w64 against a static
# OpenSSL and a static qpdf (each built once and cached, see
# build-openssl-mingw.sh and build-qpdf-static.sh), then runs the suites under
# wine through CTest, `tsverify.exe --all --json` against the Linux build on
# every report test document, and the Windows package (package-windows.sh)
# unpacked into a fresh folder.
#
# VRD_WINDOWS_BUILD_ONLY=1 stops after the build (`make package-windows`).
# VRD_LINUX_BUILD names a Linux build tree whose tsverify is the reference
# (run-tests.sh passes its own); without it the stage builds tsverify in
# build-win-linux/.
#
# Wine is set up so that a failure cannot pass for success:
#  - WINEDEBUG keeps err+module, so a missing DLL is named, not just exit 53;
#  - winedbg is disabled, so a crashing test exits non-zero instead of being
#    caught by the debugger (which can end with 0);
#  - no mono/gecko installers, no DISPLAY;
#  - one persistent wineserver for the whole stage, started right after the
#    prefix exists and killed on every path, so no test waits for a server to
#    shut down.
# The output-conversion suites run a second time under a Korean locale, where
# wine's ANSI code page is 949.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
build=$root/build-win
started=$SECONDS
# The suites whose outputs pass through the ANSI code page.
codepage_tests='^(CodePage|Win32LoadFile|DllLoad|ToolkitCertTest)[.]'

log() { printf 'stage-windows: %s\n' "$*" >&2; }

openssl_prefix=$(scripts/build-openssl-mingw.sh)
log "OpenSSL for mingw: $openssl_prefix ($((SECONDS - started)) s)"
qpdf_prefix=$(scripts/build-qpdf-static.sh mingw)
log "qpdf for mingw: $qpdf_prefix ($((SECONDS - started)) s)"
# pkg-config sees the target's qpdf only, never the host's (also when the
# build reruns the configuration).
export PKG_CONFIG_LIBDIR=$qpdf_prefix/lib/pkgconfig PKG_CONFIG_PATH=

wine_bin=$(command -v wine)
# OpenSSL is looked up afresh each time, so a new cache entry is picked up.
cmake -S . -B "$build" -U 'OPENSSL_*' -U 'LIB_EAY*' -U 'SSL_EAY*' \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_FIND_ROOT_PATH="$openssl_prefix;$qpdf_prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
  -DVRD_REPORT=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_bin" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$build/bin" \
  -DVRD_BENCH=OFF -DVRD_FUZZ=OFF -DVRD_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$jobs"
log "build done ($((SECONDS - started)) s)"
[ "${VRD_WINDOWS_BUILD_ONLY:-0}" != 1 ] || exit 0

export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all,err+module
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Test programs find the DLLs beside them; nothing else is searched.
export WINEPATH=

server_up=0
stop_server() {
  if [ "$server_up" = 1 ]; then
    wineserver -k 2>/dev/null || true
  fi
}
trap stop_server EXIT

# A server left behind by an interrupted run of this stage would refuse ours.
wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  log "creating the wine prefix"
  wineboot -i >/dev/null 2>&1
  # The server that wineboot started lingers; let it go before ours takes over.
  wineserver -w
fi
wineserver -p
server_up=1
# The first wine call starts the prefix's services, which live as long as the
# server: they must not hold on to the output pipe of a test.
wineboot </dev/null >/dev/null 2>&1
log "wine ready ($((SECONDS - started)) s)"

# Runs CTest with the given arguments. A test program that wine fails to
# start ends at once without printing anything (seen once in about a thousand
# starts on a loaded 2-core machine); only such silent failures are run once
# more, serially, and named in the log. A failure with any output, or a
# second failure, fails the stage. suite_env is the environment's additions.
suite_env=()
run_suite() {
  local status=0
  env "${suite_env[@]}" ctest --test-dir "$build" --output-on-failure -j"$jobs" "$@" || status=$?
  [ "$status" -eq 0 ] && return 0
  local failed=$build/Testing/Temporary/LastTestsFailed.log
  local results=$build/Testing/Temporary/LastTest.log
  [ -s "$failed" ] && [ -f "$results" ] || return "$status"
  local name output silent=()
  while IFS= read -r name; do
    output=$(awk -v name="$name" '
      /^[0-9]+\/[0-9]+ Test: / { line = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", line); mine = (line == name); next }
      mine && /^Output:$/ { getline; inside = 1; next }
      mine && inside && /^<end of output>$/ { exit }
      mine && inside { print }' "$results")
    if [ -n "$(tr -d '[:space:]' <<<"$output")" ]; then
      log "$name failed with output: not a failure to start"
      return "$status"
    fi
    silent+=("$name")
  done < <(cut -d: -f2- "$failed")
  log "wine did not start ${#silent[@]} test(s), which printed nothing: ${silent[*]}; once more"
  env "${suite_env[@]}" ctest --test-dir "$build" --output-on-failure --rerun-failed
}

run_suite

# What a Windows programmer copies: the README's C example (loads the DLL at
# run time) and examples/verify.c (includes vrd/tsverify.h, links the import
# library), built like a user's program and run beside the DLLs on the
# shipped sample. Its authority is not a built-in anchor: 2109.
examples=$build/examples
mkdir -p "$examples"
awk '/<!-- example: windows-c -->/ { found = 1; next }
     found && /^```c$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' README.md >"$examples/readme_dll.c"
[ -s "$examples/readme_dll.c" ] || { log "README has no C example after <!-- example: windows-c -->"; exit 1; }
mingw_cc=x86_64-w64-mingw32-gcc-posix
import_lib=$(find "$build/api" -name 'libVIDEREDEve_Z_64.dll.a' | head -n 1)
[ -n "$import_lib" ] || { log "no import library libVIDEREDEve_Z_64.dll.a in $build/api"; exit 1; }
$mingw_cc -std=c99 -Wall -Wextra -Werror -O2 -static -o "$build/bin/readme_dll.exe" \
  "$examples/readme_dll.c"
$mingw_cc -std=c99 -Wall -Wextra -Werror -O2 -static -I include -o "$build/bin/verify_c.exe" \
  examples/verify.c "$import_lib"
cp samples/sample.pdf "$build/bin/sample.pdf"
run_example() {
  local want_status=$1 pattern=$2 program=$3 status=0
  (cd "$build/bin" && wine "$program" sample.pdf >"$examples/$program.out" 2>&1) || status=$?
  local out
  out=$(tr -d '\r' <"$examples/$program.out")
  printf '%s\n' "$out" | sed 's/^/    /' >&2
  if [ "$status" -ne "$want_status" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    log "$program: exit $status (expected $want_status), output must match '$pattern'"
    exit 1
  fi
}
run_example 2 '^2109 .*SHA256' readme_dll.exe
run_example 2 'CN=vrd Sample TSA' readme_dll.exe
run_example 1 '^code: 2109$' verify_c.exe
log "README's Windows C example and examples/verify.c ran under wine: 2109 on the sample"

# tsverify.exe --all: the same JSON as the Linux build on every report test
# document (with -j 2, Windows paths), apart from the "file" key, and the same
# exit status. The Linux reference is the tree run-tests.sh built, else ours.
linux_build=${VRD_LINUX_BUILD:-}
if [ -z "$linux_build" ]; then
  linux_build=$root/build-win-linux
  log "building the Linux tsverify for the --all comparison in $linux_build"
  env -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_PATH cmake -S . -B "$linux_build" \
    -DCMAKE_BUILD_TYPE=Release -DVRD_TESTS=OFF -DVRD_BENCH=OFF >/dev/null
  env -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_PATH cmake --build "$linux_build" -j"$jobs" \
    --target tsverify vrd_tsverify_all
fi
# The long-term validation documents (tests/data/ltv) too, with their own root.
mapfile -t documents < <(ls -- tests/data/report/*.pdf tests/data/ltv/*.pdf)
[ "${#documents[@]}" -gt 20 ] || { log "too few documents in tests/data/report and ltv"; exit 1; }
anchors=() windows_anchors=()
for anchor in tests/data/pki/root.pem tests/data/ltv/pki/root.pem; do
  anchors+=(--trust-anchor "$anchor")
  windows_anchors+=(--trust-anchor "${anchor//\//\\}")
done
all_out=$build/all-json
mkdir -p "$all_out"
linux_status=0
"$linux_build/cli/tsverify" --all --json "${anchors[@]}" -j 2 \
  "${documents[@]}" >"$all_out/linux.jsonl" || linux_status=$?
windows_status=0
wine "$build/bin/tsverify.exe" --all --json "${windows_anchors[@]}" -j 2 "${documents[@]//\//\\}" \
  >"$all_out/windows.jsonl" 2>"$all_out/windows.err" || windows_status=$?
jq -c 'del(.file)' "$all_out/linux.jsonl" >"$all_out/linux.nofile"
jq -c 'del(.file)' "$all_out/windows.jsonl" >"$all_out/windows.nofile" || true
if [ "$(wc -l <"$all_out/linux.nofile")" -ne "${#documents[@]}" ] || [ "$windows_status" -ne "$linux_status" ] ||
  ! diff "$all_out/linux.nofile" "$all_out/windows.nofile" >&2; then
  sed 's/^/    /' "$all_out/windows.err" >&2
  log "tsverify.exe --all --json (exit $windows_status) differs from the Linux build (exit $linux_status)"
  exit 1
fi
log "tsverify.exe --all --json equals the Linux build on ${#documents[@]} documents (exit $linux_status)"

# The package, unpacked into a fresh folder: every import of every binary is
# one of the package's DLLs or a DLL of wine's Windows system folder (none of
# mingw-w64's runtime), and tsverify.exe verifies the sample, plain and with
# --all, with nothing but the package and the system's DLLs.
zip=$(scripts/package-windows.sh "$build")
fresh=$build/package-test
rm -rf "$fresh"
mkdir -p "$fresh"
unzip -q "$zip" -d "$fresh"
package=$(find "$fresh" -mindepth 1 -maxdepth 1 -type d)
system32=$WINEPREFIX/drive_c/windows/system32
log "package files:"
(cd "$package" && find . -type f | sort | sed 's/^/    /' >&2)
for binary in "$package"/*.dll "$package"/*.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$binary" | awk '/DLL Name:/ {print $3}' | sort -f)
  log "$(basename "$binary") imports: $(tr '\n' ' ' <<<"$imports")"
  for dll in $imports; do
    [ ! -f "$package/$dll" ] || continue
    if grep -Eiq '^(lib|zlib|api-ms-win-crt-)' <<<"$dll" ||
      [ -z "$(find "$system32" -maxdepth 1 -iname "$dll" -print -quit)" ]; then
      log "$(basename "$binary") imports $dll: a runtime DLL, or not a system DLL"
      exit 1
    fi
  done
done
samples=$(realpath --relative-to="$package" samples)
run_package() {
  local want=$1 pattern=$2 status=0 out
  shift 2
  out=$(cd "$package" && wine tsverify.exe "$@" 2>&1 | tr -d '\r') || status=$?
  printf '%s\n' "$out" | sed 's/^/    /' >&2
  if [ "$status" -ne "$want" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    log "packaged tsverify.exe $*: exit $status (expected $want), output must match '$pattern'"
    exit 1
  fi
}
run_package 0 'result: +0 ResultOk' --trust-anchor "$samples/sample-root.pem" "$samples/sample.pdf"
# --all ends as the Linux build's --all does on the sample.
all_status=0
"$linux_build/cli/tsverify" --all --json --trust-anchor samples/sample-root.pem \
  samples/sample.pdf >/dev/null || all_status=$?
run_package "$all_status" '"verified":true' --all --json --trust-anchor "$samples/sample-root.pem" \
  "$samples/sample.pdf"
log "the package ran from a fresh folder: $zip"

# Korean ANSI code page: the conversion of the output texts must keep Hangul.
# The locale is compiled into the build tree, so no system locale is needed.
locales=$build/locale
if [ ! -d "$locales/ko_KR.UTF-8" ]; then
  mkdir -p "$locales"
  localedef -i ko_KR -f UTF-8 "$locales/ko_KR.UTF-8"
fi
log "output conversion again with LC_ALL=ko_KR.UTF-8 (code page 949)"
suite_env=(LOCPATH="$locales" LC_ALL=ko_KR.UTF-8 VRD_EXPECT_ACP=949)
run_suite -R "$codepage_tests"

# A file named in Hangul reaches the report in the ANSI code page (949 here),
# as it reaches the library: --all on it is the report of the same document
# under an ASCII name.
cp tests/data/report/doc-ts.pdf "$all_out/문서.pdf"
(cd "$all_out" && env "${suite_env[@]}" wine "$build/bin/tsverify.exe" --all --json \
  --trust-anchor '..\..\tests\data\pki\root.pem' 문서.pdf >hangul.jsonl) || true
want=$(jq -c 'select(.file == "tests\\data\\report\\doc-ts.pdf") | del(.file)' "$all_out/windows.jsonl")
got=$(jq -c 'del(.file)' "$all_out/hangul.jsonl" || true)
if [ -z "$want" ] || [ "$got" != "$want" ]; then
  log "tsverify.exe --all on a file named in Hangul (code page 949) differs: $got"
  exit 1
fi
log "tsverify.exe --all read a file named in Hangul through code page 949"

# Ctrl-C (wine turns SIGINT into the console's CTRL_C_EVENT) stops an --all
# batch with status 130, after whole lines only.
printf 'tests\\data\\report\\doc-ts.pdf\n%.0s' $(seq 20000) >"$all_out/many.txt"
: >"$all_out/stopped.jsonl"  # emptied first: the wait below must not see an earlier run's lines
wine "$build/bin/tsverify.exe" --all --json -j 2 --files-from 'build-win\all-json\many.txt' \
  >"$all_out/stopped.jsonl" 2>/dev/null &
batch=$!
until [ "$(wc -l <"$all_out/stopped.jsonl")" -ge 20 ] || ! kill -0 "$batch" 2>/dev/null; do sleep 0.2; done
kill -INT "$batch" 2>/dev/null || true
status=0
wait "$batch" || status=$?
lines=$(wc -l <"$all_out/stopped.jsonl")
if [ "$status" -ne 130 ] || [ "$lines" -ge 20000 ] || ! jq -e . "$all_out/stopped.jsonl" >/dev/null; then
  log "Ctrl-C: exit $status (expected 130) after $lines of 20000 reports, each whole"
  exit 1
fi
log "Ctrl-C stopped tsverify.exe --all with 130 after $lines whole reports"
log "done in $((SECONDS - started)) s"
