# Sourced by the project's scripts: a Wine prefix inside the build tree, quiet Wine,
# and the steps that boot, start and stop a prefix without racing one another.
#
# WINE_BITS=32 (the default) uses the 32-bit prefix build/wineprefix32 and the 32-bit
# loader; WINE_BITS=64 the 64-bit prefix build/wineprefix64 (which also runs 32-bit
# programs from C:\windows\syswow64) and the 64-bit loader. `wine` below is the loader
# for that choice.
#
# How a prefix is used:
# - wine_prefix_ready makes it once, as a copy of the clean prefix of its kind (see
#   there). Build steps and single test programs need no more: their server ends by
#   itself a few seconds after their last program.
# - wine_session_start makes its server persistent and keeps Wine's desktop up (see
#   there), for a run of many programs. Only a script that stops the prefix when it
#   ends (trap wine_stop EXIT) starts a session.
# - wine_stop ends every program of the prefix and its server, and waits until they
#   are gone; wine_stop_tree does so for every prefix of the build tree.
# Each step holds a lock file beside the prefix, so two processes never make, start or
# stop one prefix at once, and nothing ever waits for a server without a bound.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINE_BITS="${WINE_BITS:-32}"
if [ "$WINE_BITS" = 64 ]; then
  export WINEPREFIX="${WINEPREFIX:-$project_root/build/wineprefix64}"
  export WINEARCH=win64
  wine_loader=(/usr/lib/wine/wine64)
else
  export WINEPREFIX="${WINEPREFIX:-$project_root/build/wineprefix32}"
  export WINEARCH=win32
  wine_loader=(/usr/lib/wine/wine)
fi
# The loader runs without address-space randomisation, and so does every program it
# starts. Debian's Wine has no preloader, which would reserve the low address space
# before anything else lands there, and the kernel puts the 64-bit loader's heap at
# random in the gigabyte above the loader (0x7d000000): now and then over 0x7ffe0000,
# where Wine maps the shared user data. The program then exits with status 1 before it
# runs ("failed to map the shared user data: c0000018", not shown under WINEDEBUG=-all),
# about once in several thousand starts. Without randomisation the heap starts right
# after the loader.
wine_loader=(setarch -R "${wine_loader[@]}")
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# Runs a Windows program. Wine's programs and its server never inherit the lock file of
# with_prefix_lock (fd 9): a server that held it would keep the prefix locked for as long
# as it runs.
#
# Rarely (a few runs in ten thousand, seen while the other build's tests ran) the 32-bit
# loader itself dies of a segmentation fault after the program has ended: its output is
# all written, its exit code lost. A fault in the Windows program never ends that way:
# Wine turns it into an exception, reported as "Unhandled page fault" and ended with the
# exception's code. So a run that ends with the loader killed by SIGSEGV (status 139,
# which no program here returns), and only such a run, is made once more, and said so.
wine() {
  "${wine_loader[@]}" "$@" 9>&-
  local status=$?
  [ "$status" -ne 139 ] && return "$status"
  echo "wine-env: Wine's loader died of a segmentation fault (Wine's own, not the program's); running $1 again" >&2
  "${wine_loader[@]}" "$@" 9>&-
}
wine_server() { wineserver "$@" 9>&- >/dev/null 2>&1 </dev/null; }

# A Unix path as Wine's Z: drive shows it, without starting a Wine process. The path's
# folder must exist.
windows_path() {
  local absolute
  absolute="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
  printf 'Z:%s' "${absolute//\//\\}"
}

# Runs a command holding the prefix's lock file (build/wineprefix32.lock beside
# build/wineprefix32), waiting up to two minutes for another holder.
with_prefix_lock() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    if ! flock -w 120 9; then
      echo "wine-env: $WINEPREFIX.lock stayed taken for two minutes" >&2
      exit 1
    fi
    "$@"
  ) 9>"$WINEPREFIX.lock"
}

