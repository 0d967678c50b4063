#!/usr/bin/env bash
# make dist: into build/dist, the release archive VoskTolvane-<version>.zip, the installer
# packages VoskTolvane-<version>-x86.msi and -x64.msi (for the machine) and
# -x86-user.msi and -x64-user.msi (for one user), and SHA256SUMS of them all.
# Builds both DLLs first where needed. The version is the FileVersion of the DLLs'
# version block. Every entry and package carries the time of the commit (or
# SOURCE_DATE_EPOCH, when set), so the same commit gives the same files, byte for byte.
# Signs the DLLs and the packages when given a certificate (see tools/sign-files.sh):
#   make dist SIGN_CERT=cert.pem SIGN_KEY=key.pem [SIGN_PASSWORD=...] [SIGN_TIMESTAMP_URL=...]
#   make dist SIGN_PKCS12=signer.p12 SIGN_PASSWORD=...
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target VoskTolvane client_files manifests registration_files
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
# The four numbers of the fixed version (1.5.0.0 where the strings say 1.05): the packages'
# ProductVersion, which Windows Installer compares.
fixed_version="$(python3 tools/msi-package.py version build/win32/VoskTolvane.dll)"
# The client files, the client's manifest, the per-user script and the packages' Registry
# rows do not depend on the kind of build; two that differ would mean one of them took
# something from its build.
for file in include/VoskTolvane.h include/VoskTolvane.idl manifests/manifest_client.exe.manifest \
            registration/register-user.cmd registration/registry-x86.wxi registration/registry-x64.wxi \
            registration/registry-shared.wxi; do
  if ! cmp -s "build/win32/$file" "build/win64/$file"; then
    echo "make-dist: build/win32/$file and build/win64/$file differ" >&2
    exit 1
  fi
done
seconds="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}"

signing=""
if [ -n "${SIGN_PKCS12:-}" ] || { [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ]; }; then
  signing=1
  export SIGN_TIME="$seconds"
fi

dist="$root/build/dist"
stage="$dist/VoskTolvane-$version"
rm -rf "$dist"
mkdir -p "$stage/x86" "$stage/x64" "$stage/include" "$stage/examples"
cp build/win32/VoskTolvane.dll build/win32/Voskini15T.tlb build/win32/manifests/VoskTolvane.sxs.manifest "$stage/x86/"
cp build/win64/VoskTolvane.dll build/win64/Voskini15T.tlb build/win64/manifests/VoskTolvane.sxs.manifest "$stage/x64/"
[ -n "$signing" ] && tools/sign-files.sh "$stage/x86/VoskTolvane.dll" "$stage/x64/VoskTolvane.dll"
cp build/win32/include/VoskTolvane.h build/win32/include/VoskTolvane.idl "$stage/include/"
cp packaging/register.cmd build/win32/registration/register-user.cmd packaging/unregister.cmd "$stage/"
# The product code changes with each version (a major upgrade): README.txt names them.
product_code() { python3 "$root/tools/msi-package.py" code product "$1" "$2" "$fixed_version"; }
sed -e "s/@VERSION@/$version/g; s/@FIXED_VERSION@/$fixed_version/g" \
    -e "s/@PRODUCT_CODE_X86@/$(product_code x86 machine)/; s/@PRODUCT_CODE_X64@/$(product_code x64 machine)/" \
    -e "s/@PRODUCT_CODE_X86_USER@/$(product_code x86 user)/; s/@PRODUCT_CODE_X64_USER@/$(product_code x64 user)/" \
    packaging/README.txt >"$stage/README.txt"
cp packaging/examples/* build/win32/manifests/manifest_client.exe.manifest examples/demo.vbs examples/demo.js \
  examples/sample.ini "$stage/examples/"
# Text as Windows tools expect it: lines end in CR LF (cmd and the VBA editor need it).
find "$stage" -type f ! -name '*.dll' ! -name '*.tlb' -exec sed -i 's/\r*$/\r/' {} +

archive="VoskTolvane-$version.zip"
python3 tools/zip-folder.py "$stage" "$dist/$archive" "$seconds"
outputs=("$archive")

# The installer packages: wixl builds each from packaging/VoskTolvane.wxs in a folder of
# its own holding the (signed) DLL of its kind, its type library and manifest, and the
# Registry rows; msibuild then mends what wixl leaves out or makes anew on every run.
for scope in machine user; do
  for kind in x86 x64; do
    package="VoskTolvane-$version-$kind"
    [ "$scope" = user ] && package+="-user"
    work="$dist/$package"
    mkdir -p "$work"
    cp "$stage/$kind"/* build/win32/registration/*.wxi "$work/"
    touch -d "@$seconds" "$work"/*  # the cabinet inside keeps each file's time
    product="$(product_code "$kind" "$scope")"
    # The package code changes with any change to what the package holds.
    package_code="$(python3 tools/msi-package.py code package "$kind" "$scope" "$fixed_version" \
      "$(cd "$work" && cat -- * "$root/packaging/VoskTolvane.wxs" | sha256sum)")"
    template="Intel;1033"
    [ "$kind" = x64 ] && template="x64;1033"
    (cd "$work" && wixl -a "$kind" -D Kind="$kind" -D Scope="$scope" -D Version="$fixed_version" \
      -D ProductCode="$product" -o "$dist/$package.msi" "$root/packaging/VoskTolvane.wxs")
    # wixl leaves the DLL unversioned, which would let any file replace it on a repair.
    msibuild "$dist/$package.msi" -q "UPDATE \`File\` SET \`Version\` = '$fixed_version', \`Language\` = '1036' WHERE \`File\` = 'dll'"
    msibuild "$dist/$package.msi" -s "VoskTolvane $fixed_version, $kind, for the $scope" VoskTolvane "$template" "{$package_code}"
    python3 tools/msi-package.py set-times "$dist/$package.msi" "$seconds"
    [ -n "$signing" ] && tools/sign-files.sh "$dist/$package.msi"
    rm -rf "$work"
    outputs+=("$package.msi")
  done
done
rm -rf "$stage"

(cd "$dist" && sha256sum "${outputs[@]}" >SHA256SUMS)
echo "Wrote into build/dist/ (SHA256SUMS):"
cat "$dist/SHA256SUMS"
if [ -z "$signing" ]; then
  echo "Not signed: give SIGN_CERT and SIGN_KEY, or SIGN_PKCS12, to sign the DLLs and the packages."
fi
