#!/usr/bin/env bash
# The real-kernel stage of CI (docs/vm-tests.md): Debian's kernel boots in QEMU (no KVM) with
# five disks, one per way a disk reaches the kernel (ata_piix, ahci, usb-storage, uas,
# virtio-scsi); qxupdater-cli and the checker qxvmcheck run there as root on the real
# back-end, and tests/vm/check_vm.py judges their output and replays their traces here.
# Expects the native build configured (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
jobs=$(nproc 2>/dev/null || echo 2)

echo "== real kernel: build"
cmake --build --preset default -j "$jobs" --target qxupdater-cli qxvmcheck
cli=build/default/cli/qxupdater-cli
checker=build/default/qxvmcheck

# Kernel and initramfs live for this run only.
# QX_VM_KEEP=DIR keeps the machine's console and output there.
work=$(mktemp -d)
keep() {
  if [ -n "${QX_VM_KEEP:-}" ]; then
    mkdir -p "$QX_VM_KEEP"
    cp "$work"/*.log "$QX_VM_KEEP"/ 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap keep EXIT

echo "== real kernel: Debian's kernel package"
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ]; then
  # A fresh system may have no package lists yet.
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  package=$(kernel_package)
fi
[ -n "$package" ] || { echo "no kernel image package behind linux-image-amd64"; exit 1; }
(cd "$work" && apt-get download -q "$package" 2>&1 | grep -v "^W: Download is performed unsandboxed" || true)
deb=$(ls "$work"/"$package"_*.deb 2>/dev/null | head -n 1)
[ -f "$deb" ] || { echo "apt-get download $package failed"; exit 1; }
# Only the kernel and the module folders the drivers below come from (a quarter of the
# package: the rest would only cost disk writes).
release=${package#linux-image-}
mkdir "$work/kernel"
dpkg-deb --fsys-tarfile "$deb" |
  tar -x -C "$work/kernel" --wildcards "./boot/vmlinuz-$release" \
    "./lib/modules/$release/kernel/"{block,crypto,lib,fs,drivers/ata,drivers/scsi,drivers/usb,drivers/virtio}
rm -f "$deb"
vmlinuz="$work/kernel/boot/vmlinuz-$release"
modules="$work/kernel/lib/modules/$release/kernel"
echo "$package"

echo "== real kernel: initramfs"
root="$work/root"
mkdir -p "$root"/{bin,usr/bin,modules,proc,sys,dev,tmp,run,mnt}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
if ldd /bin/busybox >/dev/null 2>&1; then
  echo "/bin/busybox is not the static one (busybox-static)"
  exit 1
fi
cp "$cli" "$checker" "$root/usr/bin/"
# The programs' shared libraries at the paths the dynamic loader looks for them.
for lib in $(ldd "$cli" "$checker" | awk '/=> \// { print $3 } /^\t\/lib/ { print $1 }' | sort -u); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
# The drivers and what they depend on, in load order (the package has no modules.dep: that
# is made when it is installed; each module's own "depends=" says the same).
python3 - "$modules" "$root/modules" ata_piix ahci sd_mod usb-storage uas ehci-pci xhci-pci \
    virtio_scsi virtio_pci sg ext4 crc32c_generic <<'EOF'
import os, re, shutil, sys
tree, dest, wanted = sys.argv[1], sys.argv[2], sys.argv[3:]
found = {}
for folder, _, names in os.walk(tree):
    for n in names:
        if n.endswith(".ko"):
            found[n[:-3].replace("-", "_")] = os.path.join(folder, n)
order = []
def visit(name, chain=()):
    name = name.replace("-", "_")
    if name in order:
        return
    if name in chain or name not in found:
        sys.exit("module %s: %s" % (name, "dependency loop" if name in chain else "not in the package"))
    info = re.search(rb"\x00depends=([^\x00]*)\x00", open(found[name], "rb").read())
    for dep in (info.group(1).decode().split(",") if info else []):
        if dep:
            visit(dep, chain + (name,))
    order.append(name)
for w in wanted:
    visit(w)
for name in order:
    shutil.copy(found[name], os.path.join(dest, name + ".ko"))
with open(os.path.join(dest, "..", "modules.order"), "w") as f:
    f.write("\n".join(order) + "\n")
EOF
install -m 755 tests/vm/init.sh "$root/init"
python3 tests/vm/check_vm.py disk-count >"$root/disk-count"
python3 tests/vm/check_vm.py smart-serial >"$root/smart-serial"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) | gzip -1 >"$work/initrd.gz"
echo "initramfs $(du -k "$work/initrd.gz" | cut -f1) KiB, $(wc -l <"$root/modules.order") modules"

echo "== real kernel: boot with the five disks"
mapfile -t disks < <(python3 tests/vm/check_vm.py qemu-args "$work")
boot=$(date +%s)
set +e
timeout 200 qemu-system-x86_64 -machine pc,accel=tcg -m 512 -smp 1 \
  -nographic -no-reboot -monitor none -nic none \
  -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 panic=-1 loglevel=4 qxvm=1" \
  -serial "file:$work/console.log" -serial "file:$work/results.log" \
  "${disks[@]}" </dev/null >"$work/qemu.log" 2>&1
rc=$?
set -e
echo "machine ran $(( $(date +%s) - boot )) s (QEMU exit $rc)"
if ! grep -q "^==> DONE" "$work/results.log"; then
  echo "the machine did not finish; its console:"
  tail -n 60 "$work/console.log"
  cat "$work/qemu.log"
  exit 1
fi

echo "== real kernel: what the disks answered"
if ! python3 tests/vm/check_vm.py check "$work/results.log" "$cli"; then
  echo "console of the machine:"
  tail -n 40 "$work/console.log"
  exit 1
fi
keep
trap - EXIT
echo "== real kernel: stage took $(( $(date +%s) - start )) s"
