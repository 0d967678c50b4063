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

probe="$(windows_path "$project_root/tests/registration/create_and_use.vbs")"

wine_stop_at_exit wine_stop
wine_fresh_prefix

regsvr32_32() { wine 'C:\windows\syswow64\regsvr32.exe' /s "$@"; }
regsvr32_64() { wine regsvr32 /s "$@"; }
host_32() { wine 'C:\windows\syswow64\cscript.exe' //nologo "$probe" 'C:\host32.ini'; }
host_64() { wine cscript //nologo "$probe" 'C:\host64.ini'; }

source "$project_root/tests/support/check_results.sh"
expect() {  # expect works|fails HOST
  local outcome=fails
  if "$2" >/dev/null 2>&1 </dev/null; then outcome=works; fi
  [ "$outcome" = "$1" ]
  record $? "${2#host_}-bit host $outcome, expected it $1 ($stage)"
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

report_checks
