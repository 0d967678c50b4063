#!/usr/bin/env bash
# make dist: the release archive build/dist/VoskTolvane-<version>.zip and build/dist/SHA256SUMS.
# Builds both DLLs first where needed. The version is the FileVersion of the DLLs'
# version block. Every entry carries the time of the commit (or SOURCE_DATE_EPOCH, when
# set), so the same commit gives the same archive, byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target VoskTolvane client_files manifests
done

# The FileVersion string of a DLL's version block (UTF-16 in the resource).
file_version() {
  x86_64-w64-mingw32-strings -a -el -n 1 "$1" | grep -A1 -x FileVersion | sed -n 2p
}
version="$(file_version build/win32/VoskTolvane.dll)"
if [ -z "$version" ] || [ "$version" != "$(file_version build/win64/VoskTolvane.dll)" ]; then
  echo "make-dist: the two DLLs do not carry one FileVersion ('$version')" >&2
  exit 1
fi
# The client files and the client's manifest do not depend on the kind of build; two that
# differ would mean one of them took something from its build.
for file in include/VoskTolvane.h include/VoskTolvane.idl manifests/manifest_client.exe.manifest; do
  if ! cmp -s "build/win32/$file" "build/win64/$file"; then
    echo "make-dist: build/win32/$file and build/win64/$file differ" >&2
    exit 1
  fi
done
seconds="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}"

dist="$root/build/dist"
stage="$dist/VoskTolvane-$version"
rm -rf "$dist"
mkdir -p "$stage/x86" "$stage/x64" "$stage/include" "$stage/examples"
cp build/win32/VoskTolvane.dll build/win32/Voskini15T.tlb build/win32/manifests/VoskTolvane.sxs.manifest "$stage/x86/"
cp build/win64/VoskTolvane.dll build/win64/Voskini15T.tlb build/win64/manifests/VoskTolvane.sxs.manifest "$stage/x64/"
cp build/win32/include/VoskTolvane.h build/win32/include/VoskTolvane.idl "$stage/include/"
cp packaging/register.cmd packaging/register-user.cmd packaging/unregister.cmd "$stage/"
sed "s/@VERSION@/$version/g" packaging/README.txt >"$stage/README.txt"
cp packaging/examples/* build/win32/manifests/manifest_client.exe.manifest examples/demo.vbs examples/demo.js \
  examples/sample.ini "$stage/examples/"
# Text as Windows tools expect it: lines end in CR LF (cmd and the VBA editor need it).
find "$stage" -type f ! -name '*.dll' ! -name '*.tlb' -exec sed -i 's/\r*$/\r/' {} +

archive="VoskTolvane-$version.zip"
python3 tools/zip-folder.py "$stage" "$dist/$archive" "$seconds"
rm -rf "$stage"
(cd "$dist" && sha256sum "$archive" >SHA256SUMS)
echo "Wrote build/dist/$archive and build/dist/SHA256SUMS:"
cat "$dist/SHA256SUMS"
