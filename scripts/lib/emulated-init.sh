#!/bin/sh
# /init of the initramfs that scripts/lib/emulated.sh boots under QEMU. Runs under the
# static busybox: the root is this machine's / (read-only over virtio-9p) with a tmpfs
# overlay on top, plus one writable share at its own path. It runs the job written into
# the share, leaves its output and exit code there and powers off.
#
# Kernel command line: qmx.share=PATH (the share's path on the machine and in the guest)
# and qmx.job=PATH (the job's folder inside the share, holding job.sh).
#
# 9p tags: hostroot (the machine's /, read-only), share and shareout (both the share).
export PATH=/bin

fail() {
    echo "emulated-init: $*" >&2
    poweroff -f
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

# Listed dependencies first, by emulated_prepare.
while read -r module; do
    insmod "/lib/modules/$module" || fail "cannot load $module"
done </modules.load

share='' job=''
read -r cmdline </proc/cmdline
for word in $cmdline; do
    case $word in
        qmx.share=*) share=${word#qmx.share=} ;;
        qmx.job=*) job=${word#qmx.job=} ;;
    esac
done
if [ -z "$share" ] || [ -z "$job" ]; then fail "qmx.share= and qmx.job= are needed"; fi

# msize: the larger the message, the fewer round trips (each one is slow under
# emulation). cache=loose: the guest keeps what it read, as nothing may change these
# files on the machine while a job runs; cache=none: writes go out in msize pieces (a
# cached mount writes back page by page: about 7 MB/s here, against about 45 MB/s).
opts=trans=virtio,version=9p2000.L,msize=512000
mount_9p() { # TAG DIR OPTIONS: the virtio device may still be settling; retry briefly.
    tries=0
    until mount -t 9p -o "$opts,$3" "$1" "$2"; do
        tries=$((tries + 1))
        [ "$tries" -lt 20 ] || return 1
        sleep 0.2
    done
}

mkdir -p /lower /rw /newroot
mount_9p hostroot /lower ro,cache=loose || fail "cannot mount the machine's / (9p tag hostroot)"
# Every change to the root lands in this tmpfs and is gone at power-off.
mount -t tmpfs -o mode=755 tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work /newroot ||
    fail "cannot mount the overlay root"

r=/newroot
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
mount -t devtmpfs devtmpfs $r/dev
# What udev would add, and bash's process substitution needs.
ln -s /proc/self/fd $r/dev/fd
ln -s /proc/self/fd/0 $r/dev/stdin
ln -s /proc/self/fd/1 $r/dev/stdout
ln -s /proc/self/fd/2 $r/dev/stderr
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts $r/dev/pts
mount -t tmpfs -o mode=1777 tmpfs $r/dev/shm
mount -t tmpfs -o mode=755 tmpfs $r/run
# /tmp, where the 32-bit Wine prefixes live, is ext4 on a sparse image in memory: Wine
# keeps DOS file attributes in user extended attributes, which tmpfs refuses.
mkdir -p /scratch
mount -t tmpfs -o mode=700,size=60% tmpfs /scratch || fail "cannot mount the scratch tmpfs"
dd if=/dev/zero of=/scratch/tmp.img bs=1M count=0 seek=4096 2>/dev/null || fail "cannot make the /tmp image"
mkdir -p $r/run/qmx-scratch
mount --bind /scratch $r/run/qmx-scratch &&
    chroot $r /usr/bin/env PATH=/usr/sbin:/usr/bin:/sbin:/bin mkfs.ext4 -q -F -O ^has_journal -E lazy_itable_init=1 /run/qmx-scratch/tmp.img ||
    fail "cannot make a file system for /tmp (mkfs.ext4)"
umount $r/run/qmx-scratch
mount -t ext4 -o loop,discard /scratch/tmp.img $r/tmp || fail "cannot mount /tmp (ext4 on a loop device)"
chmod 1777 $r/tmp

# What the job must see under /tmp or /run as it is here (the job's "see" list: the
# repository, the caller's folder), from the machine's read-only /; then the share,
# last, as it may lie in one of those. The job sees an overlay: reads come
# over the cached 9p mount, writes collect in a tmpfs, and copy_back below writes them
# to the share at the end through the uncached mount. So a new Wine prefix (about
# 600 MB) goes out in large pieces, and small writes cost the job nothing.
mkdir -p /share/lower /share/out /share/rw
mount_9p share /share/lower cache=loose || fail "cannot mount the share (9p tag share)"
see=/share/lower${job#"$share"}/see
if [ -f "$see" ]; then
    while IFS= read -r path; do
        [ -d "/lower$path" ] || continue
        mkdir -p "$r$path" && mount --bind "/lower$path" "$r$path" || fail "cannot show $path in the guest"
    done <"$see"
fi
mkdir -p "$r$share"
mount_9p shareout /share/out cache=none || fail "cannot mount the share (9p tag shareout)"
mount -t tmpfs -o mode=755,size=75% tmpfs /share/rw
mkdir -p /share/rw/upper /share/rw/work
mount -t overlay overlay -o lowerdir=/share/lower,upperdir=/share/rw/upper,workdir=/share/rw/work "$r$share" ||
    fail "cannot mount the overlay on the share"

# The job's own folder, reached around the overlay: the job's output goes straight to
# the share, so that it is there even if the guest never gets to copy_back.
jobdir=/share/lower${job#"$share"}
[ -f "$jobdir/job.sh" ] || fail "no job at $job/job.sh"

# copy_back: writes the job's changes to the share (emulated-copyback.sh, with this
# machine's tools in the new root).
copy_back() {
    # Without the overlay the job's view would be an empty folder: delete nothing.
    grep -q " $r$share overlay " /proc/mounts || { echo "emulated-init: the share's overlay is gone" >&2; return 1; }
    mkdir -p $r/run/qmx/upper $r/run/qmx/out
    mount --bind /share/rw/upper $r/run/qmx/upper &&
        mount --bind /share/out $r/run/qmx/out &&
        chroot $r /bin/bash "$job/emulated-copyback.sh" /run/qmx/upper "$share" /run/qmx/out
}

chroot $r /bin/bash "$job/job.sh" >"$jobdir/output" 2>&1 </dev/null
status=$?
# On the console, so that a guest that never ends shows whether the job did.
echo "emulated-init: the job ended with exit code $status; writing its changes back" >/dev/console
# Whatever the job left running could still write: end it before copying.
kill -KILL -1 2>/dev/null
sleep 0.5
started=$(date +%s)
copy_back || status=125
echo "emulated-init: written back in $(($(date +%s) - started)) s" >/dev/console
sync
# Written last, through the mount that copy_back used, and renamed, so the caller sees
# an exit code only once everything is in the share.
echo "$status" >"/share/out${job#"$share"}/status.new" &&
    mv "/share/out${job#"$share"}/status.new" "/share/out${job#"$share"}/status"
sync
poweroff -f
