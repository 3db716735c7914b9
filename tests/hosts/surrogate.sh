#!/usr/bin/env bash
# 64-bit hosts using the class through the system surrogate, under Wine in a prefix of its
# own: the C++ client early-bound, cscript late-bound; then the unregistration leaves
# nothing of the class in either registry view.
#
#   surrogate.sh SERVER_FOLDER CLIENT_EXE PREFIX
#
# SERVER_FOLDER holds QMXClicker.dll and csp2.dll: build/win32 for the real case (needs
# wine32 beside wine64), build/win64 for the stand-in this machine can run (see
# register_for_surrogate in scripts/lib/common.sh). CLIENT_EXE is the 64-bit
# surrogate_client.exe. Wine's dllhost.exe never exits and inherits its client's output,
# so hosts write to files, and the prefix's wine server is ended at the end.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"
use_wine win64 # a 64-bit prefix, which holds the 32-bit programs in syswow64

server_folder=$(realpath "$1")
client=$(realpath "$2")
export WINEPREFIX
WINEPREFIX=$(realpath -m "$3")
export WINEDEBUG=-all QMX_SIM_SCENARIO= QMX_SIM_LOG= QMX_SIM_STATE=
script=$(windows_path "$(dirname "$0")/surrogate.vbs")

failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
# run NAME COMMAND...: output to a file of its own, then shown.
run() {
    local name=$1 status
    shift
    "$wine" "$@" >"$WINEPREFIX/$name.txt" 2>&1 </dev/null
    status=$?
    tr -d '\r' <"$WINEPREFIX/$name.txt"
    return $status
}

ensure_wineprefix
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
register_for_surrogate "$server_folder" cscript.exe "$(basename "$client")" || fail "registration with $surrogate_regsvr32"
echo "registered $server_folder/QMXClicker.dll with $surrogate_regsvr32"

run client "$(windows_path "$client")" || fail "the C++ client"
run cscript cscript //nologo "$script" || fail "cscript"

"$wine" "$surrogate_regsvr32" /s /u "$(windows_path "$server_folder/QMXClicker.dll")" || fail "unregistration"
for key in "CLSID\\$clsid_clicker" "QMXClicker.Clicker" "AppID\\$clsid_clicker" \
    "Interface\\{F1C964A0-FF0C-47DD-A8BF-478FA424E8B8}" "TypeLib\\{2BF49912-FC25-4BAC-BCB9-1F28D64DB22D}"; do
    for view in 32 64; do
        if "$wine" reg query "HKLM\\Software\\Classes\\$key" "/reg:$view" >/dev/null 2>&1; then
            fail "$key is left in the $view-bit view"
        fi
    done
done

if [ "$failures" -eq 0 ]; then
    echo "surrogate: all checks passed"
fi
exit "$failures"
