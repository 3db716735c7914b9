#!/bin/sh
# /init of the initramfs that scripts/lib/emulated.sh boots under QEMU. Runs under the
# static busybox: the root is this machine's / (read-only over virtio-9p) with a tmpfs
# overlay on top, plus one writable 9p share at its own path. It runs the job written
# into the share, leaves its exit code there and powers off.
#
# Kernel command line: qmx.share=PATH (the share's path on the machine and in the guest)
# and qmx.job=PATH (the job's folder inside the share, holding job.sh).
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

# msize: the larger the message, the fewer round trips per read. cache=loose: nothing
# changes the machine's files behind the guest's back during a run, so the guest may
# keep what it read (the big win under emulation: each 9p round trip is slow).
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose
mount_9p() { # TAG DIR [EXTRA]: the virtio device may still be settling; retry briefly.
    tries=0
    until mount -t 9p -o "$opts${3:+,$3}" "$1" "$2"; do
        tries=$((tries + 1))
        [ "$tries" -lt 20 ] || return 1
        sleep 0.2
    done
}

mkdir -p /lower /rw /newroot
mount_9p hostroot /lower ro || fail "cannot mount the machine's / (9p tag hostroot)"
# Every change to the root lands in this tmpfs and is gone at power-off.
mount -t tmpfs -o mode=755 tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/rw/upper,workdir=/rw/work /newroot ||
    fail "cannot mount the overlay root"

r=/newroot
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
mount -t devtmpfs devtmpfs $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts $r/dev/pts
mount -t tmpfs -o mode=1777 tmpfs $r/dev/shm
mount -t tmpfs -o mode=1777 tmpfs $r/tmp
mount -t tmpfs -o mode=755 tmpfs $r/run
# The share last: it may lie under /tmp or /run.
mkdir -p "$r$share"
mount_9p share "$r$share" || fail "cannot mount the share at $share (9p tag share)"
[ -f "$r$job/job.sh" ] || fail "no job at $job/job.sh"

chroot $r /bin/bash "$job/job.sh" >"$r$job/output" 2>&1 </dev/null
status=$?
# Written last and renamed, so the caller sees a code only from a finished job.
echo "$status" >"$r$job/status.new" && mv "$r$job/status.new" "$r$job/status"
sync
umount "$r$share" 2>/dev/null
sync
poweroff -f
