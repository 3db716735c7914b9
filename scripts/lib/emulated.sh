# Runs commands in a QEMU guest with software CPU emulation, for machines whose kernel
# refuses 32-bit programs (the i686 build's suites need the 32-bit Wine loader). The
# guest boots from this machine's own files: Debian's kernel (downloaded and unpacked
# here, not installed), a small busybox initramfs whose init is emulated-init.sh, and
# this machine's / shared read-only over virtio-9p under a throwaway tmpfs overlay. One
# folder of the caller's is shared writable at its own path: the job writes into a tmpfs
# overlay on it, and emulated-copyback.sh writes the changes back when the job ends;
# emulated-job.sh runs the command. Sourced by common.sh, which defines root, build, say
# and as_root.
# shellcheck shell=bash disable=SC2154 # root and build: common.sh sets them.

# 0 when this machine runs the 32-bit Wine loader itself (the i686 build's suites need
# it) and QMX_FORCE_EMULATED=1 does not ask for the emulator anyway.
can_run_32bit() {
    [ "${QMX_FORCE_EMULATED:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
    return 1
}

# QMX_EMULATOR_DIR: where the guest's kernel and initramfs are kept (build/emulator).
emulator_dir() { printf '%s' "${QMX_EMULATOR_DIR:-$build/emulator}"; }

# The guest's processors: QMX_EMULATED_CPUS, or one per core here up to four (each is a
# thread of QEMU's; more than the cores would only slow every one of them). The guest
# works out its own parallel jobs from what it has (emulated-job.sh).
emulated_cpus() {
    local n=${QMX_EMULATED_CPUS:-$(nproc 2>/dev/null || echo 2)}
    [ -n "${QMX_EMULATED_CPUS:-}" ] || [ "$n" -le 4 ] || n=4
    printf '%s' "$n"
}

# Modules the init loads, each after what it depends on (see emulated_module_order):
# 9p and overlay for the root and the share; loop and ext4 (whose checksums need
# crc32c_generic, a dependency modules.dep does not list) for a /tmp that keeps Wine's
# file attributes in extended attributes, as tmpfs does not.
emulated_modules=(virtio_pci 9pnet_virtio 9p overlay loop crc32c_generic ext4)

# Installs QEMU and builds, once, the kernel and initramfs under build/emulator.
# The initramfs is built again whenever its init script or module list changes. Every
# step is checked (callers may run this where set -e is off), and the stamp that marks
# the initramfs as good is written last.
emulated_prepare() {
    local dir init stamp
    dir=$(emulator_dir)
    init="$root/scripts/lib/emulated-init.sh"
    if ! command -v qemu-system-x86_64 >/dev/null || ! command -v mkfs.ext4 >/dev/null; then
        ensure_packages emulator || return 1
        hash -r
        command -v qemu-system-x86_64 >/dev/null ||
            { say "qemu-system-x86 is installed, yet there is no qemu-system-x86_64 on PATH"; return 1; }
    fi
    stamp="$(sha256sum <"$init" | cut -d' ' -f1) ${emulated_modules[*]}"
    if [ -f "$dir/vmlinux" ] && [ -f "$dir/initrd.cpio" ] && [ "$(cat "$dir/initrd.stamp" 2>/dev/null)" = "$stamp" ]; then
        return 0
    fi
    mkdir -p "$dir" || return 1
    rm -f "$dir/initrd.stamp"
    if [ ! -f "$dir/vmlinux" ] || [ ! -d "$dir/kernel/lib/modules" ] || [ ! -x "$dir/busybox/bin/busybox" ]; then
        emulated_fetch "$dir" || { say "cannot prepare the guest's kernel and busybox"; return 1; }
    fi
    emulated_initramfs "$dir" "$init" || { say "cannot build the guest's initramfs"; return 1; }
    printf '%s\n' "$stamp" >"$dir/initrd.stamp"
}

# The versioned kernel package that the linux-image-amd64 meta package points at.
emulated_kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | awk 'NR == 1'
}

