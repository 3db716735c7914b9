#!/usr/bin/env bash
# 64-bit hosts using the class through the system surrogate, under Wine in a prefix of its
# own: the C++ client early-bound, cscript late-bound; then the unregistration leaves
# nothing of the class in either registry view. Where the x86-64 build sits beside the
# client and the server is the i686 one, each build is unregistered while the other stays
# registered. Last, the per-user registration, which reaches the 64-bit view of the
# user's classes too.
#
#   surrogate.sh SERVER_FOLDER CLIENT_EXE PREFIX [X86_64_FOLDER]
#
# SERVER_FOLDER holds QMXClicker.dll and csp2.dll: build/win32 for the real case (needs
# wine32 beside wine64), build/win64 for the stand-in this machine can run (see
# register_for_surrogate in scripts/lib/common.sh). CLIENT_EXE is the 64-bit
# surrogate_client.exe. X86_64_FOLDER, for the i686 server, holds the x86-64 build (build/win64)
# that is registered beside it. Wine's dllhost.exe never exits and inherits its client's output,
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
idl="$(dirname "$0")/../../source/com/QMXClicker.idl"

# idl_guid KIND NAME: the uuid of the IDL's "library|interface|coclass NAME", as the
# registry spells it.
idl_guid() {
    local guid
    guid=$(awk -v kind="$1" -v name="$2" '
        match($0, /uuid\([0-9a-fA-F-]+\)/) { guid = substr($0, RSTART + 5, RLENGTH - 6) }
        $1 == kind && $2 == name { print "{" toupper(guid) "}"; exit }' "$idl")
    [ -n "$guid" ] || { echo "FAIL no uuid for $1 $2 in $idl" >&2; return 1; }
    echo "$guid"
}
clsid_clicker=$(idl_guid coclass Clicker) || exit 1
class_keys=("CLSID\\$clsid_clicker" "QMXClicker.Clicker" "AppID\\$clsid_clicker"
    "Interface\\$(idl_guid interface _Clicker)" "TypeLib\\$(idl_guid library QMXClicker)") || exit 1
library_key=${class_keys[4]}\\1.0

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

# present|absent HIVE VIEW KEY [VALUE]: checks a key of HIVE\Software\Classes in a view
# (32 or 64); with VALUE, that its default value is VALUE (case ignored).
key_in() {
    "$wine" reg query "$1\\Software\\Classes\\$3" "/reg:$2" 2>/dev/null | tr -d '\r'
}
present() {
    local found
    found=$(key_in "$@") || { fail "$3 is missing in the $2-bit view of $1"; return; }
    if [ $# -ge 4 ] && ! grep -qiF -- "$4" <<<"$found"; then
        fail "$3 in the $2-bit view of $1 does not name $4"
    fi
}
absent() { key_in "$@" >/dev/null && fail "$3 is left in the $2-bit view of $1"; }
nothing_left() {
    local key view
    for key in "${class_keys[@]}"; do
        for view in 32 64; do absent "$1" "$view" "$key"; done
    done
}

ensure_wineprefix
trap finish_wineprefix EXIT
server=$(windows_path "$server_folder/QMXClicker.dll")
register_for_surrogate "$server_folder" cscript.exe "$(basename "$client")" || fail "registration with $surrogate_regsvr32"
echo "registered $server_folder/QMXClicker.dll with $surrogate_regsvr32"
for key in "${class_keys[@]}"; do present HKLM 64 "$key"; done
present HKLM 64 "${class_keys[3]}\\TypeLib" "${class_keys[4]#TypeLib\\}"

run client "$(windows_path "$client")" || fail "the C++ client"
run cscript cscript //nologo "$script" || fail "cscript"

# The x86-64 build registered beside the i686 one: each may go while the other stays.
other_folder=$(realpath -m "${4:-/nonexistent}")
if [ "$surrogate_regsvr32" != regsvr32 ] && ! "$root/scripts/check_pe.py" "$other_folder/QMXClicker.dll" \
    --machine amd64 >/dev/null 2>&1; then
    echo "note: no x86-64 build in $other_folder: one build unregistered while the other stays is not checked"
elif [ "$surrogate_regsvr32" != regsvr32 ]; then
    other=$(windows_path "$other_folder/QMXClicker.dll")
    "$wine" regsvr32 /s "$other" || fail "registration of the x86-64 build"
    "$wine" "$surrogate_regsvr32" /s /u "$server" || fail "unregistration of the i686 build"
    echo "unregistered the i686 build while the x86-64 one stays"
    present HKLM 64 "${class_keys[0]}\\InprocServer32" "$other"
    for key in "${class_keys[@]:1}"; do present HKLM 64 "$key"; done
    present HKLM 64 "$library_key\\0\\win64" "$other"
    absent HKLM 64 "$library_key\\0\\win32"
    absent HKLM 32 "${class_keys[0]}" # the other keys may be one in both views

    "$wine" "$surrogate_regsvr32" /s "$server" || fail "registration of the i686 build"
    "$wine" regsvr32 /s /u "$other" || fail "unregistration of the x86-64 build"
    echo "unregistered the x86-64 build while the i686 one stays"
    absent HKLM 64 "${class_keys[0]}\\InprocServer32"
    absent HKLM 64 "$library_key\\0\\win64"
    present HKLM 64 "$library_key\\0\\win32" "$server"
    for key in "${class_keys[@]}"; do present HKLM 64 "$key"; done
    present HKLM 32 "${class_keys[0]}\\InprocServer32" "$server"
fi

"$wine" "$surrogate_regsvr32" /s /u "$server" || fail "unregistration"
nothing_left HKLM

# Per user: the user's classes in both views, the 64-bit one without the in-process server.
"$wine" "$surrogate_regsvr32" /s /n /i:user "$server" || fail "per-user registration"
echo "registered $server_folder/QMXClicker.dll for the user"
for key in "${class_keys[@]}"; do present HKCU 64 "$key"; done
if [ "$surrogate_regsvr32" != regsvr32 ]; then
    # Wine 8 shows the user's classes alike in both views, where Windows keeps them apart.
    "$wine" reg add "HKCU\\Software\\Classes\\CLSID\\$clsid_clicker-view" /reg:32 /f >/dev/null
    if key_in HKCU 64 "CLSID\\$clsid_clicker-view" >/dev/null; then
        echo "the user's classes are one in both views here"
    else
        absent HKCU 64 "${class_keys[0]}\\InprocServer32"
    fi
    "$wine" reg delete "HKCU\\Software\\Classes\\CLSID\\$clsid_clicker-view" /reg:32 /f >/dev/null
    present HKCU 64 "$library_key\\0\\win32" "$server"
    present HKCU 32 "${class_keys[0]}\\InprocServer32" "$server"
fi
nothing_left HKLM
"$wine" "$surrogate_regsvr32" /s /u /n /i:user "$server" || fail "per-user unregistration"
nothing_left HKCU

if [ "$failures" -eq 0 ]; then
    echo "surrogate: all checks passed"
fi
exit "$failures"
