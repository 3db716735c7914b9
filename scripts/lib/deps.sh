# The libraries the tools link statically, zlib and libxlsxwriter, built for the MinGW
# targets from Debian's own source packages of this release. Sourced by common.sh, which
# defines root, build, say, as_root and apt_update.
# shellcheck shell=bash disable=SC2154 # root and build: common.sh sets them.

# The exact source versions: a refresh changes them here (docs/developer-guide.md).
declare -A dep_versions=(
    [zlib]="1:1.2.13.dfsg-1"
    [libxlsxwriter]="1.1.4-2"
)
# Downloaded source packages (.dsc and its tarballs), kept so a rebuild needs no network.
# QMX_DEPS_SOURCES may point elsewhere (the reproducible test shares one between trees).
dep_sources=${QMX_DEPS_SOURCES:-$build/deps/sources}

# ensure_deb_src: apt knows the source packages of the release: when it does not, a
# deb-src twin of every deb entry of the release goes into
# /etc/apt/sources.list.d/qmx-deb-src.sources and the lists are updated.
ensure_deb_src() {
    apt-cache showsrc zlib 2>/dev/null | grep '^Package:' >/dev/null && return 0
    local file=/etc/apt/sources.list.d/qmx-deb-src.sources text
    text=$(/usr/bin/python3 - <<'EOF'
import glob, os, re

codename = ""
with open("/etc/os-release") as f:
    for line in f:
        if line.startswith("VERSION_CODENAME="):
            codename = line.split("=", 1)[1].strip().strip('"')
stanzas = []
# One-line entries: deb [options] URI SUITE COMPONENTS...
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    if not os.path.exists(path):
        continue
    for line in open(path):
        m = re.match(r"\s*deb\s+(\[[^]]*\]\s+)?(\S+)\s+(\S+)\s+(.+)", line.split("#")[0])
        if m and m.group(3).startswith(codename):
            signed = re.search(r"signed-by=(\S+?)\]?(\s|$)", m.group(1) or "")
            stanzas.append({"URIs": m.group(2), "Suites": m.group(3), "Components": m.group(4).strip(),
                            "Signed-By": signed.group(1) if signed else ""})
# deb822 entries
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    if path.endswith("/qmx-deb-src.sources"):
        continue
    for block in re.split(r"\n\s*\n", open(path).read()):
        fields = {}
        for line in block.splitlines():
            if line.startswith("#") or ":" not in line or line[0].isspace():
                continue
            key, value = line.split(":", 1)
            fields[key.strip()] = value.strip()
        suites = [s for s in fields.get("Suites", "").split() if s.startswith(codename)]
        if "deb" in fields.get("Types", "").split() and suites and fields.get("Enabled", "yes") != "no":
            stanzas.append({"URIs": fields["URIs"], "Suites": " ".join(suites),
                            "Components": fields.get("Components", "main"), "Signed-By": fields.get("Signed-By", "")})
out = []
for s in stanzas:
    out.append("Types: deb-src\n" + "".join("%s: %s\n" % (k, v) for k, v in s.items() if v))
print("\n".join(out), end="")
EOF
    ) || return 1
    if [ -z "$text" ]; then
        say "no deb entry of this release in /etc/apt: cannot add its deb-src twin"
        return 1
    fi
    text="# Source packages for QMXClicker's libraries (scripts/lib/deps.sh)"$'\n'"$text"
    if [ "$(cat "$file" 2>/dev/null)" != "$text" ]; then
        say "adding deb-src entries: $file"
        printf '%s\n' "$text" | as_root tee "$file" >/dev/null || return 1
    fi
    apt_update
    apt-cache showsrc zlib 2>/dev/null | grep '^Package:' >/dev/null ||
        { say "apt still knows no source packages after adding $file"; return 1; }
}

