#!/usr/bin/env bash
# The release archive as a Windows user meets it, from the zip alone, in a fresh 64-bit
# Wine prefix: unzipped into a folder whose path holds a space, parentheses, & and ^;
# with nothing registered, clients of each kind that find the DLL through its manifest
# (the example built and run in x86\ and x64\ with its application manifest, and
# elsewhere activating the DLL's manifest itself; the registration client's use of the
# object, also from a second apartment); exactly four exports of each DLL; register.cmd,
# then register-user.cmd, which writes the same keys under the user's classes, and its
# /u; the example scripts under the 32-bit and the 64-bit cscript; the C and C++ examples
# built against include/ alone with both MinGW-w64 compilers, and run; the IDL compiled
# by widl and a client built on widl's header (tests/dist/archive_probe.c), which also
# compares widl's type library and the shipped .tlb files with those inside the DLLs;
# unregister.cmd /user and unregister.cmd, after which nothing of the component is left
# and a script cannot create the class.
# Then the installer packages beside the archive: each machine package alone in a prefix
# made afresh (used by its cscript, repaired, nothing left after), then both side by side
# (the keys register.cmd wrote, x64 removed and x86 still working); each per-user package
# in another prefix made afresh (the user's classes alone, nothing left after). Last, the
# DLLs and a package signed with a certificate made for the run, and the signatures
# verified.
#   check_archive.sh <dist folder> <32-bit VoskTolvane.dll> <64-bit build folder>
# The DLLs of the builds only tell whether the archive holds them; the checks use the
# archive's own. Exits 77 (skipped) when the dist folder holds no archive.
set -euo pipefail

dist="$1"
dll32="$2"
build="$3"
archives=("$dist"/VoskTolvane-*.zip)
if [ ! -f "${archives[0]}" ]; then
  echo "no archive in $dist (make dist writes it)"
  exit 77
fi
archive="${archives[0]}"

export WINE_BITS=64
work="$build/archive-check"
export WINEPREFIX="$work/wineprefix"
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
probe_source="$project_root/tests/dist/archive_probe.c"
create_and_use="$project_root/tests/registration/create_and_use.vbs"

source "$project_root/tests/support/check_results.sh"

wine_stop_at_exit wine_stop
wine_fresh_prefix
rm -rf "$work/Program Files" "$work/scratch"
# No % in it: Wine's cmd expands % signs again inside any expanded text (%~dp0, %cd%).
folder="$work/Program Files/Vosk Tolvane (1.05) & Co ^1"
scratch="$work/scratch"
mkdir -p "$folder" "$scratch"

# check WHAT COMMAND...: runs the command, its output shown, and records whether it succeeded.
check() {
  local what="$1" status=0
  shift
  "$@" </dev/null || status=$?
  record "$status" "$what"
}
# script CMD NAME [ARGUMENT...]: runs the archive's script NAME with that cmd, from the
# scratch folder, named by its full path in quotes as it is typed at a prompt: through a
# one-line batch file, as cmd /c cannot be given a quoted path holding & from here.
script() {
  printf '@"%s" %%*\r\n' "$(windows_path "$folder/$2" | sed 's/%/%%/g')" >"$scratch/run-script.cmd"
  (cd "$scratch" && wine "$1" /c run-script.cmd "${@:3}")
}

echo "== $(basename "$archive"), unzipped into $folder"
python3 -m zipfile -e "$archive" "$folder"
# Built from the same sources as this build, or the checks below would test another version.
for kind in x86 x64; do
  built="$build/VoskTolvane.dll"
  [ "$kind" = x86 ] && built="$dll32"
  if ! cmp -s "$folder/$kind/VoskTolvane.dll" "$built"; then
    echo "FAIL  $kind/VoskTolvane.dll is not the DLL of $built: run make dist again"
    exit 1
  fi
done
cp "$project_root/examples/sample.ini" "$scratch/"  # the INI files the examples change

cmd32='C:\windows\syswow64\cmd.exe'
cscript32='C:\windows\syswow64\cscript.exe'

