#!/usr/bin/env bash
# Installs the Debian packages a profile needs, and only those that are
# missing (apt-get update runs only when something is).
#
#   scripts/install-deps.sh demo   what `make demo` needs: build tsverify
#   scripts/install-deps.sh test   everything `make test` runs (the default):
#                                  tests, benchmarks, sanitizers and fuzzing,
#                                  the install and package stage, the format
#                                  check, the Windows stage under wine and
#                                  the Python package's stage, and what
#                                  scripts/make-ltv-docs.py runs (faketime)
set -euo pipefail

profile=${1:-test}

demo_packages=(
  cmake make g++ pkg-config
  libssl-dev libqpdf-dev
)
test_packages=(
  "${demo_packages[@]}"
  qpdf python3
  libgtest-dev libgmock-dev libbenchmark-dev
  openssl faketime
  clang libclang-rt-14-dev llvm clang-format
  dpkg-dev man-db libjpeg-dev zlib1g-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev unzip
  wine wine64 locales
  valgrind jq
  poppler-utils
  python3-pytest python3-dask python3-distributed python3-venv python3-pip python3-setuptools
)

case $profile in
  demo) packages=("${demo_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *)
    echo "install-deps: unknown profile '$profile' (demo or test)" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
