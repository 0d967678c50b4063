# Sourced by the project's scripts: a Wine prefix inside the build tree, quiet Wine,
# and a wineserver that stays up between test processes.
#
# WINE_BITS=32 (the default) uses the 32-bit prefix build/wineprefix32 and the 32-bit
# loader; WINE_BITS=64 the 64-bit prefix build/wineprefix64 (which also runs 32-bit
# programs from C:\windows\syswow64) and the 64-bit loader. `wine` below is the loader
# for that choice.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINE_BITS="${WINE_BITS:-32}"
if [ "$WINE_BITS" = 64 ]; then
  export WINEPREFIX="${WINEPREFIX:-$project_root/build/wineprefix64}"
  export WINEARCH=win64
  wine_loader=/usr/lib/wine/wine64
else
  export WINEPREFIX="${WINEPREFIX:-$project_root/build/wineprefix32}"
  export WINEARCH=win32
  wine_loader=/usr/lib/wine/wine
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

wine() { "$wine_loader" "$@"; }

# A Unix path as Wine's Z: drive shows it, without starting a Wine process. The path's
# folder must exist.
windows_path() {
  local absolute
  absolute="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
  printf 'Z:%s' "${absolute//\//\\}"
}

wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1 </dev/null
    # No display here: the null graphics driver still gives COM apartments their
    # message windows.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
    wineserver -w >/dev/null 2>&1 </dev/null || true
  fi
  # A persistent server makes each Wine process start in ~50 ms instead of ~2 s. Its
  # output goes nowhere, or it would hold the caller's pipes open. (It answers 2 when
  # one is already running.)
  if wineserver -p >/dev/null 2>&1 </dev/null; then
    # A new server: start Wine's background services now, with their output going
    # nowhere. Started by a test instead, they would inherit its pipes and keep the
    # test runner waiting for them to close.
    wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
    # The same holds for the desktop process (explorer.exe /desktop), which the server
    # closes one second after its last window goes: every program that opens a COM
    # apartment would start it again and then wait that second for it to let go of
    # the test's output. A program that keeps a window open keeps the desktop up.
    wine notepad.exe >/dev/null 2>&1 </dev/null &
  fi
}

# Makes $WINEPREFIX a new prefix with nothing registered and nothing written, for the
# tests that must start from a clean machine. Copying a clean prefix of the same kind,
# made once per build tree (build/wineprefix-clean32, -clean64), takes a few seconds;
# booting a new one takes several times as long.
wine_fresh_prefix() {
  local clean="$project_root/build/wineprefix-clean$WINE_BITS"
  if [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 </dev/null || true
    wineserver -w >/dev/null 2>&1 </dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$clean/system.reg" ]; then
    (
      export WINEPREFIX="$clean"
      rm -rf "$clean"
      wine_prefix_ready
      wineserver -k >/dev/null 2>&1 </dev/null || true
      wineserver -w >/dev/null 2>&1 </dev/null || true
    )
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  cp -a "$clean" "$WINEPREFIX"
  wine_prefix_ready
}

# Stops the prefix's server and every Wine process in it; for the end of a run.
wine_stop() {
  wineserver -k >/dev/null 2>&1 </dev/null || true
}
