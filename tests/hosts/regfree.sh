#!/usr/bin/env bash
# Registration-free use under Wine, in a prefix where nothing of the class is registered:
# the host with the application manifest from examples/ creates the class and downloads,
# the same host without it finds no class.
#
#   regfree.sh SERVER_FOLDER HOST_EXE PREFIX win32|win64
#
# SERVER_FOLDER holds QMXClicker.dll and csp2.dll. PREFIX is made if it does not exist.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"
use_wine "$4"
server_folder=$(realpath "$1")
host=$(realpath "$2")
export WINEPREFIX WINEDEBUG=-all QMX_SIM_SCENARIO= QMX_SIM_LOG= QMX_SIM_STATE=
WINEPREFIX=$(realpath -m "$3")
ensure_wineprefix
trap finish_wineprefix EXIT

folder="$WINEPREFIX/drive_c/regfree"
rm -rf "$folder"
mkdir -p "$folder"
cp "$server_folder/QMXClicker.dll" "$server_folder/csp2.dll" "$folder/"
cp "$host" "$folder/listed.exe"
cp "$host" "$folder/unlisted.exe"
cp "$(dirname "$0")/../../examples/QMXClickerHost.exe.manifest" "$folder/listed.exe.manifest"

failures=0
if "$wine" reg query "HKLM\\Software\\Classes\\CLSID\\$clsid_clicker" >/dev/null 2>&1; then
    echo "FAIL the class is registered in $WINEPREFIX"
    failures=1
fi
for name in listed unlisted; do
    "$wine" "C:\\regfree\\$name.exe" "$name" >"$folder/$name.txt" 2>&1 </dev/null || failures=$((failures + 1))
    tr -d '\r' <"$folder/$name.txt"
done
[ "$failures" -eq 0 ] && echo "regfree: all checks passed"
exit "$failures"