echo "== Nothing registered: clients of each kind through the manifests"
for kind in x86 x64; do
  triplet=x86_64-w64-mingw32 registration_client="$build/registration_client.exe"
  [ "$kind" = x86 ] && triplet=i686-w64-mingw32 registration_client="$(dirname "$dll32")/registration_client.exe"
  client="$folder/$kind/manifest_client.exe"
  check "manifest_client.cpp built by $triplet" "$triplet-g++-posix" -std=c++17 -Wall -Wextra -Werror -municode \
    -static -I"$folder/include" "$folder/examples/manifest_client.cpp" -o "$client" -lole32 -loleaut32 -luuid
  cp "$client" "$scratch/manifest_client-$kind.exe"
  for program in manifest_client registration_client; do
    cp "$folder/examples/manifest_client.exe.manifest" "$folder/$kind/$program.exe.manifest"
  done
  cp "$registration_client" "$folder/$kind/"
  check "manifest_client.exe in $kind, by its application manifest" \
    wine "$(windows_path "$client")" "$(windows_path "$scratch/$kind-application.ini")"
  check "manifest_client.exe elsewhere, activating $kind/VoskTolvane.sxs.manifest" \
    wine "$(windows_path "$scratch/manifest_client-$kind.exe")" "$(windows_path "$scratch/$kind-host.ini")" \
    "$(windows_path "$folder/$kind/VoskTolvane.sxs.manifest")"
  check "the registration client in $kind uses the object, also from a second apartment" \
    wine "$(windows_path "$folder/$kind/registration_client.exe")" manifest "$(windows_path "$scratch")"
done

echo "== Exactly the four exports"
for kind in x86 x64; do
  exports="$(x86_64-w64-mingw32-objdump -p "$folder/$kind/VoskTolvane.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] //p' | tr '\n' ' ')"
  [ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]
  record $? "$kind/VoskTolvane.dll exports $exports"
done

# The component's keys in a hive's classes (HKLM or HKCU), in both registry views, with
# the DLLs' paths left out. The 32-bit view is asked for the keys that Windows keeps
# apart by view; Windows shares the others (Wine keeps a 32-bit ProgID apart too).
manifest="$folder/x64/VoskTolvane.sxs.manifest"
attribute() { sed -n "s/.*<$1 [^>]*$2=\"\([^\"]*\)\".*/\1/p" "$manifest" | head -1; }
keys_of_component=("CLSID\\$(attribute comClass clsid)" "Interface\\$(attribute comInterfaceExternalProxyStub iid)"
                   "TypeLib\\$(attribute typelib tlbid)" "$(attribute comClass progid)")
component_keys() {
  local key
  for key in "${keys_of_component[@]}" "Wow6432Node\\${keys_of_component[0]}" "Wow6432Node\\${keys_of_component[1]}"; do
    wine reg query "$1\\Software\\Classes\\$key" /s </dev/null 2>/dev/null | tr -d '\r' |
      sed -e '/^reg: /d' -e 's/^HKEY_[A-Z_]*\\/HIVE\\/' -e 's/\(REG_SZ *\).*\\VoskTolvane\.dll$/\1<dll>/' || true
  done
}

echo "== register.cmd, from another folder, in a 64-bit cmd"
check "register.cmd succeeds" script cmd register.cmd
component_keys HKLM >"$scratch/machine-keys.txt"
check "the machine's classes hold both kinds' keys" grep -qF '\Wow6432Node\CLSID\' "$scratch/machine-keys.txt"

echo "== register-user.cmd, then register-user.cmd /u, in a 32-bit cmd"
check "register-user.cmd succeeds" script "$cmd32" register-user.cmd
check "the user's classes hold the machine's keys, both kinds, each in its view" \
  diff "$scratch/machine-keys.txt" <(component_keys HKCU)
check "register-user.cmd /u succeeds" \
  script "$cmd32" register-user.cmd /u
check "the user's classes hold no key of the component after" diff /dev/null <(component_keys HKCU)
check "the machine's classes are as they were" cmp "$scratch/machine-keys.txt" <(component_keys HKLM)

echo "== The example scripts under the 32-bit and the 64-bit cscript"
for host in 32 64; do
  for script in demo.vbs demo.js; do
    ini="$scratch/$host-$script.ini"
    cp "$scratch/sample.ini" "$ini"
    cscript=cscript
    [ "$host" = 32 ] && cscript="$cscript32"
    check "$script under the $host-bit cscript" wine "$cscript" //nologo \
      "$(windows_path "$folder/examples/$script")" "$(windows_path "$ini")"
  done
