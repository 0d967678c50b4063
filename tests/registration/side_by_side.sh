#!/usr/bin/env bash
# The 32-bit and the 64-bit DLL registered side by side in one 64-bit prefix: the 32-bit
# script host (from syswow64) reaches the 32-bit DLL, the 64-bit host the 64-bit one, and
# neither host can load the other's.
#   side_by_side.sh <32-bit VoskTolvane.dll> <64-bit VoskTolvane.dll> <work folder>
# Exits 77 (skipped) when the 32-bit DLL has not been built.
set -euo pipefail

dll32="$1"
dll64="$2"
work="$3"
if [ ! -f "$dll32" ]; then
  echo "no 32-bit DLL at $dll32 (build the win32 preset first)"
  exit 77
fi

export WINE_BITS=64
export WINEPREFIX="$work/wineprefix-side-by-side"
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"

# A Unix path as Wine's Z: drive shows it.
windows_path() {
  local absolute
  absolute="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
  printf 'Z:%s' "${absolute//\//\\}"
}
probe="$(windows_path "$project_root/tests/registration/create_and_use.vbs")"

wine_fresh_prefix
trap wine_stop EXIT

regsvr32_32() { wine 'C:\windows\syswow64\regsvr32.exe' /s "$@"; }
regsvr32_64() { wine regsvr32 /s "$@"; }
host_32() { wine 'C:\windows\syswow64\cscript.exe' //nologo "$probe" 'C:\host32.ini'; }
host_64() { wine cscript //nologo "$probe" 'C:\host64.ini'; }

passed=0
failed=0
expect() {  # expect works|fails HOST
  local outcome=fails
  if "$2" >/dev/null 2>&1 </dev/null; then outcome=works; fi
  if [ "$outcome" = "$1" ]; then
    passed=$((passed + 1))
    echo "ok    ${2#host_}-bit host $1 ($stage)"
  else
    failed=$((failed + 1))
    echo "FAIL  ${2#host_}-bit host $outcome, expected it $1 ($stage)"
  fi
}

path32="$(windows_path "$dll32")"
path64="$(windows_path "$dll64")"

stage="only the 64-bit DLL registered"
regsvr32_64 "$path64"
expect works host_64
expect fails host_32

stage="both registered"
regsvr32_32 "$path32"
expect works host_64
expect works host_32

stage="the 64-bit DLL unregistered"
regsvr32_64 /u "$path64"
expect fails host_64
expect works host_32

stage="both unregistered"
regsvr32_32 /u "$path32"
expect fails host_32

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
