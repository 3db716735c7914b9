# ensure_packages against a mirror in the middle of a sync: stand-ins for apt-get, dpkg
# and dpkg-query first on PATH. A failed apt-get update is a warning and the install goes
# on; a package that still cannot be installed is named, with apt's words.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
export STUB_LOG="$stubs/calls" STUB_BROKEN=""

cat >"$stubs/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$STUB_LOG"
case " $* " in
    *" update "*)
        echo "Err:4 http://mirror.invalid bookworm-security/main i386 Packages"
        echo "E: Failed to fetch http://mirror.invalid/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
        exit 100 ;;
esac
for p in $STUB_BROKEN; do
    if [[ " $* " == *" $p "* ]]; then
        echo "The following packages have unmet dependencies:"
        echo " $p : Depends: libprobe:i386 (= 2) but it is not going to be installed"
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
    fi
done
exit 0
STUB
printf '#!/bin/bash\necho i386\n' >"$stubs/dpkg"
printf '#!/bin/bash\n[[ " $* " == *" qmx-probe"* ]] && exit 1\necho "install ok installed"\n' >"$stubs/dpkg-query"
printf '#!/bin/bash\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*
export PATH="$stubs:$PATH"

# probe KIND...: ensure_packages in a fresh shell with the stand-ins; its messages in
# $stubs/said, its status returned.
probe() {
    : >"$STUB_LOG"
    bash -c 'source "$1/../../scripts/lib/common.sh"
             package_kinds[probe]="qmx-probe qmx-probe2:i386"
             ensure_packages probe' _ "$here" >"$stubs/out" 2>"$stubs/said"
}

probe
status=$?
check "a failed apt-get update does not stop the install" test "$status" -eq 0
check "the warning names the index that failed" grep -q "WARNING: apt-get update exited 100" "$stubs/said"
check "and shows apt's words" grep -q "Mirror sync in progress" "$stubs/said"
check "the missing packages are installed" grep -q "install .*qmx-probe qmx-probe2:i386" "$STUB_LOG"

STUB_BROKEN="qmx-probe2:i386" probe
status=$?
check "a package that cannot be installed fails the call" test "$status" -eq 1
check "after one more apt-get update" test "$(grep -c ' update' "$STUB_LOG")" -eq 2
check "and an install from the release's own suite" grep -q "install .*-t " "$STUB_LOG"
check "the message names the package" grep -q "cannot install qmx-probe2:i386" "$stubs/said"
check "with apt's reason" grep -q "Depends: libprobe:i386" "$stubs/said"
check "and not the one that can be installed" bash -c '! grep -q "cannot install qmx-probe:" "$0"' "$stubs/said"
finish
