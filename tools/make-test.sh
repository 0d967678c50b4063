#!/usr/bin/env bash
# make test: builds both DLLs, makes the release archive (the tests check it too), then
# runs every test under Wine, 32-bit and 64-bit. Ends with the time the whole run took,
# build included. However it ends, no Wine program of the build tree is left running.
set -uo pipefail
cd "$(dirname "$0")/.."
source tools/wine-env.sh
wine_stop_at_exit wine_stop_tree

start=$(date +%s)
# The two builds at once: each has steps that keep only one core busy (configuring, the
# type library and client files under Wine, linking), which the other fills.
make --no-print-directory -j2 build && tools/make-dist.sh && tools/run-tests.sh win32 win64
status=$?
echo "== make test: $(($(date +%s) - start)) s in all"
exit $status
