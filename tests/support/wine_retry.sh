#!/usr/bin/env bash
# `wine` (tools/wine-env.sh) runs a program once more only when Wine's loader died of a
# segmentation fault, and then hands on the second run's status. A stand-in loader takes
# Wine's place: it dies of SIGSEGV on its first run when told to, and ends with the status
# it is given.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
source "$(dirname "${BASH_SOURCE[0]}")/check_results.sh"
runs="$(mktemp)"
trap 'rm -f "$runs"' EXIT
wine_loader=(bash -c 'echo run >>"$0"; [ "$1" = crash ] && [ "$(wc -l <"$0")" -eq 1 ] && kill -SEGV $$; exit "$2"' "$runs")

# check WHAT FIRST-RUN STATUS EXPECTED-STATUS EXPECTED-RUNS
check() {
  : >"$runs"
  wine "$2" "$3" 2>/dev/null
  local status=$?
  [ "$status" -eq "$4" ] && [ "$(wc -l <"$runs")" -eq "$5" ]
  record $? "$1 (status $status, $(wc -l <"$runs") runs)"
}
check "a loader that died of SIGSEGV runs again, with the second run's status" crash 3 3 2
check "a program that fails runs once" fail 1 1 1
check "a program that succeeds runs once" pass 0 0 1
report_checks
