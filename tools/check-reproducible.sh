#!/usr/bin/env bash
# Builds the release archive twice, in two clones of one commit made in two temporary
# folders of different lengths (so at two paths and, one after the other, at two
# times), and compares what they made byte for byte: both DLLs, both type libraries, the
# client files, the archive, the installer packages and SHA256SUMS. Also checks that neither clone's folder
# appears in any of them. Takes a few minutes.
#   tools/check-reproducible.sh [COMMIT]      (default: HEAD; uncommitted changes are not seen)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
commit="$(git -C "$root" rev-parse --verify "${1:-HEAD}^{commit}")"

work="$(mktemp -d /tmp/vosk-reproducible.XXXXXX)"
clones=("$work/a" "$work/second/clone")
stop_wine() {
  local clone prefix
  for clone in "${clones[@]}"; do
    for prefix in "$clone"/build/wineprefix*; do
      [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 </dev/null || true
    done
  done
  rm -rf "$work"
}
trap stop_wine EXIT

outputs=(build/win32/VoskTolvane.dll build/win32/Voskini15T.tlb build/win64/VoskTolvane.dll
         build/win64/Voskini15T.tlb build/win32/include/VoskTolvane.h build/win32/include/VoskTolvane.idl
         build/dist/SHA256SUMS)
for clone in "${clones[@]}"; do
  echo "== Building $commit in $clone"
  git clone --quiet --no-checkout "$root" "$clone"
  git -C "$clone" checkout --quiet "$commit"
  (cd "$clone" && tools/make-dist.sh >"$clone.log" 2>&1) || { tail -30 "$clone.log"; exit 1; }
done

status=0
packages=($(cd "${clones[0]}" && ls build/dist/VoskTolvane-*.zip build/dist/VoskTolvane-*.msi))
for output in "${outputs[@]}" "${packages[@]}"; do
  if cmp "${clones[0]}/$output" "${clones[1]}/$output"; then
    echo "same      $output"
  else
    echo "DIFFERENT $output"
    status=1
  fi
  for clone in "${clones[@]}"; do
    # In single-byte text and in UTF-16, as a Unix or a Windows path (Z:\tmp\...).
    if { x86_64-w64-mingw32-strings -a "$clone/$output"; x86_64-w64-mingw32-strings -a -el "$clone/$output"; } |
       grep -qF "$(basename "$work")"; then
      echo "PATH      $output names the build folder $clone"
      status=1
    fi
  done
done
[ "$status" -eq 0 ] && echo "Both builds of $commit made the same bytes."
exit $status
