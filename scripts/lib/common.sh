# Shared by scripts/test, scripts/demo and scripts/bench: packages, builds, Wine prefix.
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build="$root/build"
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake ninja-build g++ python3 googletest libgmock-dev libgtest-dev libbenchmark-dev clang
          libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 wine64-tools)

say() { printf '== %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever of the project's packages this machine lacks (one apt-get update).
ensure_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure NAME [cmake options...]: build/NAME, configured once.
configure() {
    local name=$1
    shift
    if [ ! -f "$build/$name/build.ninja" ]; then
        say "configuring $name"
        cmake -S "$root" -B "$build/$name" -G Ninja "$@" >/dev/null
    fi
}

# build_tree NAME [targets...]: everything, or just the targets named.
build_tree() {
    local name=$1
    shift
    say "building $name${*:+ ($*)}"
    cmake --build "$build/$name" -j "$jobs" ${*:+--target "$@"}
}

build_native() { configure native && build_tree native "$@"; }
build_win64() { configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" && build_tree win64 "$@"; }
build_win32() { configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" && build_tree win32 "$@"; }

# A Unix path as Wine's Windows programs see it (Wine maps drive Z: to /).
windows_path() {
    local full
    full=$(realpath -m "$1")
    printf 'Z:%s' "$full" | tr '/' '\\'
}

# The private Wine prefix of the win64 build, created on first use.
export WINEPREFIX="$build/win64/wineprefix"
export WINEDEBUG=-all
ensure_wineprefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        say "creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        # No Mono or Gecko: nothing here needs them, and their installers would ask.
        WINEDLLOVERRIDES="mscoree,mshtml=" "$wine64" wineboot -i >/dev/null 2>&1
        "$wineserver" -w
    fi
}

stop_wine() {
    [ -d "$WINEPREFIX" ] && "$wineserver" -k >/dev/null 2>&1 || true
}
