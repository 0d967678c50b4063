# Quick start: `make demo` runs the component for real, `make test` runs every test.
# Each step installs what is missing first (Debian 12, as root or with sudo).

PRESET := win32
BUILD  := build/$(PRESET)

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

test: build
	@tools/run-tests.sh $(PRESET)

demo: build
	@tools/run-demo.sh

bench: build
	@tools/run-bench.sh

clean:
	rm -rf build
