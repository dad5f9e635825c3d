# Front door. `make test` and `make demo` set up a fresh Debian 12 machine
# (missing packages only) and then build and run.
.PHONY: all deps build test demo bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$$(nproc)

test: deps
	scripts/run-tests.sh

bench: build
	@for b in build/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf build build-*