# The Wine programs, its server among them, running in the prefix `$1`, or in any
# prefix under the folder `$1/`.
wine_processes_of() {
  local environ pid
  for environ in $(grep -lzsx -F -e "WINEPREFIX=$1" /proc/[0-9]*/environ; \
                   [[ "$1" == */ ]] && grep -lzs -F -e "WINEPREFIX=$1" /proc/[0-9]*/environ); do
    pid="${environ#/proc/}"
    pid="${pid%/environ}"
    [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == /usr/lib/wine/* ]] && echo "$pid"
  done | sort -u
}

# Ends the prefix's server and every program in it, and waits (at most about 30 s) until
# none is left. A program that comes up meanwhile starts a new server, which the next
# round ends too. Call it holding the prefix's lock.
stop_prefix_locked() {
  local round left
  for round in $(seq 1 150); do
    [ "$round" -gt 100 ] && wine_server -k9
    if ! wine_server -k && [ -z "$(wine_processes_of "$WINEPREFIX")" ]; then
      return 0
    fi
    sleep 0.2
  done
  left="$(wine_processes_of "$WINEPREFIX")"
  [ -n "$left" ] && kill -9 $left 2>/dev/null
  echo "wine-env: the programs of $WINEPREFIX had to be killed" >&2
}

# Every prefix of one kind is a copy of one clean prefix, booted once per build tree
# (build/wineprefix-clean32, -clean64) and never run. A prefix counts as made once the
# file beside it is there (build/wineprefix32.ready beside build/wineprefix32): for the
# clean prefix, written after the boot's server has ended, so the registry is on disk;
# for a copy, after the copy is whole.
clean_prefix="$project_root/build/wineprefix-clean$WINE_BITS"
ready_marker() { echo "$WINEPREFIX.ready"; }

boot_clean_prefix_locked() {
  [ -f "$(ready_marker)" ] && return 0
  stop_prefix_locked
  rm -rf "$WINEPREFIX"  # what a boot that was interrupted left
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1 </dev/null
  # No display here: the null graphics driver still gives COM apartments their
  # message windows.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
  stop_prefix_locked
  touch "$(ready_marker)"
}

# Copies the clean prefix, booted first if need be, to the folder `$1`. Wine's modules
# (system32, syswow64 and winsxs: 1.2 of the 1.3 GB of a 64-bit prefix) are hard links
# to the clean prefix's files, which Wine only reads. Every other file is a copy of its
# own: Wine rewrites a registry file in place when it has other links, and the profile
# functions rewrite INI files (win.ini, system.ini) in place. Call it holding the clean
# prefix's lock.
copy_clean_prefix_locked() {
  local modules
  boot_clean_prefix_locked || return
  mkdir -p "$1/drive_c/windows"
  for modules in "$WINEPREFIX"/drive_c/windows/{system32,syswow64,winsxs}; do
    [ ! -d "$modules" ] || cp -al "$modules" "$1/drive_c/windows/" || return
  done
  cp -a -n "$WINEPREFIX/." "$1/"  # all but the files linked above
}

# Makes $WINEPREFIX a new copy of the clean prefix, whatever it held. Call it holding the
# prefix's lock.
renew_prefix_locked() {
  local target="$WINEPREFIX"
  stop_prefix_locked
  rm -f "$(ready_marker)"
  rm -rf "$target"
  WINEPREFIX="$clean_prefix" with_prefix_lock copy_clean_prefix_locked "$target" && touch "$(ready_marker)"
}

prefix_ready_locked() { [ -f "$(ready_marker)" ] || renew_prefix_locked; }

wine_prefix_ready() {
  [ -f "$(ready_marker)" ] || with_prefix_lock prefix_ready_locked
}

# A persistent server makes each Wine program start in ~50 ms instead of ~2 s. Its
# output goes nowhere, or it would hold the caller's pipes open. Wine's background
# services are started at once, with their output going nowhere too: started by a test
# instead, they would inherit its pipes and keep the test runner waiting for them to
# close. The same holds for the desktop process (explorer.exe /desktop), which the
# server closes one second after its last window goes: every program that opens a COM
# apartment would start it again and then wait that second for it to let go of the
# test's output. So a program that keeps a window open (notepad) keeps the desktop up,
# started only once the server is up, and waited for, so that no stop can miss it.
start_session_locked() {
  prefix_ready_locked || return
  stop_prefix_locked  # a server left by a build step ends by itself, but not in time
  wine_server -p
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  "${wine_loader[@]}" notepad.exe 9>&- >/dev/null 2>&1 </dev/null &
  local round pid
  for round in $(seq 1 100); do
    for pid in $(wine_processes_of "$WINEPREFIX"); do
      [[ "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" == *'\notepad.exe '* ]] && return 0
    done
    sleep 0.1
  done
  echo "wine-env: the keep-alive did not come up in $WINEPREFIX" >&2
}

wine_session_start() { with_prefix_lock start_session_locked; }

wine_stop() { with_prefix_lock stop_prefix_locked; }

# Runs `$1` (wine_stop or wine_stop_tree) when the script ends, also when it is
# interrupted (Ctrl-C) or terminated.
wine_stop_at_exit() {
  trap "$1" EXIT
  trap 'exit 130' INT HUP
  trap 'exit 143' TERM
}

# Stops every prefix of the build tree in which a program still runs.
wine_stop_tree() {
  local pid prefix
  for pid in $(wine_processes_of "$project_root/build/"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | sed -n 's/^WINEPREFIX=//p'
  done | sort -u | while IFS= read -r prefix; do
    WINEPREFIX="$prefix" with_prefix_lock stop_prefix_locked
  done
}

# Makes $WINEPREFIX a new prefix with nothing registered and nothing written, for the
# tests that must start from a clean machine, and starts a session in it.
wine_fresh_prefix() {
  with_prefix_lock renew_prefix_locked && wine_session_start
}