done

echo "== The C and C++ examples, built against include/ alone"
for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  for example in client.c client.cpp; do
    program="$scratch/$triplet-${example/./-}.exe"
    compile=("$triplet-gcc-posix" -Wall -Wextra -Werror)
    [ "$example" = client.cpp ] && compile=("$triplet-g++-posix" -std=c++17 -Wall -Wextra -Werror -static)
    check "$example built by $triplet" "${compile[@]}" -I"$folder/include" "$folder/examples/$example" \
      -o "$program" -lole32 -loleaut32 -luuid
    ini="$scratch/$triplet-$example.ini"
    cp "$scratch/sample.ini" "$ini"
    check "$example run as a $triplet program" wine "$(windows_path "$program")" "$(windows_path "$ini")"
  done
done

echo "== The IDL through widl, and a client built on widl's header"
widl_dir="$scratch/widl"
mkdir -p "$widl_dir"
idl="$folder/include/VoskTolvane.idl"
idl_includes=(-I/usr/include/wine/wine/windows)
check "widl makes a header of the IDL" \
  x86_64-w64-mingw32-widl "${idl_includes[@]}" -h -H "$widl_dir/VoskTolvane_widl.h" "$idl"
for triplet in i686-w64-mingw32 x86_64-w64-mingw32; do
  kind=x86 bits=32 standard_ole=/usr/lib/i386-linux-gnu/wine/i386-windows
  [ "$triplet" = x86_64-w64-mingw32 ] && kind=x64 bits=64 standard_ole=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  tlb="$widl_dir/widl$bits.tlb"
  check "widl makes a $bits-bit type library of the IDL" \
    x86_64-w64-mingw32-widl "${idl_includes[@]}" -L"$standard_ole" "--win$bits" -t -o "$tlb" "$idl"
  probe="$widl_dir/archive_probe$bits.exe"
  check "the probe builds on widl's header for $triplet" \
    "$triplet-gcc-posix" -municode -Wall -Wextra -Werror -I"$widl_dir" "$probe_source" -o "$probe" \
    -lole32 -loleaut32 -luuid
  check "the $bits-bit probe: the class, the type libraries, the registry" \
    wine "$(windows_path "$probe")" registered "$(windows_path "$folder/$kind")" "$(windows_path "$tlb")" \
    "$(windows_path "$scratch/probe$bits.ini")"
done

echo "== unregister.cmd, from another folder, in a 32-bit cmd"
check "unregister.cmd /user succeeds" script "$cmd32" unregister.cmd /user
check "unregister.cmd succeeds" script "$cmd32" unregister.cmd
for bits in 32 64; do
  check "nothing of the component is left ($bits-bit probe)" \
    wine "$(windows_path "$widl_dir/archive_probe$bits.exe")" unregistered
done
for host in 32 64; do
  cscript=cscript
  [ "$host" = 32 ] && cscript="$cscript32"
  output="$(wine "$cscript" //nologo "$(windows_path "$create_and_use")" "$(windows_path "$scratch/gone.ini")" \
    </dev/null 2>&1 || true)"
  echo "$output"
  created=0
  [[ "$output" == *"cannot create the object"* ]] || created=1
  record "$created" "CreateObject fails under the $host-bit cscript"
done

