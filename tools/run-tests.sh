#!/usr/bin/env bash
# Runs every test of the build under Wine, in the project's prefix.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
wine_prefix_ready
trap wine_stop EXIT
cd "$project_root"
ctest --preset "${1:-win32}" --output-on-failure
