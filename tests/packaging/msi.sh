#!/usr/bin/env bash
# The installers under Wine, in a prefix of their own: per machine and per user each
# package writes the same keys as the DLL's own registration (regsvr32 of the same file in
# the same folder), a script host downloads once csp2.dll is copied in (per machine), this
# release's package replaces the previous release's (2.0.0.2) with one entry left in the
# installed programs and its own files in place, another package of the same version lands
# nothing, a newer package replaces it and an older one is refused, and uninstalling leaves
# nothing. On 64-bit
# Windows the x86 packages refuse to install.
#
#   msi.sh BUILD_FOLDER PREFIX x86|x64 [all|wine32|msiexec]
#
# BUILD_FOLDER is the i686 build (QMXClicker.dll, csp2.dll and the packages). x86: a
# 32-bit prefix; x64: a 64-bit prefix with 32-bit support, where the 64-bit script host
# uses the class through the system surrogate.
#
# The checks come in two parts. "wine32" runs 32-bit code: regsvr32 of the i686 DLL for
# the reference keys, the script hosts and the installed tool. "msiexec" needs only
# msiexec, reg and the files: launch condition, PATH, shortcut, upgrade, uninstall. Both
# install and remove the packages they look at. "all" (the default) runs both in one
# prefix; the x64 packages run them apart, in a prefix each, so that the msiexec part
# runs on 64-bit Wine alone where 32-bit Wine is emulated (tests/packaging/CMakeLists.txt).
# A new case puts each of its checks under the part it needs: "if part wine32" or
# "if part msiexec".
set -uo pipefail
here=$(dirname "$(realpath "$0")")
source "$here/../../scripts/lib/common.sh"
build_folder=$(realpath "$1")
arch=$3 run_part=${4:-all}
case $run_part in all | wine32 | msiexec) ;; *) echo "FAIL msi.sh: no part '$run_part'"; exit 2 ;; esac
part() { [ "$run_part" = all ] || [ "$run_part" = "$1" ]; }
if [ "$arch" = x64 ]; then use_wine win64; else use_wine win32; fi
export WINEPREFIX WINEDEBUG=-all QMX_SIM_SCENARIO= QMX_SIM_LOG= QMX_SIM_STATE=
WINEPREFIX=$(realpath -m "$2")
rm -rf "$WINEPREFIX"
ensure_wineprefix
"$wineserver" -p
trap finish_wineprefix EXIT
"$wine" wineboot >/dev/null 2>&1 || true

version=$(release_version)
work="$WINEPREFIX/drive_c/msitest"
mkdir -p "$work"
cp "$build_folder/QMXClicker-$version-$arch.msi" "$work/machine.msi"
cp "$build_folder/QMXClicker-$version-$arch-user.msi" "$work/user.msi"
# A newer version of the same package, for the upgrade: Windows Installer compares the
# first three fields only.
IFS=. read -r major minor build _ <<<"$version"
newer=$major.$minor.$((build + 1)).0
if part msiexec; then
    /usr/bin/python3 "$here/../../packaging/make_msi.py" "$here/../../packaging/QMXClicker.wxs" "$build_folder" "$work/newer.msi" \
        "$arch" machine "$newer" || exit 1
fi

# ---- the previous release (block of its own) ----
# The previous release's package: the packaging files of the last commit that made 2.0.0.2
# packages, with this build's DLL and its tools marked by a few bytes past their end (a
# program's loader ignores them), so that the upgrade's replacement of them shows. Made
# from the history rather than kept as a fixture: the same build's DLL keeps the keys
# comparable. A rebuild of this release from those marked files is a same-version package
# with another package code.
previous_commit=557c0ba previous=2.0.0.2
mkdir -p "$work/previous/packaging" "$work/previous/files"
for f in QMXClicker.wxs classes.wxi make_msi.py verify_reproducible.py; do
    git -c safe.directory='*' -C "$here/../.." show "$previous_commit:packaging/$f" >"$work/previous/packaging/$f" 2>"$work/git.txt" ||
        { echo "FAIL the previous release's packaging/$f is not in this checkout's history (commit $previous_commit): $(cat "$work/git.txt")"; exit 1; }
done
cp "$build_folder/QMXClicker.dll" "$work/previous/files/"
for f in qmxclicker.exe qmxclickerw.exe; do
    { cat "$build_folder/$f"; printf 'previous release'; } >"$work/previous/files/$f"
