# Two clean builds of the same sources, in different folders and at different times,
# give byte-identical installers (and DLLs): each build is a fresh i686 tree of a copy of
# the checkout's tracked files, with the tools' libraries built anew in it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d /tmp/qmx-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$(command -v ccache || true)}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$CMAKE_C_COMPILER_LAUNCHER}
# The libraries' source packages downloaded once, for the checkout and both copies; each
# copy still builds the libraries itself, in its own folder.
export QMX_DEPS_SOURCES=${QMX_DEPS_SOURCES:-$root/build/deps/sources}

version=$(sed -n 's/^set(QMX_RELEASE_VERSION \([0-9.]*\))$/\1/p' "$root/CMakeLists.txt")
outputs="QMXClicker.dll"
for suffix in x86 x64 x86-user x64-user; do outputs="$outputs QMXClicker-$version-$suffix.msi"; done

build_copy() { # build_copy NAME: a copy of the tracked files, its installers built
    local copy="$work/$1"
    mkdir -p "$copy"
    (cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - --no-recursion) |
        tar -xf - -C "$copy"
    # Paths written relative to the copy, so that the compiler cache serves both.
    CCACHE_BASEDIR=$copy bash -c 'source "$1/scripts/lib/common.sh" && build_win32 qmx_packages' _ "$copy" \
        >"$work/$1.log" 2>&1
}

check "the first build" build_copy first
sleep 2 # another time of day for everything the second build writes
check "the second build, in another folder" build_copy second-in-another-folder
for name in $outputs; do
    check "$name is byte-identical in both builds" \
        cmp "$work/first/build/win32/$name" "$work/second-in-another-folder/build/win32/$name"
done
sha256sum "$work"/*/build/win32/*.msi | sed "s|$work/||"
finish
