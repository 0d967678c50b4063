# Quick start: `make demo` runs the component for real, `make test` runs every test.
# Each step installs what is missing first (Debian 12, as root or with sudo).
#
# Two DLLs come from the same sources: build/win32/VoskTolvane.dll (32-bit, the one
# `make demo` uses) and build/win64/VoskTolvane.dll (64-bit, for 64-bit hosts).
# `make dist` packs both into the release archive build/dist/VoskTolvane-<version>.zip.

.PHONY: all deps build build32 build64 dist test demo bench clean

all: build

deps:
	@tools/install-deps.sh

build32: deps
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

build64: deps
	@cmake --preset win64 >/dev/null
	@cmake --build --preset win64

build: build32 build64

dist: deps
	@tools/make-dist.sh

# The tests check the release archive too, so it is made first. Ends with the time the
# whole run took, build included.
test:
	@start=$$(date +%s); status=0; \
	{ $(MAKE) --no-print-directory build && tools/make-dist.sh && tools/run-tests.sh win32 win64; } || status=$$?; \
	echo "== make test: $$(( $$(date +%s) - start )) s in all"; \
	exit $$status

demo: build32
	@tools/run-demo.sh

bench: build32
	@tools/run-bench.sh

clean:
	rm -rf build
