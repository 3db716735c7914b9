# How the Windows tests are run, apart from Wine itself: copy_prefix (the emulated guest's
# prefixes from a template) and skipped_tests reading a tree tested in two runs.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
lib="$here/../../scripts/lib"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A template with what a prefix holds: registry files at the top, programs and libraries
# in system32 and syswow64 (some with other suffixes), an ini file beside them, the
# dosdevices links, a file with Wine's DOS attribute and a folder with its own mode.
t=$work/template
mkdir -p "$t/dosdevices" "$t/drive_c/windows/system32/drivers" "$t/drive_c/windows/syswow64" "$t/drive_c/users/root"
echo registry >"$t/system.reg"
echo user >"$t/user.reg"
echo pe >"$t/drive_c/windows/system32/kernel32.dll"
echo pe >"$t/drive_c/windows/system32/drivers/null.sys"
echo pe >"$t/drive_c/windows/syswow64/REGSVR32.EXE"
echo text >"$t/drive_c/windows/system32/catroot.txt"
echo ini >"$t/drive_c/windows/win.ini"
echo pe >"$t/drive_c/windows/notepad.exe"
ln -s ../drive_c "$t/dosdevices/c:"
ln -s / "$t/dosdevices/z:"
chmod 700 "$t/drive_c/users/root"
touch -d 2001-01-01 "$t/user.reg"
xattr_set=no
python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.DOSATTRIB", b"0x6")' "$t/drive_c/windows/win.ini" 2>/dev/null &&
    xattr_set=yes

python3 "$lib/copy_prefix" "$t" "$work/copy"
status=$?
c=$work/copy
same_inode() { [ "$(stat -c %i "$t/$1")" = "$(stat -c %i "$c/$1")" ]; }
copied() { [ -f "$c/$1" ] && ! same_inode "$1" && cmp -s "$t/$1" "$c/$1"; }
check "copy_prefix succeeds" test "$status" -eq 0
mkdir "$work/empty"
check "copy_prefix fills an empty folder" python3 "$lib/copy_prefix" "$t" "$work/empty"
while read -r kind file; do
    case $kind in
        linked) check "$file is a hard link to the template's" same_inode "$file" ;;
        copied) check "$file is a copy of its own" copied "$file" ;;
    esac
done <<'TABLE'
linked drive_c/windows/system32/kernel32.dll
linked drive_c/windows/system32/drivers/null.sys
linked drive_c/windows/syswow64/REGSVR32.EXE
copied drive_c/windows/system32/catroot.txt
copied drive_c/windows/win.ini
copied drive_c/windows/notepad.exe
copied system.reg
copied user.reg
TABLE
check "dosdevices/c: stays a relative link" test "$(readlink "$c/dosdevices/c:")" = ../drive_c
check "dosdevices/z: stays a link to /" test "$(readlink "$c/dosdevices/z:")" = /
check "a folder keeps its mode" test "$(stat -c %a "$c/drive_c/users/root")" = 700
check "a file keeps its time" test "$(stat -c %Y "$c/user.reg")" = "$(stat -c %Y "$t/user.reg")"
if [ "$xattr_set" = yes ]; then
    check "a file keeps Wine's DOS attribute" test "$(python3 -c 'import os, sys; print(os.getxattr(sys.argv[1], "user.DOSATTRIB").decode())' "$c/drive_c/windows/win.ini")" = 0x6
fi
while read -r why template target; do
    python3 "$lib/copy_prefix" "$template" "$target" >/dev/null 2>&1
    check "copy_prefix refuses $why" test $? -ne 0
done <<TABLE
a-folder-that-is-no-prefix $t/drive_c $work/other
a-prefix-that-exists $t $c
TABLE

# skipped_tests: a tree whose tests ran in two runs lists the skips of both, each once.
tree=$work/win32 logs=$work/win32/Testing/Temporary
mkdir -p "$logs"
skipped_log() { # skipped_log TEST CASE REASON
    printf '1/1 Test: %s\n[ RUN      ] %s\nfile.cpp(1): Skipped\n%s\n[  SKIPPED ] %s (0 ms)\n' "$1" "$2" "$3" "$2"
}
skipped_log msi_x64 Msi.Here "no msitools" >"$logs/LastTest-wine64.log"
{ skipped_log com_tests Com.Guest "no surrogate"; skipped_log com_tests Com.Guest "no surrogate"; } >"$logs/LastTest.log"
skipped_log stale Stale.Case "not a log of this run" >"$logs/LastTestsFailed.log"
listed=$(python3 "$lib/skipped_tests" "$tree")
check "the guest run's skips are listed" grep -qx 'win32: com_tests: Com.Guest: no surrogate' <<<"$listed"
check "the run here's skips are listed" grep -qx 'win32: msi_x64: Msi.Here: no msitools' <<<"$listed"
check "each skip once" test "$(wc -l <<<"$listed")" -eq 2
finish
