#!/usr/bin/env bash
# Runs the tests of the given builds (win32, win64) under Wine, each in its own prefix:
#   tools/run-tests.sh win32 win64
#   tools/run-tests.sh -R Rename win32      only the tests whose names match Rename
# Options before the builds (-R, -E, each with its pattern) go to ctest.
# However the run ends (passing, failing, or interrupted), no Wine program of the build
# tree is left running.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh
wine_stop_at_exit wine_stop_tree

ctest_options=()
while [[ "${1:-}" == -* ]]; do
  ctest_options+=("$1" "$2")
  shift 2
done
status=0
for preset in "${@:-win32}"; do
  echo "== Tests of the $preset build"
  (
    unset WINEPREFIX
    export WINE_BITS=32
    [ "$preset" = win64 ] && WINE_BITS=64
    source tools/wine-env.sh
    wine_stop_at_exit wine_stop
    wine_session_start
    ctest --preset "$preset" --output-on-failure "${ctest_options[@]}"
  ) || status=1
done
exit $status
