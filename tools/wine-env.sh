# Sourced by the project's scripts: a Wine prefix inside the build tree, quiet Wine,
# and a wineserver that stays up between test processes.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$project_root/build/wineprefix32}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  # Persistent for a while after the last client: fast process start, no stray server later.
  wineserver -p30 >/dev/null 2>&1 </dev/null || true
}