# emulated_fetch DIR: Debian's kernel and busybox-static, unpacked into DIR (this
# machine's own kernel and packages stay as they are), and an uncompressed vmlinux.
emulated_fetch() {
    local dir=$1 kernel_package attempt
    rm -rf "$dir/debs" "$dir/kernel" "$dir/busybox"
    mkdir -p "$dir/debs"
    # A second attempt after apt-get update: the package lists may be missing, or so
    # old that they name a kernel the mirror no longer has.
    for attempt in 1 2; do
        [ "$attempt" = 1 ] || as_root apt-get update -q >&2
        kernel_package=$(emulated_kernel_package)
        [ -n "$kernel_package" ] || continue
        say "downloading $kernel_package and busybox-static"
        # As root, apt warns that its sandbox user cannot write here; it need not.
        (cd "$dir/debs" && apt-get download -q -o APT::Sandbox::User=root "$kernel_package" busybox-static) >&2 &&
            break
        kernel_package=
    done
    [ -n "$kernel_package" ] || { say "cannot download a linux-image-*-amd64 package"; return 1; }
    dpkg-deb -x "$dir"/debs/linux-image-*.deb "$dir/kernel" &&
        dpkg-deb -x "$dir"/debs/busybox-static_*.deb "$dir/busybox" ||
        { say "cannot unpack the downloaded packages in $dir/debs"; return 1; }
    rm -rf "$dir/debs"

    # QEMU boots an uncompressed ELF kernel directly through its PVH entry; decompressing
    # the bzImage under emulation would cost many seconds on every boot.
    local vmlinuz offset
    vmlinuz=$(find "$dir/kernel/boot" -name 'vmlinuz-*' | awk 'NR == 1')
    offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | awk -F: 'NR == 1 { print $1 }')
    [ -n "$offset" ] || { say "no xz payload in $vmlinuz"; return 1; }
    # --single-stream: the bzImage goes on after the payload; that is not an error.
    tail -c +"$((offset + 1))" "$vmlinuz" >"$dir/payload.xz" &&
        xz -dc --single-stream "$dir/payload.xz" >"$dir/vmlinux.new" ||
        { say "cannot unpack the kernel's payload from $vmlinuz"; rm -f "$dir/payload.xz"; return 1; }
    rm -f "$dir/payload.xz"
    [ "$(od -An -c -N 4 "$dir/vmlinux.new" | tr -d ' ')" = '177ELF' ] ||
        { say "the kernel's payload is not an ELF file"; return 1; }
    mv "$dir/vmlinux.new" "$dir/vmlinux"
}

