#!/usr/bin/env bash
# Runs the benchmark under Wine, in the project's prefix. The DLL is registered first:
# the script loop creates the object by its ProgID, as scripts do.
#   tools/run-bench.sh [build folder]      (default: build/win32)
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
build="$(cd "${1:-$project_root/build/win32}" && pwd)"
wine_stop_at_exit wine_stop
wine_session_start

dll="$(winepath -w "$build/VoskTolvane.dll" 2>/dev/null)"
if ! wine regsvr32 /s "$dll" >/dev/null 2>&1 </dev/null; then
  echo "run-bench: could not register $dll" >&2
  exit 1
fi
wine "$build/tolvane_bench.exe"