done
/usr/bin/python3 "$work/previous/packaging/make_msi.py" "$work/previous/packaging/QMXClicker.wxs" "$work/previous/files" \
    "$work/previous.msi" "$arch" machine "$previous" || exit 1
/usr/bin/python3 "$here/../../packaging/make_msi.py" "$here/../../packaging/QMXClicker.wxs" "$work/previous/files" \
    "$work/rebuilt.msi" "$arch" machine "$version" || exit 1
# ---- end of the previous release ----

failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
win() { "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

if [ "$arch" = x64 ]; then
    regsvr32='C:\windows\syswow64\regsvr32.exe' views="32 64"
    program_files=$(win cmd /c 'echo %ProgramFiles(x86)%')
else
    regsvr32=regsvr32 views=32
    program_files=$(win cmd /c 'echo %ProgramFiles%')
fi
user_programs="$(win cmd /c 'echo %LOCALAPPDATA%')\\Programs"
unix() { "$wine" winepath -u "$1" 2>/dev/null | tr -d '\r'; }

# Every key of the component in one hive, each view, as "reg query /s" prints them. The
# help folder's trailing backslash (the installer's folder property has one) is dropped,
# and so is the disk-image flag (8) that Wine's RegisterTypeLib adds to FLAGS and
# Windows leaves out.
# ProgID and AppID keys are shared by both views on 64-bit Windows: Wine's msiexec writes
# a 32-bit component's copy into the 32-bit view all the same, so only the 64-bit view's
# is compared (the check that nothing is left looks at both).
redirected="CLSID\\$clsid_clicker Interface\\{F1C964A0-FF0C-47DD-A8BF-478FA424E8B8}
TypeLib\\{2BF49912-FC25-4BAC-BCB9-1F28D64DB22D}"
shared="QMXClicker.Clicker AppID\\$clsid_clicker"
dump() { # dump HIVE NAME [all]
    local batch="$work/dump.bat" view key keys
    printf '@echo off\r\n' >"$batch"
    for view in $views; do
        keys="$redirected $shared"
        [ "$view" = 32 ] && [ "$arch" = x64 ] && [ "${3:-}" != all ] && keys=$redirected
        for key in $keys; do
            printf 'reg query "%s\\Software\\Classes\\%s" /s /reg:%s\r\n' "$1" "$key" "$view" >>"$batch"
        done
    done
    win cmd /c 'C:\msitest\dump.bat' | grep -E '^(HKEY_|    )' | sed 's/\\$//' |
        awk '/\\FLAGS$/ { flags = 1; print; next } flags { sub(/REG_SZ    8$/, "REG_SZ    0"); flags = 0 } { print }' \
            >"$work/$2.txt"
}
empty() { # empty HIVE: nothing of the component in it
    dump "$1" left all
    if grep -q . "$work/left.txt"; then
        fail "keys left under $1:"
        cat "$work/left.txt"
    fi
}
download() { # download FOLDER WHAT: csp2.dll in the folder, then the script hosts
    local host hosts=cscript
    [ "$arch" = x64 ] && hosts='C:\windows\syswow64\cscript.exe C:\windows\system32\cscript.exe'
    cp "$build_folder/csp2.dll" "$(unix "$1")/"
    for host in $hosts; do
        # To a file: the surrogate inherits the host's output and never exits.
        "$wine" "$host" //nologo "$(windows_path "$here/../hosts/surrogate.vbs")" >"$work/host.txt" 2>&1 </dev/null
        if grep -q "all checks passed" "$work/host.txt"; then
            echo "ok   $2: $host downloads six barcodes"
        else
            fail "$2: $host"
            tr -d '\r' <"$work/host.txt"
        fi
    done
    # The installed tool, beside the installed DLL.
    "$wine" "$1\\qmxclicker.exe" download --format csv --port 3 --quiet >"$work/tool.txt" 2>&1 </dev/null
    if [ "$(grep -c ',00126B3FA21904C7,' "$work/tool.txt")" = 6 ]; then
        echo "ok   $2: qmxclicker.exe downloads six barcodes"
    else
        fail "$2: qmxclicker.exe"
        tr -d '\r' <"$work/tool.txt"
    fi
    rm -f "$(unix "$1")/csp2.dll"
    # The surrogate holds the DLL loaded and never exits: end it, as a restart would.
    if [ "$arch" = x64 ]; then
        "$wineserver" -k
        "$wineserver" -w
        "$wineserver" -p
    fi
}
# reference HIVE FOLDER NAME [regsvr32 options]: the keys of regsvr32 of the same DLL in
# the same folder, unregistered again afterwards.
reference() {
    local hive=$1 folder=$2 name=$3 dir
    shift 3
    dir=$(unix "$folder")
    mkdir -p "$dir"
    cp "$build_folder/QMXClicker.dll" "$dir/"
    "$wine" "$regsvr32" /s "$@" "$folder\\QMXClicker.dll" || fail "regsvr32 $*"
    dump "$hive" "$name"
    "$wine" "$regsvr32" /s /u "$@" "$folder\\QMXClicker.dll" || fail "regsvr32 /u $*"
    rm -rf "$dir"
    grep -q InprocServer32 "$work/$name.txt" || fail "regsvr32 $* wrote no class"
}
same() { # same NAME REFERENCE [WHOSE]: the keys as WHOSE (regsvr32) wrote them in REFERENCE
    local whose=${3:-regsvr32}
    if diff "$work/$2.txt" "$work/$1.txt" >"$work/diff.txt"; then
        echo "ok   $1: the same keys and values as $whose"
    else
        fail "$1 differs from $whose (< $whose, > package):"
        cat "$work/diff.txt"
    fi
}
products() { # how many versions of the component are installed (the most either view lists)
    local view most=0 count
    for view in $views; do
        count=$(win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$view |
            grep -c 'DisplayName.*QMXClicker')
        [ "$count" -gt "$most" ] && most=$count
    done
    echo "$most"
}
# on_path yes|no MACHINE|USER FOLDER: whether FOLDER is on that PATH, where the tools are.
on_path() {
    local key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment' found=no
    [ "$2" = USER ] && key='HKCU\Environment'
    win reg query "$key" /v PATH 2>/dev/null | grep -qiF "$3" && found=yes
    if [ "$found" = "$1" ]; then echo "ok   $3 on the $2 PATH: $1"; else fail "$3 on the $2 PATH: $found, not $1"; fi
}
# shortcut yes|no: whether the window's Start-menu shortcut is there.
shortcut() {
    local found=no
    [ -n "$(find "$WINEPREFIX/drive_c" -name 'QMXClicker Scanner.lnk' 2>/dev/null)" ] && found=yes
    if [ "$found" = "$1" ]; then echo "ok   the Start-menu shortcut to the window: $1"; else fail "the shortcut: $found, not $1"; fi
}
gone() { # gone FOLDER
    local dir
    dir=$(unix "$1")
    if [ -e "$dir" ]; then
        fail "$1 is left:"
        ls -R "$dir"
    fi
}

machine_folder="$program_files\\QMXClicker"
user_folder="$user_programs\\QMXClicker"

if [ "$arch" = x64 ] && part msiexec; then
    # The 32-bit packages refuse 64-bit Windows, naming the package to take. Wine's msiexec
    # shows the launch condition's message in no log under /qn, so the message is read
    # from the package and the refusal seen in what msiexec does.
    for scope in "" -user; do
        x86=QMXClicker-$version-x86$scope.msi
        cp "$build_folder/$x86" "$work/x86.msi"
        if "$wine" msiexec /i 'C:\msitest\x86.msi' /qn /l*v 'C:\msitest\x86.log'; then
            fail "$x86 installed on 64-bit Windows"
        elif ! grep -aq '^Property(S): VersionNT64 = ' "$work/x86.log" || grep -aq 'InstallFiles' "$work/x86.log" ||
            [ "$(products)" != 0 ]; then
            fail "$x86 was not refused by its launch condition:"
            cat "$work/x86.log"
        fi
        message=$(msiinfo export "$work/x86.msi" LaunchCondition | grep -a '^Installed OR NOT VersionNT64	' | cut -f2)
        if [[ "$message" == *"install QMXClicker-$version-x64$scope.msi"* ]]; then
            echo "ok   $x86 is refused on 64-bit Windows: $message"
        else
            fail "$x86: the launch condition's message does not name the x64 package: '$message'"
        fi
    done
    gone "$machine_folder"
    gone "$user_folder"
fi

echo "== per machine, $arch"
part wine32 && reference HKLM "$machine_folder" regsvr32_machine
# ---- the previous release, then this one over it ----
"$wine" msiexec /i 'C:\msitest\previous.msi' /qn || fail "msiexec /i previous.msi ($previous)"
[ "$(products)" = 1 ] || fail "$(products) products installed after the previous release"
cmp -s "$work/previous/files/qmxclicker.exe" "$(unix "$machine_folder")/qmxclicker.exe" ||
    fail "the previous release did not install its own qmxclicker.exe"
echo "== $version over $previous"
"$wine" msiexec /i 'C:\msitest\machine.msi' /qn || fail "msiexec /i machine.msi over $previous"
if [ "$(products)" = 1 ]; then echo "ok   one entry in the installed programs after the upgrade from $previous"
else fail "$(products) products installed after the upgrade from $previous"; fi
for f in QMXClicker.dll qmxclicker.exe qmxclickerw.exe; do
    if cmp -s "$build_folder/$f" "$(unix "$machine_folder")/$f"; then echo "ok   $version's $f in place"
    else fail "$f in $machine_folder is not $version's"; fi
done
"$wine" msiexec /i 'C:\msitest\rebuilt.msi' /qn
status=$?
# Windows refuses it with 1638 ("another version of this product is already installed");
# Wine 8's msiexec takes it as a repair of the installed product and exits 0. Either way
# nothing of it may land.
case $status in
    1638) echo "ok   another package of $version is refused (1638: another version of this product is installed)" ;;
    0) echo "ok   another package of $version: Wine's msiexec repairs the installed one instead of refusing (1638 on Windows)" ;;
    *) fail "another package of $version: msiexec exited $status, neither 1638 nor Wine's 0" ;;
