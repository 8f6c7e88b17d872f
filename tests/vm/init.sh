#!/bin/sh
# The first process of the CI virtual machine (scripts/ci-vm.sh, docs/vm-tests.md): loads the
# disk drivers, waits for QEMU's disks, runs qxupdater-cli and qxvmcheck as root on the real
# back-end and writes everything to the second serial port between markers:
#
#   ==> BEGIN NAME        the lines of file NAME
#   ==> END NAME
#   ==> RC NAME CODE      the exit code of run NAME
#
# The first serial port is the kernel's console (kept by ci-vm.sh for a failure's report).
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp /run /mnt/ext2
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mkdir -p /run/lock

out=/dev/ttyS1
stty -F "$out" raw -echo 2>/dev/null

emit() {
    {
        echo "==> BEGIN $1"
        cat "/tmp/$1"
        echo "==> END $1"
    } >"$out"
}

# run NAME COMMAND...: standard output to NAME.out, standard error to NAME.err.
run() {
    name=$1
    shift
    "$@" >"/tmp/$name.out" 2>"/tmp/$name.err"
    rc=$?
    emit "$name.out"
    emit "$name.err"
    echo "==> RC $name $rc" >"$out"
}

# The drivers in dependency order (ci-vm.sh wrote the list from the modules' own depends).
: >/tmp/insmod
while read -r module; do
    insmod "/modules/$module.ko" >>/tmp/insmod 2>&1 || echo "insmod $module failed" >>/tmp/insmod
done </modules.order
emit insmod

# Wait for the disks (USB storage waits a second before it scans; uas and EHCI need a while).
want=$(cat /disk-count)
i=0
while [ "$(ls -d /sys/block/sd* 2>/dev/null | wc -l)" -lt "$want" ] && [ "$i" -lt 600 ]; do
    sleep 0.1
    i=$((i + 1))
done
for d in /sys/block/sd*; do
    echo "$(basename "$d") $(readlink -f "$d")"
done >/tmp/disks
emit disks

# The real back-end: QXUPDATER_DEVICES unset, one trace per run.
unset QXUPDATER_DEVICES
cd /tmp
run list env QXUPDATER_TRACE=/tmp/list.trace qxupdater-cli list --json
run explain env QXUPDATER_TRACE=/tmp/explain.trace qxupdater-cli explain --json
run smart env QXUPDATER_TRACE=/tmp/smart.trace qxupdater-cli smart "serial:$(cat /smart-serial)" --json
for t in list explain smart; do
    [ -f "/tmp/$t.trace" ] || : >"/tmp/$t.trace"
    emit "$t.trace"
done
run check qxvmcheck --in-vm

# The erase's hold on a disk in use: an ext2 file system on the whole virtio-scsi disk,
# mounted, then unmounted (docs/vm-tests.md). qxvmcheck --claim sends nothing to the disk.
ext2=""
for d in /sys/block/sd*; do
    case "$(readlink -f "$d")" in *virtio*) ext2=$(basename "$d") ;; esac
done
if [ -n "$ext2" ] && mke2fs -q "/dev/$ext2" >/tmp/mkfs 2>&1 && mount -t ext2 "/dev/$ext2" /mnt/ext2 >>/tmp/mkfs 2>&1; then
    echo "ext2 /dev/$ext2 mounted" >>/tmp/mkfs
else
    echo "ext2 on '$ext2' not mounted" >>/tmp/mkfs
fi
emit mkfs
run claim-mounted qxvmcheck --in-vm --claim "$ext2"
umount /mnt/ext2 >/tmp/umount 2>&1 && echo "ext2 /dev/$ext2 unmounted" >>/tmp/umount
emit umount
run claim-unmounted qxvmcheck --in-vm --claim "$ext2"

# The device lock: qxvmcheck holds it the way qxupdater-cli takes it, a second qxupdater-cli
# must refuse; after the release a run goes on.
mkfifo /tmp/release
qxvmcheck --in-vm --hold-lock /tmp/release >/tmp/hold.out 2>/tmp/hold.err &
holder=$!
i=0
while ! grep -q "^QXLOCK" /tmp/hold.out && [ "$i" -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
ls -ln /run/lock >/tmp/lockdir 2>&1
{ echo "--"; cat /run/lock/qxupdater.lock; } >>/tmp/lockdir 2>&1
emit lockdir
run lock-busy qxupdater-cli list --json
echo release >/tmp/release &
wait "$holder"
echo "==> RC hold $?" >"$out"
emit hold.out
emit hold.err
run lock-free qxupdater-cli list --json

echo "==> DONE" >"$out"
sync
poweroff -f