# dep_dsc NAME: the source package's description file, in $dep_sources/NAME-VERSION.
dep_dsc() {
    local version=${dep_versions[$1]#*:}
    printf '%s' "$dep_sources/$1-$version/$1_$version.dsc"
}

# fetch_dep NAME: the source package's files in $dep_sources/NAME-VERSION, downloaded
# (checked by apt against the signed lists) when missing.
fetch_dep() {
    local name=$1 version=${dep_versions[$1]} folder
    folder=$(dirname "$(dep_dsc "$name")")
    [ -f "$folder/.complete" ] && return 0
    ensure_deb_src || return 1
    say "downloading the source package $name $version"
    rm -rf "$folder" && mkdir -p "$folder"
    (cd "$folder" && apt-get source -q --download-only -o APT::Sandbox::User=root "$name=$version" >download.log 2>&1) || {
        sed 's/^/   /' "$folder/download.log" >&2
        say "cannot download the source package $name $version"
        return 1
    }
    touch "$folder/.complete"
}

# The flags every library is compiled with: the same bytes from any folder and at any time.
dep_cflags() { # dep_cflags SOURCE BUILD
    printf '%s' "-O2 -ffile-prefix-map=$1=/deps/src -ffile-prefix-map=$2=/deps/build"
}

# build_zlib TRIPLET WORK PREFIX: the static library from the sources alone (the
# source package drops zlib's own Windows makefile).
build_zlib() {
    local triplet=$1 work=$2 prefix=$3 src="$2/zlib" objects=() c
    dpkg-source -q -x "$(dep_dsc zlib)" "$src" >>"$work/zlib.log" 2>&1 || return 1
    mkdir -p "$work/zlib-build"
    for c in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees \
        trees uncompr zutil; do
        # shellcheck disable=SC2046 # the flags are words (the checkout's path has no blanks)
        "$triplet-gcc-posix" $(dep_cflags "$src" "$work/zlib-build") -c "$src/$c.c" \
            -o "$work/zlib-build/$c.o" >>"$work/zlib.log" 2>&1 || return 1
        objects+=("$work/zlib-build/$c.o")
    done
    "$triplet-ar" rcsD "$prefix/lib/libz.a" "${objects[@]}" &&
        cp "$src/zlib.h" "$src/zconf.h" "$prefix/include/"
}

# build_libxlsxwriter ARCH TRIPLET WORK PREFIX: its own CMake build, static, against
# that zlib; numbers written the same in every locale (its dtoa), no MD5 (for images only).
build_libxlsxwriter() {
    local arch=$1 triplet=$2 work=$3 prefix=$4 src="$3/xlsx" out="$3/xlsx-build"
    dpkg-source -q -x "$(dep_dsc libxlsxwriter)" "$src" >>"$work/xlsx.log" 2>&1 &&
        cmake -S "$src" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$arch" \
            -DCMAKE_C_COMPILER="$triplet-gcc-posix" -DCMAKE_CXX_COMPILER="$triplet-g++-posix" \
            -DCMAKE_RC_COMPILER="$triplet-windres" \
            -DCMAKE_AR="/usr/bin/$triplet-ar" -DCMAKE_RANLIB="/usr/bin/$triplet-ranlib" \
            -DCMAKE_C_ARCHIVE_CREATE="<CMAKE_AR> qcD <TARGET> <OBJECTS>" \
            -DCMAKE_C_ARCHIVE_FINISH="<CMAKE_RANLIB> -D <TARGET>" \
            -DCMAKE_C_FLAGS_RELEASE="$(dep_cflags "$src" "$out") -DNDEBUG" \
            -DCMAKE_FIND_ROOT_PATH="$prefix;/usr/$triplet" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
            -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
            -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include" \
            -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
            -DUSE_DTOA_LIBRARY=ON -DUSE_NO_MD5=ON \
            -DCMAKE_INSTALL_PREFIX="$prefix" >>"$work/xlsx.log" 2>&1 &&
        cmake --build "$out" >>"$work/xlsx.log" 2>&1 &&
        cmake --install "$out" >>"$work/xlsx.log" 2>&1
}

# build_deps ARCH (i686 or x86_64): zlib and libxlsxwriter installed in build/deps/ARCH
# (include/, lib/), each built once for its version; says what it does.
build_deps() {
    local arch=$1 triplet=$1-w64-mingw32 prefix="$build/deps/$1" stamp work
    stamp="zlib ${dep_versions[zlib]}; libxlsxwriter ${dep_versions[libxlsxwriter]}; build 1"
    [ "$(cat "$prefix/.built" 2>/dev/null)" = "$stamp" ] && return 0
    command -v dpkg-source >/dev/null || { say "dpkg-source (package dpkg-dev) is missing"; return 1; }
    fetch_dep zlib && fetch_dep libxlsxwriter || return 1
    say "building zlib and libxlsxwriter for $triplet"
    rm -rf "$prefix" && mkdir -p "$prefix/include" "$prefix/lib"
    work=$(mktemp -d "$build/deps/work-$arch.XXXXXX")
    if ! SOURCE_DATE_EPOCH=0 build_zlib "$triplet" "$work" "$prefix" ||
        ! SOURCE_DATE_EPOCH=0 build_libxlsxwriter "$arch" "$triplet" "$work" "$prefix"; then
        tail -n 20 "$work"/*.log >&2
        say "building the libraries for $triplet failed; the logs are in $work"
        return 1
    fi
    rm -rf "$work"
    printf '%s\n' "$stamp" >"$prefix/.built"
}
