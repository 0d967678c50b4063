#!/usr/bin/env bash
# Registration as real clients meet it, in a Wine prefix of its own that starts with
# nothing registered: regsvr32 the built DLL, use it from a C++ client and from
# scripts, then regsvr32 /u and check that nothing resolves any more.
#
#   registration.sh <build dir> <bits> register     new prefix, regsvr32 /s <full path>
#   registration.sh <build dir> <bits> client       the C++ client's registration checks
#   registration.sh <build dir> <bits> script <f>   runs a .vbs/.js test with cscript, given
#                                                   the scratch folder and the test's own
#   registration.sh <build dir> <bits> unregister   regsvr32 /u /s, the client's checks
#   registration.sh <build dir> <bits> per_user     new prefix; the built register-user.cmd
#                                                   with the DLL in x86\ beside it, as in the
#                                                   release; then regsvr32 of that DLL; then
#                                                   register-user.cmd /u, then regsvr32 /u,
#                                                   each followed by the client's checks
#                                                   (32-bit only: the 64-bit script also
#                                                   needs the x86 DLL; dist.archive runs it)
#
# <bits> is the DLL's, 32 or 64: the prefix, regsvr32 and cscript are of the same kind,
# as an in-process server can only be loaded by a host of its own kind.
# CTest runs these as a fixture: register first, unregister last, even after a failure.
set -euo pipefail

build_dir="$(cd "$1" && pwd)"
export WINE_BITS="$2"
command="$3"
shift 3

export WINEPREFIX="$build_dir/wineprefix-registration"
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
scratch="$build_dir/registration-scratch"
dll="$build_dir/VoskTolvane.dll"
client="$build_dir/registration_client.exe"

# Whatever an earlier run left (its server, its registry, its files) goes first.
start_afresh() {
  rm -rf "$scratch"
  mkdir -p "$scratch"
  wine_fresh_prefix
}

case "$command" in
  register)
    start_afresh
    echo "registering $(windows_path "$dll")"
    wine regsvr32 /s "$(windows_path "$dll")"
    echo "regsvr32 succeeded"
    ;;
  client)
    wine "$client" registered "$(windows_path "$scratch")" "$@"
    ;;
  script)
    # The test runs joined after the checks of its language (checks.vbs, checks.js),
    # as a .wsf job would include them: Wine's script host runs no .wsf jobs, and its
    # VBScript has no ExecuteGlobal. The joined file stays in the scratch folder, for
    # the line numbers of an error.
    joined="$scratch/$(basename "$1")"
    cat "$(dirname "$1")/checks.${1##*.}" "$1" >"$joined"
    wine cscript //nologo "$(windows_path "$joined")" "$(windows_path "$scratch")" \
      "$(windows_path "$(cd "$(dirname "$1")" && pwd)/.")"
    ;;
  unregister)
    wine_stop_at_exit wine_stop
    wine regsvr32 /u /s "$(windows_path "$dll")"
    echo "regsvr32 /u succeeded"
    wine "$client" unregistered "$(windows_path "$scratch")" "$@"
    ;;
  per_user)
    wine_stop_at_exit wine_stop
    start_afresh
    release="$scratch/release"
    mkdir -p "$release/x86"
    cp "$build_dir/registration/register-user.cmd" "$release/"
    cp "$dll" "$release/x86/"
    path="$(windows_path "$release/x86/VoskTolvane.dll")"
    wine cmd /c "$(windows_path "$release/register-user.cmd")" </dev/null
    wine "$client" user-registered "$(windows_path "$scratch")" "$@"
    wine regsvr32 /s "$path"
    wine "$client" both-registered "$(windows_path "$scratch")" "$@"
    wine cmd /c "$(windows_path "$release/register-user.cmd")" /u </dev/null
    wine "$client" user-unregistered "$(windows_path "$scratch")" "$@"
    wine regsvr32 /s /u "$path"
    wine "$client" unregistered "$(windows_path "$scratch")" "$@"
    ;;
  *)
    echo "usage: $0 <build dir> 32|64 register|client|script <file>|unregister|per_user" >&2
    exit 2
    ;;
esac
