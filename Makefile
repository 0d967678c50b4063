# Quick start: `make demo` runs the component for real, `make test` runs every test.
# Each step installs what is missing first (Debian 12, as root or with sudo).
#
# Two DLLs come from the same sources: build/win32/VoskTolvane.dll (32-bit, the one
# `make demo` uses) and build/win64/VoskTolvane.dll (64-bit, for 64-bit hosts).
# `make dist` packs both into the release archive build/dist/VoskTolvane-<version>.zip and
# builds the installer packages beside it; `make dist SIGN_CERT=cert.pem SIGN_KEY=key.pem`
# (or SIGN_PKCS12=... SIGN_PASSWORD=...) signs the DLLs and the packages.

.PHONY: all deps build build32 build64 dist test check demo bench format clean

all: build

deps:
	@tools/install-deps.sh

# Each preset sets its build's job count; MAKEFLAGS= keeps a parallel make of both builds
# (make test) from handing its job server down, which that count would override with a
# warning.
build32: deps
	@cmake --preset win32 >/dev/null
	@MAKEFLAGS= cmake --build --preset win32

build64: deps
	@cmake --preset win64 >/dev/null
	@MAKEFLAGS= cmake --build --preset win64

build: build32 build64

dist: deps
	@tools/make-dist.sh

# The tests check the release archive too, so it is made first. Ends with the time the
# whole run took, build included.
test: deps
	@tools/make-test.sh

# The quick loop while working on one area: builds one kind (ARCH=32, the default, or
# ARCH=64) and runs only the tests whose names match the pattern T (all when unset),
# without the release archive and its check:
#   make check T=Rename
#   make check T='WriteRules|FileLock' ARCH=64
ARCH ?= 32
T ?= .
check: build$(ARCH)
	@tools/run-tests.sh -R '$(T)' -E '^dist\.' win$(ARCH)

demo: build32
	@tools/run-demo.sh

bench: build32
	@tools/run-bench.sh

# Formats every C++ source file with the style of .clang-format.
format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