# What an installer package may leave: the component's keys in both hives, the programs
# listed for removal, and the files of the C: drive (but the installer's own cache
# folder, which Windows always has and Wine makes on the first install).
installed_state() {
  component_keys HKLM
  component_keys HKCU
  for hive in HKLM HKCU; do
    { wine reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" </dev/null 2>/dev/null || true; } |
      tr -d '\r'
  done
  (cd "$WINEPREFIX/drive_c" && find . ! -path './windows/temp/*' ! -path './users/*/Temp/*' ! -path ./windows/Installer |
     sort)
}
# msi ACTION PACKAGE [PROPERTY=VALUE...]: msiexec without its interface.
msi() { wine msiexec "$1" "$(windows_path "$dist/$2")" /qn "${@:3}" </dev/null; }
host_32() { wine "$cscript32" //nologo "$(windows_path "$create_and_use")" "$(windows_path "$scratch/host32.ini")" </dev/null; }
host_64() { wine cscript //nologo "$(windows_path "$create_and_use")" "$(windows_path "$scratch/host64.ini")" </dev/null; }
fails() { ! "$@"; }
packages=("${archive%.zip}"-{x86,x64,x86-user,x64-user}.msi)
packages=("${packages[@]##*/}")

echo "== The packages for the machine, each alone in a prefix made afresh"
for index in 0 1; do
  package="${packages[$index]}" host=host_32 dll="Program Files (x86)/VoskTolvane/VoskTolvane.dll"
  [ "$index" = 1 ] && host=host_64 dll="Program Files/VoskTolvane/VoskTolvane.dll"
  wine_fresh_prefix
  installed_state >"$scratch/before.txt"
  check "$package installs" msi /i "$package"
  check "the cscript of its kind uses the object" "$host"
  rm "$WINEPREFIX/drive_c/$dll"
  check "a repair puts back the deleted DLL" msi /i "$package" REINSTALL=ALL REINSTALLMODE=vomus
  check "the cscript of its kind uses the repaired object" "$host"
  check "$package uninstalls" msi /x "$package"
  check "the registry and the files are as before" diff "$scratch/before.txt" <(installed_state)
done

echo "== Both side by side: one removed, the other still works"
check "${packages[0]} installs" msi /i "${packages[0]}"
check "${packages[1]} installs beside it" msi /i "${packages[1]}"
check "the 32-bit cscript uses the object" host_32
check "the 64-bit cscript uses the object" host_64
check "the machine's classes hold the keys that register.cmd wrote" \
  diff "$scratch/machine-keys.txt" <(component_keys HKLM)
check "${packages[1]} uninstalls" msi /x "${packages[1]}"
check "the 32-bit cscript still uses the object" host_32
check "the 64-bit cscript no longer creates it" fails host_64
check "${packages[0]} uninstalls" msi /x "${packages[0]}"
# Wine keeps a copy of the ProgID in each registry view, where Windows keeps one for
# both; the component of the shared keys then leaves the x64 package's copy (README.md).
check "no class, interface or type library is left" \
  fails grep -E '^HIVE\\Software\\Classes\\(Wow6432Node\\)?(CLSID|Interface|TypeLib)\\' <(component_keys HKLM)

echo "== The packages for one user, in a prefix made afresh"
wine_fresh_prefix
installed_state >"$scratch/before.txt"
for package in "${packages[@]:2}"; do
  check "$package installs" msi /i "$package"
  check "the user's classes hold its keys" grep -qF 'InprocServer32' <(component_keys HKCU)
  check "the machine's classes hold none" diff /dev/null <(component_keys HKLM)
  check "$package uninstalls" msi /x "$package"
  check "the registry and the files are as before" diff "$scratch/before.txt" <(installed_state)
done

echo "== Signed with a certificate made for this run, and verified"
signing="$scratch/signing"
mkdir -p "$signing"
check "openssl makes a throwaway code-signing certificate" openssl req -x509 -newkey rsa:2048 -nodes -days 1 \
  -subj /CN=VoskTolvane-test -addext extendedKeyUsage=codeSigning \
  -keyout "$signing/key.pem" -out "$signing/cert.pem" 2>/dev/null
cp "$folder/x64/VoskTolvane.dll" "$dist/${packages[1]}" "$signing/"
cp "$folder/x86/VoskTolvane.dll" "$signing/VoskTolvane32.dll"
signed=("$signing/VoskTolvane32.dll" "$signing/VoskTolvane.dll" "$signing/${packages[1]}")
check "the release is unsigned without a certificate" fails osslsigncode verify -in "${signed[0]}"
check "tools/sign-files.sh signs the DLLs and a package" env SIGN_CERT="$signing/cert.pem" \
  SIGN_KEY="$signing/key.pem" "$project_root/tools/sign-files.sh" "${signed[@]}"
for file in "${signed[@]}"; do
  check "osslsigncode verifies $(basename "$file")" osslsigncode verify -CAfile "$signing/cert.pem" -in "$file"
done

report_checks
