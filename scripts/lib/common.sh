# Shared by scripts/test, scripts/demo, scripts/bench and scripts/fuzz: packages, builds,
# Wine prefix, fuzz runs, the libraries the tools link (deps.sh).
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build="$root/build"
jobs=$(nproc 2>/dev/null || echo 2)
# ctest's parallel jobs where it is not given -j (the emulated guest sets its own).
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$jobs}

# The emulated guest takes its shared folder on the kernel's command line (split at
# blanks) and in QEMU's options (split at commas), and Wine's tools and CMake's
# generated commands handle neither everywhere.
case $root in
    *[[:space:],]*)
        printf '== the repository is at "%s": its path must have no blanks or commas; clone it elsewhere\n' "$root" >&2
        exit 2
        ;;
esac

say() { printf '== %s\n' "$*" >&2; }

# The release's version (installers, tools, zip), set once in the top CMakeLists.txt; the
# DLL keeps its own in project().
release_version() { sed -n 's/^set(QMX_RELEASE_VERSION \([0-9.]*\))$/\1/p' "$root/CMakeLists.txt"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The Debian packages each kind of work needs; ensure_packages takes the kinds. The
# win32 tree also makes the installers, and its suites run the x86-64 surrogate client
# and a 64-bit prefix with its 32-bit side, so it needs wixl, both compilers and both
# Wines. Both Windows trees check their files with scripts/check_pe.py (Debian's python3
# with its pefile), and their tests run on a virtual X display (xvfb) for the window and
# read the tools' workbooks with openpyxl; dpkg-dev unpacks the libraries' source packages.
declare -A package_kinds=(
    [build]="cmake ninja-build g++ python3 googletest libgmock-dev libgtest-dev"
    [sanitize]="clang libclang-rt-14-dev"
    [bench]="libbenchmark-dev"
    [win64]="g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 wine64-tools python3-pefile python3-openpyxl xvfb dpkg-dev"
    [win32]="g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 wine64-tools wine32:i386 wixl msitools python3-pefile python3-openpyxl xvfb dpkg-dev"
    [emulator]="qemu-system-x86 e2fsprogs xz-utils"
    [sign]="osslsigncode openssl"
    [sign_pkcs11]="libengine-pkcs11-openssl"
)

# apt_update: once per command. A failed index (a mirror in the middle of a sync, say)
# is a warning: apt keeps the lists it has, and an install that needs the missing one
# fails on its own, with a message.
apt_updated=""
apt_update() {
    local log status=0
    log=$(mktemp)
    say "apt-get update"
    as_root apt-get update -q >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        apt_updated=partial
        say "WARNING: apt-get update exited $status; going on with the package lists there are:"
        grep -E '^(E|W|Err):' "$log" | sed 's/^/   /' >&2 || tail -n 5 "$log" >&2
    else
        apt_updated=complete
    fi
    rm -f "$log"
}

# apt_install LOG [apt-get options] PACKAGE...: installs, all output to LOG.
apt_install() {
    local log=$1
    shift
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" >>"$log" 2>&1
}

# ensure_packages KIND...: installs what this machine lacks of those kinds (all of them
# without arguments). An install that fails is tried once more after a new apt-get
# update; when the lists are still incomplete, once more from the release's own suite,
# where every architecture has the same versions (an i386 package cannot join amd64
# libraries that came from an update whose i386 index is missing). If that fails too,
# says which package cannot be installed and why, and returns 1.
ensure_packages() {
    local kinds=("$@") wanted=() missing=() p k log codename
    [ ${#kinds[@]} -ne 0 ] || kinds=("${!package_kinds[@]}")
    for k in "${kinds[@]}"; do
        [ -n "${package_kinds[$k]+set}" ] || { say "ensure_packages: no kind '$k'"; return 2; }
        # shellcheck disable=SC2206 # the lists are blank-separated names
        wanted+=(${package_kinds[$k]})
    done
    for p in "${wanted[@]}"; do
        [[ " ${missing[*]} " == *" $p "* ]] && continue
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
        apt_updated=""
    fi
    log=$(mktemp)
    [ -n "$apt_updated" ] || apt_update
    apt_install "$log" "${missing[@]}" && { rm -f "$log"; return 0; }
    say "the install failed; trying once more after a new apt-get update"
    apt_update
    apt_install "$log" "${missing[@]}" && { rm -f "$log"; return 0; }
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    if [ "$apt_updated" = partial ] && [ -n "$codename" ]; then
        say "trying once more from $codename's own suite (-t $codename), as the lists are incomplete"
        apt_install "$log" -t "$codename" "${missing[@]}" && { rm -f "$log"; return 0; }
    fi
    # Which of them cannot be had, and apt's own words for each.
    local blocked=()
    for p in "${missing[@]}"; do
        if ! as_root apt-get install -s -q --no-install-recommends ${codename:+-t "$codename"} "$p" >"$log.one" 2>&1; then
            blocked+=("$p")
            say "cannot install $p:"
            grep -E '^(E:| .* : Depends| +Depends)' "$log.one" | head -n 12 | sed 's/^/   /' >&2
        fi
    done
    if [ ${#blocked[@]} -eq 0 ]; then
        say "cannot install ${missing[*]}; apt-get said:"
        grep -E '^E:' "$log" | tail -n 8 | sed 's/^/   /' >&2
    fi
    rm -f "$log" "$log.one"
    say "FAILED: packages this command needs cannot be installed: ${blocked[*]:-${missing[*]}}"
    return 1
}

# configure NAME [cmake options...]: build/NAME with these options. The options go to
# CMake every time, so an existing tree picks up a change; CMake itself skips the work
# when nothing changed.
configure() {
    local name=$1
    shift
    [ -f "$build/$name/build.ninja" ] || say "configuring $name"
    cmake -S "$root" -B "$build/$name" -G Ninja "$@" >/dev/null
}

# build_tree NAME [targets...]: everything, or just the targets named.
build_tree() {
    local name=$1
    shift
    say "building $name${*:+ ($*)}"
    cmake --build "$build/$name" -j "$jobs" ${*:+--target "$@"}
}

build_native() { configure native && build_tree native "$@"; }
build_win64() {
    build_deps x86_64 &&
        configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DQMX_WINDOWS_ARCH=x86_64 \
            -DQMX_DEPS_PREFIX="$build/deps/x86_64" && build_tree win64 "$@"
}
# Under emulation the 32-bit prefixes live in the guest's memory (writing hundreds of
# megabytes back through the shared folder costs more than making them anew) and the tests
# get ten times their time limits.
emulated_wine32_prefix=/tmp/qmx-wine32/wineprefix
build_win32() {
    local scale=1 prefix="$build/win32/wineprefix"
    can_run_32bit || scale=10 prefix=$emulated_wine32_prefix
    build_deps i686 &&
        configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DQMX_WINDOWS_ARCH=i686 \
            -DQMX_TIMEOUT_SCALE=$scale -DQMX_WINEPREFIX="$prefix" -DQMX_DEPS_PREFIX="$build/deps/i686" &&
        build_tree win32 "$@"
}
# clang with AddressSanitizer and UndefinedBehaviorSanitizer: the unit tests and the fuzzers.
build_sanitize() {
    configure sanitize -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQMX_SANITIZE=ON -DQMX_FUZZ=ON &&
        build_tree sanitize "$@"
}
build_bench() {
    configure bench -DCMAKE_BUILD_TYPE=Release -DQMX_BENCH=ON -DBUILD_TESTING=OFF && build_tree bench "$@"
}

# Any sanitizer report ends the program with a failure.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Every fuzz/*_fuzzer.cpp is a target of that name (fuzz/CMakeLists.txt builds them so).
fuzz_targets=()
for source in "$root"/fuzz/*_fuzzer.cpp; do
    fuzz_targets+=("$(basename "$source" .cpp)")
done
unset source

# run_fuzzer TARGET SECONDS [keep]: fuzzes from a copy of fuzz/corpus/TARGET. A crash leaves
# its input in build/sanitize/fuzz-findings/. With keep, and no finding, the repository's
# corpus becomes the smallest set that covers all the run reached (keep_corpus), so later
# short runs start from there.
run_fuzzer() {
    local target=$1 seconds=$2 keep=${3:-} corpus findings="$build/sanitize/fuzz-findings"
    mkdir -p "$findings"
    corpus=$(mktemp -d)
    cp -r "$root/fuzz/corpus/$target/." "$corpus/"
    say "fuzzing $target for ${seconds}s"
    local status=0
    "$build/sanitize/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/$target-" "$corpus" >"$findings/$target.log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        rm -rf "$corpus"
        tail -n 40 "$findings/$target.log" >&2
        say "$target failed (exit $status); the log and the input are in $findings"
        return 1
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$findings/$target.log" | sed "s/^/   $target /" >&2 || true
    [ -z "$keep" ] || keep_corpus "$target" "$corpus" || status=$?
    rm -rf "$corpus"
    return "$status"
}

# keep_corpus TARGET FOLDER: merges FOLDER (-merge=1) into a fresh folder that starts with
# the corpus's named inputs (seeds and past findings, which always stay) and takes from
# the rest only inputs that add coverage; that folder replaces fuzz/corpus/TARGET.
keep_corpus() {
    local target=$1 found=$2 kept="$root/fuzz/corpus/$target" fresh status=0
    fresh=$(mktemp -d)
    find "$kept" -maxdepth 1 -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$fresh/" \;
    "$build/sanitize/fuzz/$target" -merge=1 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/sanitize/fuzz-findings/$target-" "$fresh" "$found" \
        >"$build/sanitize/fuzz-findings/$target.merge.log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
        local before
        before=$(find "$kept" -maxdepth 1 -type f | wc -l)
        find "$kept" -maxdepth 1 -type f -regex '.*/[0-9a-f]\{40\}' -delete
        cp "$fresh"/* "$kept/"
        say "   $target corpus: $before -> $(find "$kept" -maxdepth 1 -type f | wc -l) inputs in fuzz/corpus/$target"
    else
        say "merging the corpus of $target failed (exit $status); see $build/sanitize/fuzz-findings/$target.merge.log"
    fi
    rm -rf "$fresh"
    return "$status"
}

# A Unix path as Wine's Windows programs see it (Wine maps drive Z: to /).
windows_path() {
    local full
    full=$(realpath -m "$1")
    printf 'Z:%s' "$full" | tr '/' '\\'
}

# Wine for each Windows build: the loader and a private prefix in the build tree.
export WINEDEBUG=-all
# use_wine win32|win64: sets wine, wineserver, WINEARCH and WINEPREFIX for that build.
use_wine() {
    case $1 in
        win32) wine=/usr/lib/wine/wine wineserver=/usr/lib/wine/wineserver32 ;;
        win64) wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64 ;;
        *) say "no Wine for '$1'"; return 2 ;;
    esac
    export WINEARCH=$1 WINEPREFIX="$build/$1/wineprefix"
    [ "$1" != win32 ] || WINEPREFIX=${QMX_WINE32_PREFIX:-$WINEPREFIX}
}
use_wine win64

# The current prefix, created on first use. With QMX_PREFIX_TEMPLATES=FOLDER (the emulated
# guest sets it) a new prefix is a copy (scripts/lib/copy_prefix) of a fresh one of its
# WINEARCH kept in FOLDER, which the first prefix of that kind makes: there wineboot takes
# minutes, and the guest's suite makes three 32-bit and two 64-bit prefixes.
ensure_wineprefix() {
    [ ! -f "$WINEPREFIX/system.reg" ] || return 0
    if [ -z "${QMX_PREFIX_TEMPLATES:-}" ]; then
        new_wineprefix
        return
    fi
    local template="$QMX_PREFIX_TEMPLATES/$WINEARCH" lock status=0
    mkdir -p "$QMX_PREFIX_TEMPLATES"
    # One test makes the template while the others of its kind wait. Wine's processes
    # must not inherit the lock: the server outlives wineboot.
    exec {lock}>"$template.lock"
    flock "$lock"
    [ -f "$template/system.reg" ] || WINEPREFIX=$template new_wineprefix {lock}>&- || status=$?
    exec {lock}>&-
    [ "$status" -eq 0 ] || return "$status"
    say "copying the Wine prefix $template to $WINEPREFIX"
    python3 "$root/scripts/lib/copy_prefix" "$template" "$WINEPREFIX"
}
new_wineprefix() {
    say "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko: nothing here needs them, and their installers would ask.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >/dev/null 2>&1
    "$wineserver" -w
}

# finish_wineprefix: the EXIT trap of a test's own prefix. Ends its server; in the emulated
# guest, where every prefix lives in memory and is made anew each run, it also removes
# the prefix, so that the suite's prefixes (half a gigabyte to 1.3 GB each) fit there.
finish_wineprefix() {
    "$wineserver" -k >/dev/null 2>&1 || true
    if [ "${QMX_THROWAWAY_PREFIXES:-0}" = 1 ]; then
        "$wineserver" -w >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
}

# register_for_surrogate SERVER_FOLDER [HOST.exe...]: registers SERVER_FOLDER/QMXClicker.dll
# in $WINEPREFIX for 64-bit hosts that use it through the system surrogate, and sets
# surrogate_regsvr32 to the regsvr32 that unregisters it. An i686 server goes through the
# 32-bit regsvr32 (syswow64; needs wine32), as on 64-bit Windows. An x86-64 server (where
# no 32-bit program runs) goes through the 64-bit one, and stand-ins play the other
# bitness: the surrogate is the 64-bit dllhost.exe (for an empty DllSurrogate a 64-bit
# client starts syswow64's), and the HOSTs named cannot load the DLL in process.
clsid_clicker='{495F8079-B9C9-4CB4-B882-C4CF0E88C8FE}'
register_for_surrogate() {
    local dll=$1/QMXClicker.dll server wine=/usr/lib/wine/wine64 machine
    server=$(windows_path "$dll")
    shift
    machine=$("$root/scripts/check_pe.py" "$dll" --print-machine) || { say "cannot read $dll"; return 1; }
    case $machine in
        i386) surrogate_regsvr32='C:\windows\syswow64\regsvr32.exe' ;;
        amd64) surrogate_regsvr32=regsvr32 ;;
        *) say "$dll is for machine $machine, neither i386 nor amd64"; return 1 ;;
    esac
    "$wine" "$surrogate_regsvr32" /s "$server" || return 1
    [ "$surrogate_regsvr32" = regsvr32 ] || return 0
    "$wine" reg add "HKLM\\Software\\Classes\\AppID\\$clsid_clicker" /v DllSurrogate \
        /d 'C:\windows\system32\dllhost.exe' /f >/dev/null || return 1
    local host
    for host in "$@"; do
        "$wine" reg add "HKCU\\Software\\Wine\\AppDefaults\\$host\\DllOverrides" /v QMXClicker /d "" /f >/dev/null ||
            return 1
    done
}

# start_display: a virtual X server (Xvfb) for this command, DISPLAY set to it; without Xvfb
# DISPLAY is unset, and Wine opens no window. stop_display ends it.
display_server=""
start_display() {
    unset DISPLAY
    command -v Xvfb >/dev/null || { say "no Xvfb (package xvfb): the window tests will fail"; return 0; }
    local file
    file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$file" >/dev/null 2>&1 &
    display_server=$!
    local _
    for _ in $(seq 200); do [ -s "$file" ] && break; sleep 0.1; done
    [ -s "$file" ] && export DISPLAY=":$(cat "$file")" || say "Xvfb did not start: the window tests will fail"
    rm -f "$file"
}
stop_display() {
    [ -z "$display_server" ] || kill "$display_server" 2>/dev/null || true
}

stop_wine() {
    [ -d "$WINEPREFIX" ] && "$wineserver" -k >/dev/null 2>&1 || true
}

source "$root/scripts/lib/emulated.sh"
source "$root/scripts/lib/deps.sh"

# with_wine32 CMD [ARGS...]: runs CMD (a program of this tree that takes care of its own
# prefix, e.g. scripts/lib/in_wine) where the shipped 32-bit build runs: on this machine
# when it runs 32-bit programs, otherwise in an emulated guest with build/win32 writable.
# Fails, naming what is missing, when neither can be had; never skips.
with_wine32() {
    if can_run_32bit; then
        "$@"
        return
    fi
    if [ "${QMX_FORCE_EMULATED:-0}" = 1 ]; then
        say "running the 32-bit build in the emulated guest (QMX_FORCE_EMULATED=1)"
    else
        say "this machine cannot run 32-bit programs (the 32-bit Wine loader does not start); running the 32-bit build in an emulated guest"
    fi
    if ! emulated_prepare; then
        say "FAILED: neither 32-bit Wine nor the emulated guest (QEMU, Debian's kernel, busybox-static) is available"
        return 1
    fi
    export QMX_WINE32_PREFIX=$emulated_wine32_prefix
    run_emulated "$build/win32" "$@"
}
