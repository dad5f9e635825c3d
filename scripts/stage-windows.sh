#!/usr/bin/env bash
# The Windows x64 stage of `make test`: cross-builds the DLLs and their test
# programs with mingw-w64 against a static OpenSSL (built once and cached, see
# build-openssl-mingw.sh), then runs the suites under wine through CTest.
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

wine_bin=$(command -v wine)
# OpenSSL is looked up afresh each time, so a new cache entry is picked up.
cmake -S . -B "$build" -U 'OPENSSL_*' -U 'LIB_EAY*' -U 'SSL_EAY*' \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_FIND_ROOT_PATH="$openssl_prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_bin" \
  -DCMAKE_RUNTIME_OUTPUT_DIRECTORY="$build/bin" \
  -DVRD_BENCH=OFF -DVRD_FUZZ=OFF -DVRD_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$jobs"
log "build done ($((SECONDS - started)) s)"

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
log "done in $((SECONDS - started)) s"
