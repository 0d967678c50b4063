#!/usr/bin/env bash
# Installs what the build, the tests and the release archive need on Debian 12, skipping
# what is there: Wine (32- and 64-bit) to run the tools and tests, the MinGW-w64 C and C++
# cross compilers, widl (mingw-w64-tools) with the platform's IDL files (libwine-dev) for
# the archive's check, googletest, CMake and make, python3 to write and read the archive,
# git for the commit whose time the archive carries, wixl and msitools (msibuild) for the
# installer packages, osslsigncode with openssl to sign them and the DLLs, and clang-format
# for `make format`.
set -euo pipefail

need=()
dpkg --print-foreign-architectures | grep -qx i386 || add_i386=1
for pkg in wine wine32:i386 wine64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix \
           g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
           mingw-w64-tools libwine-dev googletest cmake make python3 git wixl msitools osslsigncode openssl clang-format; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && [ -z "${add_i386:-}" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
[ -n "${add_i386:-}" ] && $SUDO dpkg --add-architecture i386
echo "Installing: ${need[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