# emulated_module_order KERNEL_ROOT VERSION MODULE...: the paths (relative to
# lib/modules/VERSION) to insmod, each after everything it depends on.
emulated_module_order() {
    local base="$1/lib/modules/$2" line name
    shift 2
    [ -f "$base/modules.dep" ] || { say "no modules.dep in $base"; return 1; }
    local -A deps=() path=() seen=()
    while IFS= read -r line; do
        name=${line%%:*}
        name=${name##*/}
        name=${name%.ko*}
        name=${name//-/_}
        path[$name]=${line%%:*}
        deps[$name]=${line#*:}
    done <"$base/modules.dep"
    _emulated_visit() {
        local m=${1//-/_} d
        [ -z "${seen[$m]:-}" ] || return 0
        seen[$m]=1
        [ -n "${path[$m]:-}" ] || { say "no module $m in $base"; return 1; }
        for d in ${deps[$m]}; do
            d=${d##*/}
            _emulated_visit "${d%.ko*}" || return 1
        done
        printf '%s\n' "${path[$m]}"
    }
    local m
    for m in "$@"; do _emulated_visit "$m" || return 1; done
}

# emulated_initramfs DIR INIT: DIR/initrd.cpio with busybox, the modules and INIT.
emulated_initramfs() {
    local dir=$1 init=$2 version stage busybox m
    version=$(find "$dir/kernel/lib/modules" -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | awk 'NR == 1')
    busybox="$dir/busybox/bin/busybox"
    [ -n "$version" ] && [ -x "$busybox" ] || { say "no kernel modules or no busybox in $dir"; return 1; }
    # The package ships no modules.dep (its postinst makes it); busybox makes one.
    [ -f "$dir/kernel/lib/modules/$version/modules.dep" ] || "$busybox" depmod -b "$dir/kernel" "$version" ||
        { say "busybox depmod failed for kernel $version"; return 1; }
    say "building the initramfs (kernel $version)"
    stage="$dir/initrd.stage"
    rm -rf "$stage"
    mkdir -p "$stage"/{bin,dev,proc,sys,lib/modules} && cp "$busybox" "$stage/bin/busybox" || return 1
    for m in $("$busybox" --list); do
        [ "$m" = busybox ] || ln -s busybox "$stage/bin/$m" || return 1
    done
    emulated_module_order "$dir/kernel" "$version" "${emulated_modules[@]}" >"$stage/modules.load" ||
        { say "cannot order the guest's kernel modules"; return 1; }
    while read -r m; do
        mkdir -p "$stage/lib/modules/$(dirname "$m")" &&
            cp "$dir/kernel/lib/modules/$version/$m" "$stage/lib/modules/$m" || return 1
    done <"$stage/modules.load"
    install -m 755 "$init" "$stage/init" || return 1
    # Uncompressed: a few MiB, and nothing to inflate under emulation.
    (cd "$stage" && find . -mindepth 1 | "$busybox" cpio -o -H newc) >"$dir/initrd.cpio.new" 2>/dev/null &&
        mv "$dir/initrd.cpio.new" "$dir/initrd.cpio" || { say "cannot write $dir/initrd.cpio"; return 1; }
    rm -rf "$stage"
}

# run_emulated SHARE_DIR CMD [ARGS...]: runs CMD in the guest, in the caller's folder,
# with the caller's WINE*, QMX_*, LANG, LC_ALL, HOME and PATH. SHARE_DIR (created if
# missing) is writable at its own path: what the job creates, changes or deletes there
# reaches this machine when the job ends (not if the guest dies first), and nothing
# else may change SHARE_DIR meanwhile (the guest caches what it read, and a second guest
# on the same folder would undo the first one's work). The rest of / reads as here,
# except /tmp, /run and /dev/shm, which start empty in the guest (/tmp on ext4, which
# keeps extended attributes); the repository and the caller's folder are seen there
# even when they lie under one of those. What the job changes outside the share is
# discarded.
# Prints the job's output when the guest ends and returns its exit code, or non-zero
# with the end of the console log if the guest left no exit code.
# emulated-job.sh runs CMD in the guest; it reads QMX_EMULATED_PREFETCH (files to read
# ahead) and QMX_EMULATED_WINESERVER=1 (one persistent wineserver around CMD).
# QMX_EMULATED_TIMEOUT (seconds, 3600), QMX_EMULATED_MEMORY (MiB, 8192) and
# QMX_EMULATED_CPUS (see emulated_cpus) size the guest.
run_emulated() {
    local share=$1
    shift
    emulated_prepare || return 1
    mkdir -p "$share" || return 1
    share=$(realpath "$share")
    # The kernel command line splits on blanks and QEMU's options on commas; / itself is
    # the read-only root.
    case $share in
        / | *[[:space:],]*) say "run_emulated: cannot share $share (no blanks or commas, not /)"; return 2 ;;
    esac
    local dir job name status=0 started seconds path
    dir=$(emulator_dir)
    job=$(mktemp -d "$share/.emulated.XXXXXX") || return 1
    # Folders under the guest's own /tmp, /run and /dev/shm that it must see as here: the
    # repository (its scripts and the sources its tests read) and the caller's folder.
    for path in "$root" "$PWD"; do
        case $path in
            /tmp/?* | /run/?* | /dev/shm/?*) printf '%s\n' "$path" ;;
        esac
    done >"$job/see"
    {
        echo '#!/bin/bash'
        echo '# Written by run_emulated (scripts/lib/emulated.sh) for one run in the guest.'
        while IFS= read -r name; do
            case $name in
                WINE* | QMX_* | LANG | LC_ALL | HOME | PATH) printf 'export %s=%q\n' "$name" "${!name}" ;;
            esac
        done < <(compgen -e)
        printf 'cd %q 2>/dev/null || { echo "the guest cannot see %q; running in %q" >&2; cd %q; } || exit 125\n' \
            "$PWD" "$PWD" "$share" "$share"
        printf 'exec /bin/bash %q' "$job/emulated-job.sh"
        printf ' %q' "$@"
        echo
    } >"$job/job.sh"
    # Copies beside it: the guest's fresh /tmp would hide a repository under /tmp.
    cp "$root/scripts/lib/emulated-job.sh" "$root/scripts/lib/emulated-copyback.sh" "$job/"

    # One guest at a time on this machine: each takes QMX_EMULATED_MEMORY and both CPUs,
    # so a second one would only starve the first against its time limits.
    local lock
    exec {lock}>>"${QMX_EMULATED_LOCK:-/run/lock/qmx-emulated.lock}"
    flock -n "$lock" || { say "waiting for another emulated guest to end"; flock "$lock"; }
    say "running in the emulator: $*"
    started=$(date +%s)
    # -cpu max,-smap: with SMAP, QEMU 7.2 faults on every return to 32-bit user code.
    # Never KVM, even where /dev/kvm exists: it is a nested hypervisor that cannot boot
    # this kernel. multidevs=remap: / spans several file systems, whose inode numbers
    # could otherwise clash in the guest.
    timeout --kill-after=30 "${QMX_EMULATED_TIMEOUT:-3600}" qemu-system-x86_64 \
        -accel tcg,thread=multi -cpu max,-smap -smp "$(emulated_cpus)" -m "${QMX_EMULATED_MEMORY:-8192}" \
        -no-user-config -nodefaults -display none -monitor none -no-reboot \
        -serial "file:$job/console.log" \
        -kernel "$dir/vmlinux" -initrd "$dir/initrd.cpio" \
        -append "console=ttyS0 quiet panic=-1 qmx.share=$share qmx.job=$job" \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$share,mount_tag=share,security_model=none,multidevs=remap" \
        -virtfs "local,path=$share,mount_tag=shareout,security_model=none,multidevs=remap" \
        </dev/null >"$job/qemu.log" 2>&1 || status=$?
    seconds=$(($(date +%s) - started))
    exec {lock}>&-

    [ ! -f "$job/output" ] || cat "$job/output"
    cp "$job/console.log" "$dir/last-console.log" 2>/dev/null || true
    if [ -f "$job/status" ]; then
        status=$(cat "$job/status")
        say "the emulated job ended with exit code $status after ${seconds}s"
    else
        if [ "$status" -eq 124 ]; then
            say "the guest was stopped after ${QMX_EMULATED_TIMEOUT:-3600}s (QMX_EMULATED_TIMEOUT); the end of its console:"
        else
            say "the guest left no exit code (QEMU's exit code $status after ${seconds}s); the end of its console:"
        fi
        tail -n 40 "$job/qemu.log" "$job/console.log" >&2 || true
        [ "$status" -ne 0 ] || status=125
    fi
    rm -rf "$job"
    return "$status"
}
