#!/usr/bin/env bash
# Python stage of `make test`: the package python/vrd as its users get it.
#  1. the library, tsverify and its --all module built in build-py/ (no tests),
#     installed with `cmake --install` into a temporary prefix: the package
#     lands in the prefix's lib/python3/dist-packages beside the library;
#  2. pytest (python/tests) against that prefix: every committed document
#     through vrd.verify and vrd.report equal to the installed tsverify's
#     --json and --all --json, threads, bad arguments, the library found by
#     SONAME or a clear OSError, and python3 -m vrd.batch on a LocalCluster
#     of two worker processes, killed part-way and resumed;
#  3. `pip install --no-index --no-build-isolation ./python` into a fresh
#     virtual environment (--system-site-packages), which loads the library
#     by its SONAME through LD_LIBRARY_PATH;
#  4. the Debian package made from build-py/ ships the package, and the
#     package unpacked into a scratch root verifies the sample with the
#     libraries beside it.
# Debian's python3 is used (VRD_PYTHON to choose another), with Debian's
# python3-pytest, python3-dask and python3-distributed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${VRD_JOBS:-$(nproc)}
build=$root/build-py
python=${VRD_PYTHON:-/usr/bin/python3}
sample=$root/samples/sample.pdf

log() { printf 'stage-python: %s\n' "$*" >&2; }
fail() {
  printf 'stage-python: FAILED: %s\n' "$*" >&2
  exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export PYTHONDONTWRITEBYTECODE=1

# 1. Build and install.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_TESTS=OFF -DVRD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
prefix=$scratch/prefix
site=$prefix/lib/python3/dist-packages
for file in __init__.py _library.py batch.py _installed.py; do
  [ -f "$site/vrd/$file" ] || fail "not installed: lib/python3/dist-packages/vrd/$file"
done
log "installed into $prefix"

# 2. The tests.
(cd python/tests && VRD_PREFIX=$prefix PYTHONPATH=$site \
  "$python" -m pytest -q -p no:cacheprovider .) || fail "pytest"

# 3. pip into a fresh virtual environment; the library by its SONAME.
"$python" -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/pip" install -q --no-index --no-build-isolation ./python >/dev/null 2>&1 ||
  fail "pip install --no-index --no-build-isolation ./python"
rm -rf python/build python/vrd.egg-info
out=$(cd "$scratch" && LD_LIBRARY_PATH=$prefix/lib "$scratch/venv/bin/python" -c \
  "import vrd; print(vrd.verify('$sample'))")
grep -q '^Result(code=2109, name=.CertificateVerifyFailed' <<<"$out" || fail "venv: $out"
log "pip install ./python into a venv: $out"

# 4. The Debian package.
(cd "$build" && rm -f ./*.deb && cpack -G DEB >"$scratch/cpack.log" 2>&1) ||
  fail "cpack -G DEB: $(tail -5 "$scratch/cpack.log")"
deb=$(ls "$build"/*.deb)
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
for file in __init__.py _library.py batch.py _installed.py; do
  grep -qx -- "./usr/lib/python3/dist-packages/vrd/$file" <<<"$contents" ||
    fail "$(basename "$deb") lacks /usr/lib/python3/dist-packages/vrd/$file"
done
dpkg -x "$deb" "$scratch/debroot"
out=$(cd "$scratch" && PYTHONPATH=$scratch/debroot/usr/lib/python3/dist-packages \
  "$python" -c "import vrd; print(vrd.verify('$sample').code, vrd._library.library_path())")
[ "$out" = "2109 $scratch/debroot/usr/lib/libVIDEREDEve_Z_64.so.0.1.0" ] ||
  fail "the unpacked package's vrd: $out"
log "$(basename "$deb") ships the package, which loads the library beside it"
log "done"
