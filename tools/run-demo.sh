#!/usr/bin/env bash
# make demo: registers the built DLL in the project's Wine prefix, as regsvr32 does on
# Windows, then runs the example scripts on scratch copies of examples/sample.ini.
# The DLL stays registered afterwards, so other scripts can be tried in the same prefix:
#   WINEPREFIX=build/wineprefix32 wine cscript //nologo my-script.vbs
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
cd "$project_root"

dll="$project_root/build/win32/VoskTolvane.dll"
if [ ! -f "$dll" ]; then
  echo "no $dll: run 'make demo' (it builds first) or 'make build'" >&2
  exit 1
fi
wine_stop_at_exit wine_stop
wine_session_start

scratch="$project_root/build/demo"
rm -rf "$scratch"
mkdir -p "$scratch"

echo "== wine regsvr32 /s $(windows_path "$dll")"
wine regsvr32 /s "$(windows_path "$dll")"

status=0
for script in demo.vbs demo.js; do
  copy="$scratch/sample-${script##*.}.ini"
  cp examples/sample.ini "$copy"
  echo
  echo "== wine cscript //nologo examples/$script $(windows_path "$copy")"
  wine cscript //nologo "$(windows_path "examples/$script")" "$(windows_path "$copy")" || status=1
done
exit $status
