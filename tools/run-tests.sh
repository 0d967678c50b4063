#!/usr/bin/env bash
# Runs the tests of the given builds (win32, win64) under Wine, each in its own prefix:
#   tools/run-tests.sh win32 win64
#   tools/run-tests.sh -R Rename win32      only the tests whose names match Rename
# Options before the builds (-R, -E, each with its pattern) go to ctest.
# The builds' tests run at the same time: they share nothing but the machine, and each
# keeps less than one core busy. The first build's output comes as it runs, each other
# build's (kept in build/<build>/run-tests.log) once that build's tests have ended.
# However the run ends (passing, failing, or interrupted), no Wine program of the build
# tree is left running.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh

ctest_options=()
while [[ "${1:-}" == -* ]]; do
  ctest_options+=("$1" "$2")
  shift 2
done
presets=("${@:-win32}")

# The tests of one build, in a session of its own prefix.
run_preset() {
  echo "== Tests of the $1 build"
  (
    unset WINEPREFIX
    export WINE_BITS=32
    [ "$1" = win64 ] && WINE_BITS=64
    source tools/wine-env.sh
    wine_stop_at_exit wine_stop
    wine_session_start
    ctest --preset "$1" --output-on-failure "${ctest_options[@]}"
  )
}

# The other builds' tests run in the background, each in a process group of its own,
# which an interrupted run ends before it stops the prefixes.
groups=()  # the process group of each build that runs in the background, while it runs
stop_all() {
  local group
  for group in "${groups[@]}"; do kill -TERM -- "-$group" 2>/dev/null; done
  wait
  wine_stop_tree
}
wine_stop_at_exit stop_all

set -m
for preset in "${presets[@]:1}"; do
  run_preset "$preset" >"build/$preset/run-tests.log" 2>&1 &
  groups+=($!)
done
set +m
status=0
run_preset "${presets[0]}" || status=1
for i in "${!groups[@]}"; do
  wait "${groups[$i]}" || status=1
  unset "groups[$i]"
  cat "build/${presets[$((i + 1))]}/run-tests.log"
done
exit $status
