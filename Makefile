# Front door. `make test` and `make demo` set up a fresh Debian 12 machine
# (missing packages only, each its own profile of scripts/install-deps.sh) and
# then build and run.
.PHONY: all deps demo-deps build test demo bench package package-windows install fuzz-long clean

# The build tree of tests and packages; the demo reuses it with the tests off.
# Its --all module links a static qpdf built from Debian's source once and
# cached (scripts/build-qpdf-static.sh host): Debian's shared libqpdf costs a
# one-file run more than its report.
CONFIGURE_FULL = cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_TESTS=ON -DVRD_BENCH=ON \
	-DVRD_QPDF_PREFIX="$$(scripts/build-qpdf-static.sh host)"
PREFIX ?= /usr/local

all: build

deps:
	@scripts/install-deps.sh test

demo-deps:
	@scripts/install-deps.sh demo

build: deps
	$(CONFIGURE_FULL)
	cmake --build build -j$$(nproc)

test: deps
	scripts/run-tests.sh

bench: build
	@for b in build/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

# The Debian package, build/vrd-tsverify_<version>_<arch>.deb.
package: deps
	$(CONFIGURE_FULL) >/dev/null
	cmake --build build -j$$(nproc) --target VIDEREDEve_Z_64 tsverify
	cd build && cpack -G DEB

# The Windows package, build-win/vrd-tsverify-<version>-win64.zip: the
# Windows stage's build (OpenSSL and qpdf cross-built once and cached), then
# scripts/package-windows.sh.
package-windows: deps
	VRD_WINDOWS_BUILD_ONLY=1 scripts/stage-windows.sh
	scripts/package-windows.sh build-win

# Everything a user needs under PREFIX (default /usr/local).
install: build
	cmake --install build --prefix "$(PREFIX)"

# The shipped sample (samples/make-sample.sh made it), verified with its test
# authority's root as trust anchor, then a copy with one signed byte changed.
demo: demo-deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRD_TESTS=OFF -DVRD_BENCH=OFF
	cmake --build build -j$$(nproc) --target tsverify
	@echo
	@echo '$$ tsverify --trust-anchor samples/sample-root.pem samples/sample.pdf'
	@build/cli/tsverify --trust-anchor samples/sample-root.pem samples/sample.pdf
	@LC_ALL=C sed 's/(Time-stamped sample document)/(Time-stamped sample documenT)/' \
	  samples/sample.pdf > build/sample-altered.pdf
	@echo
	@echo '$$ tsverify --trust-anchor samples/sample-root.pem build/sample-altered.pdf'
	@build/cli/tsverify --trust-anchor samples/sample-root.pem build/sample-altered.pdf; \
	  status=$$?; echo "(exit status $$status)"; test $$status -eq 1

# Every fuzz target for FUZZ_SECONDS each (default 600), outside CI, for a
# deeper search than the fuzz stage of `make test`; the saved corpora are not
# changed. Example: make fuzz-long FUZZ_SECONDS=3600
FUZZ_SECONDS ?= 600
fuzz-long: deps
	VRD_FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/stage-fuzz.sh

clean:
	rm -rf build build-*