esac
cmp -s "$build_folder/qmxclicker.exe" "$(unix "$machine_folder")/qmxclicker.exe" || fail "the refused package changed qmxclicker.exe"
[ "$(products)" = 1 ] || fail "$(products) products installed after the refused same-version package"
# ---- end of the previous release; the component is checked as installed below ----
dump HKLM machine
if part wine32; then
    same machine regsvr32_machine
    download "$machine_folder" "per machine"
fi
if part msiexec; then
    empty HKCU
    on_path yes MACHINE "$machine_folder"
    shortcut yes
    [ -f "$(unix "$machine_folder")/qmxclickerw.exe" ] || fail "no qmxclickerw.exe in $machine_folder"

    echo "== upgrade to $newer and back"
    "$wine" msiexec /i 'C:\msitest\newer.msi' /qn || fail "msiexec /i newer.msi"
    [ "$(products)" = 1 ] || fail "$(products) products installed after the upgrade"
    # The same keys as 2.0.0.2's, which the wine32 part compares with regsvr32's.
    dump HKLM upgraded
    same upgraded machine "the package before the upgrade"
    [ -f "$(unix "$machine_folder")/QMXClicker.dll" ] || fail "no QMXClicker.dll after the upgrade"
    on_path yes MACHINE "$machine_folder"
    if "$wine" msiexec /i 'C:\msitest\machine.msi' /qn; then fail "the older package installed over the newer"; else
        echo "ok   the older package is refused"; fi
    [ "$(products)" = 1 ] || fail "$(products) products installed after the refused downgrade"
    "$wine" msiexec /x 'C:\msitest\newer.msi' /qn || fail "msiexec /x newer.msi"
    empty HKLM
    gone "$machine_folder"
    on_path no MACHINE "$machine_folder"
    shortcut no
    [ "$(products)" = 0 ] || fail "a product is still installed"
else
    "$wine" msiexec /x 'C:\msitest\machine.msi' /qn || fail "msiexec /x machine.msi"
fi

echo "== per user, $arch"
part wine32 && reference HKCU "$user_folder" regsvr32_user /n /i:user
"$wine" msiexec /i 'C:\msitest\user.msi' /qn || fail "msiexec /i user.msi"
dump HKCU user
part wine32 && same user regsvr32_user
if part msiexec; then
    empty HKLM
    on_path yes USER "$user_folder"
    shortcut yes
fi
# No download here: Wine 8 looks classes up under HKLM only (a class registered per user
# by regsvr32 /n /i:user is not found either), so per-user hosts cannot be run under it.
"$wine" msiexec /x 'C:\msitest\user.msi' /qn || fail "msiexec /x user.msi"
if part msiexec; then
    empty HKCU
    gone "$user_folder"
    on_path no USER "$user_folder"
    shortcut no
fi

if [ "$failures" -eq 0 ]; then
    echo "msi $arch ($run_part): all checks passed"
fi
exit "$failures"
