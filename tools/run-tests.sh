#!/usr/bin/env bash
# Runs every test of the given builds (win32, win64) under Wine, each in its own prefix:
#   tools/run-tests.sh win32 win64
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for preset in "${@:-win32}"; do
  echo "== Tests of the $preset build"
  (
    [ "$preset" = win64 ] && export WINE_BITS=64
    source tools/wine-env.sh
    wine_prefix_ready
    trap wine_stop EXIT
    ctest --preset "$preset" --output-on-failure
  ) || status=1
done
exit $status
