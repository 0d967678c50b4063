#!/usr/bin/env bash
# One file changed from two Wine prefixes at once: two Wine servers that share the file
# system and nothing else (no named objects, no process ids), as two logon sessions, a
# service and a desktop program, or two machines on a share see one file. In each prefix
# two writers and a renamer of half the sections work at once, under several names of the
# file: its Z: path, a device path, a second drive letter and a UNC path mapped to its
# folder. In a 64-bit run, one writer is the 32-bit build's, where that is built: 32-bit and
# 64-bit processes share the lock. Afterwards every key stands exactly once with its value.
#   two_prefixes.sh <build dir> <bits>
# The first prefix is the test run's own, $WINEPREFIX; the second a fresh one.
set -euo pipefail

build_dir="$(cd "$1" && pwd)"
export WINE_BITS="$2"
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
source "$project_root/tests/support/check_results.sh"

first="$WINEPREFIX"
second="$build_dir/wineprefix-second"
folder="$build_dir/two-prefixes"
keys=100
rm -rf "$folder"
mkdir -p "$folder"
worker="$(windows_path "$build_dir/file_sharing_worker.exe")"
worker32="$worker"
if [ "$WINE_BITS" = 64 ] && [ -f "$build_dir/../win32/file_sharing_worker.exe" ]; then
  worker32="$(windows_path "$build_dir/../win32/file_sharing_worker.exe")"
fi
file="$(windows_path "$folder/shared.ini")"

stop_second() { WINEPREFIX="$second" wine_stop; }
wine_stop_at_exit stop_second
WINEPREFIX="$second" wine_fresh_prefix
# The second prefix reaches the folder also as drive Y: and as the share \\tolvane\share.
ln -sfn "$folder" "$second/dosdevices/y:"
mkdir -p "$second/dosdevices/unc/tolvane"
ln -sfn "$folder" "$second/dosdevices/unc/tolvane/share"

# in_prefix PREFIX PROGRAM ARGUMENTS...
in_prefix() {
  local prefix="$1"
  shift
  WINEPREFIX="$prefix" wine "$@" </dev/null
}

pids=()
names=()
start() {
  in_prefix "$@" &
  pids+=($!)
  names+=("${*:3}$([ "$2" = "$worker" ] || echo ' (32-bit)')")
}

in_prefix "$first" "$worker" init "$file"
start "$first" "$worker" writer "$file" - 0 "$keys"
start "$first" "$worker" writer "\\\\?\\$file" - 1 "$keys"
start "$first" "$worker" renamer "$file" - 0 5
start "$second" "$worker32" writer "Y:\\shared.ini" - 2 "$keys"
start "$second" "$worker" writer "\\\\tolvane\\share\\shared.ini" - 3 "$keys"
start "$second" "$worker" renamer "$file" - 5 5
for n in "${!pids[@]}"; do
  status=0
  wait "${pids[$n]}" || status=$?
  record "$status" "worker ${names[$n]}"
done
status=0
in_prefix "$first" "$worker" verify "$file" 4 "$keys" || status=$?
record "$status" "every key stands once with its value, and every section was renamed"
report_checks
