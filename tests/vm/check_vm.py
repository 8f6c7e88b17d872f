#!/usr/bin/env python3
"""The disks of the CI virtual machine and the judgement of what it printed (docs/vm-tests.md).

  check_vm.py qemu-args WORKDIR       QEMU's arguments for the disks, one a line (the images
                                      are made in WORKDIR)
  check_vm.py smart-serial            the serial number `smart` is asked for in the machine
  check_vm.py check RESULTS CLI       judges the machine's output RESULTS; CLI is the
                                      qxupdater-cli built here, used for the replays
                                      ("-": no replays, for the judge's own tests)
Exits 1 with one line per mismatch.
"""
import json
import os
import subprocess
import sys
import tempfile

# One disk per way a disk reaches the kernel. `model` and `serial` are what QEMU is told;
# usb-storage takes a serial number only (its SCSI disk is QEMU's "QEMU HARDDISK").
DISKS = [
    {"id": "piix", "controller": "PIIX IDE (ata_piix)", "model": "QXVM PIIX DISK",
     "serial": "QXVMPIIX0001", "rotation": 1, "sysfs": "/ata", "busKind": "DEVICE_IDE",
     "bus": "ide"},
    {"id": "ahci", "controller": "AHCI (ahci)", "model": "QXVM AHCI DISK",
     "serial": "QXVMAHCI0002", "rotation": 1, "sysfs": "/ata", "busKind": "DEVICE_IDE",
     "bus": "ide"},
    {"id": "ehci", "controller": "usb-storage on EHCI", "model": "QEMU HARDDISK",
     "vendor": "QEMU", "serial": "QXVMEHCI0003", "rotation": None, "sysfs": "/usb",
     "busKind": "DEVICE_USB", "bus": "usb"},
    {"id": "uas", "controller": "uas on xHCI", "model": "QXVM UAS DISK", "vendor": "QXVM",
     "serial": "QXVMUAS00004", "rotation": 7200, "sysfs": "/usb", "busKind": "DEVICE_USB",
     "bus": "usb"},
    {"id": "virtio", "controller": "virtio-scsi", "model": "QXVM VIRTIO DISK", "vendor": "QXVM",
     "serial": "QXVMVIRT0005", "rotation": 1, "sysfs": "/virtio", "busKind": "DEVICE_SCSI",
     "bus": "scsi"},
]
SMART_SERIAL = "QXVMPIIX0001"
IMAGE_BYTES = 16 * 1024 * 1024


def qemu_args(work):
    args = []

    def drive(d):
        image = os.path.join(work, d["id"] + ".img")
        with open(image, "wb") as f:
            f.truncate(IMAGE_BYTES)
        args.extend(["-drive", "if=none,id=%s,file=%s,format=raw" % (d["id"], image)])

    for d in DISKS:
        drive(d)
        ide = "drive=%s,model=%s,serial=%s,rotation_rate=%d" % (
            d["id"], d["model"], d["serial"], d["rotation"] or 0)
        scsi = "drive=%s,vendor=%s,product=%s,serial=%s,rotation_rate=%d" % (
            d["id"], d.get("vendor", ""), d["model"], d["serial"], d["rotation"] or 0)
        if d["id"] == "piix":
            args += ["-device", "ide-hd,bus=ide.0,unit=0," + ide]
        elif d["id"] == "ahci":
            args += ["-device", "ahci,id=ahci", "-device", "ide-hd,bus=ahci.0," + ide]
        elif d["id"] == "ehci":
            args += ["-device", "usb-ehci,id=ehci",
                     "-device", "usb-storage,bus=ehci.0,drive=%s,serial=%s" % (d["id"], d["serial"])]
        elif d["id"] == "uas":
            args += ["-device", "qemu-xhci,id=xhci", "-device", "usb-uas,id=uas,bus=xhci.0",
                     "-device", "scsi-hd,bus=uas.0,scsi-id=0,lun=0," + scsi]
        elif d["id"] == "virtio":
            args += ["-device", "virtio-scsi-pci,id=vscsi", "-device", "scsi-hd,bus=vscsi.0," + scsi]
    return args


def sections(path):
    """The machine's output: {name: [lines]} and {run: exit code}."""
    files, codes, current, done = {}, {}, None, False
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if current is not None:
                if line == "==> END " + current:
                    current = None
                else:
                    files[current].append(line)
            elif line.startswith("==> BEGIN "):
                current = line[len("==> BEGIN "):]
                files[current] = []
            elif line.startswith("==> RC "):
                name, code = line[len("==> RC "):].split(" ")
                codes[name] = int(code)
            elif line == "==> DONE":
                done = True
    return files, codes, done



# What each disk is expected to answer, by the core's verdict. The virtio-scsi disk's path
# carries the word scsi, which this system (version 6.2) gives the ATA pass-through: kind
# DEVICE_IDE (docs/linux-devices.md). QEMU's SCSI disks know no ATA PASS-THROUGH: ILLEGAL
# REQUEST, invalid command operation code, on both paths.
EXPECTED_REASON = {
    "piix": "no-vendor-answer",
    "ahci": "identify-failed",  # QEMU's AHCI quirk, see AHCI_QUIRK
    "ehci": "unknown-bridge-code",
    "uas": "unknown-bridge-code",
    "virtio": "identify-failed",
}
EXPECTED_KIND = {"piix": "DEVICE_IDE", "ahci": "DEVICE_IDE", "ehci": "DEVICE_USB",
                 "uas": "DEVICE_USB", "virtio": "DEVICE_IDE"}
# Commands that succeed, per disk and path; every other command must be refused by the disk
# and counted a failure.
SUCCEEDS = {
    ("piix", "ata", "identify"), ("piix", "ata", "smart-read-data"),
    ("piix", "scsi", "identify"), ("piix", "scsi", "smart-read-data"),
    ("ahci", "scsi", "identify"), ("ahci", "scsi", "smart-read-data"),
}
ATA_COMMANDS = ("identify", "smart-read-data", "download-microcode", "security-erase-prepare")
CHECKER_COMMANDS = sorted([(via, c) for via in ("ata", "scsi") for c in ATA_COMMANDS] +
                          [("scsi", "inquiry"), ("scsi", "serial-number-page")])

# QEMU's AHCI, not this program: for a PIO data-in command it writes the PIO Setup FIS before
# the data moves (hw/ide/ahci.c, ahci_pio_transfer calls ahci_write_fis_pio), and its ending
# status is the status of that moment, DRQ set ("pio_fis[15] = s->status"); no D2H Register
# FIS follows a PIO data-in. libahci takes the ending status of a PIO data-in from that FIS,
# so with CK_COND libata reads 58h (DRDY DSC DRQ) and answers CHECK CONDITION, ABORTED
# COMMAND, although the 512 bytes arrived. Without CK_COND (the SCSI path's ATA
# PASS-THROUGH(12) block) nobody looks at the status: GOOD. Expected per PIO data-in command
# on the ATA path of the AHCI disk; a change fails the stage so that it is looked at.
AHCI_QUIRK = {"status": 2, "senseKey": 0x0B, "ataStatus": 0x58}


class Failures:
    def __init__(self):
        self.lines = []

    def check(self, ok, text):
        if not ok:
            self.lines.append(text)
        return ok


def sense_of(hextext):
    """(response code, key, asc, ascq, ATA status or None) of sense bytes, read by hand."""
    b = bytes.fromhex(hextext)
    if len(b) < 8:
        return None
    code = b[0] & 0x7F
    if code in (0x72, 0x73):
        status = None
        i = 8
        while i + 1 < len(b):
            if b[i] == 0x09 and i + 13 < len(b):
                status = b[i + 13]
            i += 2 + b[i + 1]
        return code, b[1] & 0x0F, b[2], b[3], status
    if code in (0x70, 0x71) and len(b) >= 14:
        # Fixed format: error, status, device and count in INFORMATION (bytes 3-6), marked
        # valid after an error. Older libata (before "ata: libata-scsi: Fix offsets for the
        # fixed format sense data", 2024; Debian 12's kernel) writes them to bytes 8-11.
        # A SCSI disk's own sense leaves those bytes zero: no registers, no ATA status.
        valid = (b[12], b[13]) == (0, 0x1D) or b[0] & 0x80
        return code, b[2] & 0x0F, b[12], b[13], b[4] if valid else (b[9] or None)
    return None


def refused(sg):
    """Why the kernel's answer refuses the command, or None when it does not."""
    if sg.get("ioctlErrno"):
        return "SG_IO errno %d" % sg["ioctlErrno"]
    if sg["hostStatus"] or (sg["driverStatus"] & 0x0F & ~0x08):
        return "host %d driver %d" % (sg["hostStatus"], sg["driverStatus"])
    if sg["status"] == 0:
        return None
    if sg["status"] != 2:
        return "SCSI status %d" % sg["status"]
    s = sense_of(sg["sense"])
    if s is None:
        return "unreadable sense %s" % sg["sense"]
    if s[1] not in (0, 1):
        return "sense key %02Xh ASC %02Xh ASCQ %02Xh" % (s[1], s[2], s[3])
    if s[4] is not None and s[4] & 0x01:
        return "ATA status %02Xh" % s[4]
    return None


def answer_text(sg):
    if sg.get("ioctlErrno") or sg["hostStatus"] or sg["driverStatus"] & 0x07:
        return refused(sg)
    if sg["status"] == 0:
        return "GOOD"
    s = sense_of(sg["sense"])
    if s is None:
        return "status %d, sense %s" % (sg["status"], sg["sense"])
    text = "CHECK CONDITION, sense %02Xh key %Xh ASC/ASCQ %02Xh/%02Xh" % s[:4]
    return text + (", ATA status %02Xh" % s[4] if s[4] is not None else "")


def ata_string(data, first, last):
    out = bytearray()
    for i in range(first, last, 2):
        out += bytes([data[i + 1], data[i]])
    return out.decode("ascii", "replace").strip()


def identify_fields(data):
    return {"model": ata_string(data, 54, 94), "serial": ata_string(data, 20, 40),
            "rotation": data[434] | (data[435] << 8)}


def moved(sg):
    data = bytes.fromhex(sg.get("data", ""))
    return data[:max(0, len(data) - max(0, sg.get("resid", 0)))]


def document(text):
    """A JSON object, or {} when the text is none."""
    try:
        doc = json.loads(text)
    except ValueError:
        return {}
    return doc if isinstance(doc, dict) else {}


def run_cli(cli, args, trace):
    env = dict(os.environ, QXUPDATER_DEVICES="replay:" + trace)
    env.pop("QXUPDATER_TRACE", None)
    p = subprocess.run([cli] + args, env=env, capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


EBUSY = 16


def judge_claims(files, disk_of, f, answered):
    """The erase's hold on the virtio-scsi disk with its ext2 mounted, then unmounted."""
    names = [p.rsplit("#", 1)[-1] for p, d in disk_of.items() if d["id"] == "virtio"]
    if not f.check(len(names) == 1, "claim: the virtio-scsi disk was not met"):
        return
    disk = names[0]
    f.check("ext2 /dev/%s mounted" % disk in files.get("mkfs", []),
            "claim: no ext2 mounted on /dev/%s: %s" % (disk, " | ".join(files.get("mkfs", []))))
    f.check("ext2 /dev/%s unmounted" % disk in files.get("umount", []),
            "claim: /dev/%s not unmounted: %s" % (disk, " | ".join(files.get("umount", []))))
    for run, mounted in (("claim-mounted", True), ("claim-unmounted", False)):
        lines = [document(l[len("QXCLAIM "):]) for l in files.get(run + ".out", [])
                 if l.startswith("QXCLAIM ")]
        by_table = {c.get("mounts"): c for c in lines}
        f.check(len(lines) == 2 and sorted(by_table) == ["/dev/null", "/proc/self/mounts"],
                "%s: %d claims, expected one with the mount table and one without" % (run, len(lines)))
        for table, c in sorted(by_table.items()):
            what = "%s (%s): claim of %s" % (run, table, c.get("path"))
            f.check(c.get("disk") == disk and c.get("path") == "\\\\.\\scsi#" + disk and c.get("answered"),
                    what + ": not the virtio-scsi disk's claim through the back-end: %s" % c)
            if mounted:
                # The mount table names the mount; without it the kernel's O_EXCL refuses.
                want = ("mounted: /dev/%s on /mnt/ext2" % disk if table == "/proc/self/mounts"
                        else "the system reports /dev/%s busy" % disk)
                f.check(not c.get("granted") and c.get("reason") == "mounted"
                        and c.get("detail", "").startswith(want),
                        what + ": granted %s, reason %r, detail %r; expected refused, mounted, %r" % (
                            c.get("granted"), c.get("reason"), c.get("detail"), want))
            else:
                f.check(c.get("granted") and c.get("secondOpenErrno") == EBUSY
                        and c.get("afterReleaseErrno") == 0,
                        what + ": granted %s (%s %s), second O_EXCL open errno %s, after release %s;"
                        " expected granted, EBUSY, 0" % (
                            c.get("granted"), c.get("reason"), c.get("detail"),
                            c.get("secondOpenErrno"), c.get("afterReleaseErrno")))
            answered.append("%-6s %s with %s: %s" % (
                "virtio", run, table, "granted, a second O_EXCL open errno %s" % c.get("secondOpenErrno")
                if c.get("granted") else "refused, %s: %s" % (c.get("reason"), c.get("detail"))))


def judge_lock(files, f, answered):
    """The device lock held by the checker: its file, a second qxupdater-cli refused, then not."""
    held = [document(l[len("QXLOCK "):]) for l in files.get("hold.out", []) if l.startswith("QXLOCK ")]
    if not f.check(len(held) == 1 and held[0].get("state") == "held" and held[0].get("pid"),
                   "lock: the checker did not hold the device lock: %s" % (
                       held or " | ".join(files.get("hold.err", [])))):
        return
    pid = held[0]["pid"]
    listing = files.get("lockdir", [])
    f.check(any(l.endswith(" qxupdater.lock") and l.startswith("-rw-r--r--") for l in listing),
            "lock: /run/lock/qxupdater.lock missing or not a 0644 file: %s" % " | ".join(listing))
    recorded = listing[listing.index("--") + 1:] if "--" in listing else []
    f.check(recorded == [str(pid)], "lock: the file records %s, the holder is %d" % (recorded, pid))
    busy = "another process is sending commands to the drives (process %d)" % pid
    doc = document("\n".join(files.get("lock-busy.out", [])))
    f.check(doc.get("error") == busy and doc.get("exitCode") == 2 and "drives" not in doc,
            "lock: the second qxupdater-cli's document %s, expected the error %r" % (doc, busy))
    f.check(files.get("lock-busy.err") == ["qxupdater-cli: " + busy],
            "lock: the second qxupdater-cli said %s" % files.get("lock-busy.err"))
    free = document("\n".join(files.get("lock-free.out", [])))
    f.check(free.get("drives") == [], "lock: after the release, list gave %s" % free)
    answered.append("lock   held by process %d: a second list exit 2, %r; after the release exit 0" % (
        pid, busy))


def judge(results, cli):
    f = Failures()
    files, codes, done = sections(results)
    f.check(done, "the machine's output has no end marker")
    for name, want in (("list", 0), ("explain", 0), ("smart", 3), ("check", 0),
                       ("claim-mounted", 0), ("claim-unmounted", 0), ("hold", 0),
                       ("lock-busy", 2), ("lock-free", 0)):
        f.check(codes.get(name) == want, "%s: exit %s, expected %d (stderr: %s)" % (
            name, codes.get(name), want, " | ".join(files.get(name + ".err", []))))
    if f.lines:
        return f, []

    # The disks as the checker met them, told apart by the serial number QEMU was given.
    records = [document(l[len("QXVM "):]) for l in files.get("check.out", []) if l.startswith("QXVM ")]
    by_disk = {}
    for r in records:
        by_disk.setdefault(r["path"], []).append(r)
    disk_of = {}
    for path, rs in by_disk.items():
        vpd = [r for r in rs if r["command"] == "serial-number-page"]
        data = moved(vpd[0]["sgio"][-1]) if vpd and vpd[0]["sgio"] else b""
        serial = data[4:4 + data[3]].decode("ascii", "replace").strip() if len(data) > 4 else ""
        match = [d for d in DISKS if d["serial"] == serial]
        if f.check(len(match) == 1, "%s: unit serial number %r is none of QEMU's disks" % (path, serial)):
            disk_of[path] = match[0]
    f.check(sorted(d["id"] for d in disk_of.values()) == sorted(d["id"] for d in DISKS),
            "disks met: %s" % sorted(d["id"] for d in disk_of.values()))
    sysfs = dict(l.split(" ", 1) for l in files.get("disks", []) if " " in l)

    answered = []
    for path, rs in sorted(by_disk.items()):
        d = disk_of.get(path)
        if d is None:
            continue
        name = path.rsplit("#", 1)[-1]
        f.check(path == "\\\\.\\%s#%s" % (d["bus"], name), "%s (%s): path word, expected %s" % (
            path, d["id"], d["bus"]))
        f.check(d["sysfs"] in sysfs.get(name, ""), "%s (%s): sysfs path %s" % (
            path, d["id"], sysfs.get(name)))
        sent = sorted((r["via"], r["command"]) for r in rs)
        f.check(sent == CHECKER_COMMANDS, "%s (%s): the checker sent %s" % (path, d["id"], sent))
        for r in rs:
            what = "%s (%s) %s via %s" % (path, d["id"], r["command"], r["via"])
            if not f.check(r["sgio"], what + ": reached no SG_IO"):
                continue
            sg = r["sgio"][-1]
            why = refused(sg)
            success = r["result"] == 1
            # A command the disk refused is a failure, whatever else happened.
            if why is not None:
                f.check(not success, what + ": refused (%s) but counted a success" % why)
            key = (d["id"], r["via"], r["command"])
            if r["command"] in ATA_COMMANDS:
                expect = key in SUCCEEDS
                f.check(success == expect, what + ": result %d, expected %s (%s)" % (
                    r["result"], "success" if expect else "failure", answer_text(sg)))
            quirk = d["id"] == "ahci" and r["via"] == "ata" and r["command"] in (
                "identify", "smart-read-data")
            if quirk:
                s = sense_of(sg["sense"]) or (None, None, None, None, None)
                seen = {"status": sg["status"], "senseKey": s[1], "ataStatus": s[4]}
                f.check(seen == AHCI_QUIRK and sg.get("resid") == 0,
                        what + ": QEMU's AHCI answer (or the kernel's reading of it) changed "
                        "(expected CHECK CONDITION, ABORTED "
                        "COMMAND, ATA status 58h with DRQ, all data moved; got %s, resid %s): "
                        "see AHCI_QUIRK" % (seen, sg.get("resid")))
            if r["command"] == "identify" and (success or quirk):
                got = identify_fields(moved(sg))
                f.check(got == {"model": d["model"], "serial": d["serial"], "rotation": d["rotation"]},
                        what + ": IDENTIFY through SAT read %s" % got)
            if r["command"] == "inquiry":
                data = moved(sg)
                vendor = data[8:16].decode("ascii", "replace").strip()
                product = data[16:32].decode("ascii", "replace").strip()
                want = ("ATA", d["model"][:16]) if d["bus"] == "ide" else (d["vendor"], d["model"])
                f.check(success and (vendor, product) == want,
                        what + ": INQUIRY %r %r, expected %r %r" % ((vendor, product) + want))
            answered.append("%-6s %-4s %-4s %-22s result %2d  %s" % (
                d["id"], name, r["via"], r["command"], r["result"], answer_text(sg)))

    # explain: every disk, its kind and why it was passed over; nothing is listed.
    explain = document("\n".join(files.get("explain.out", [])))
    cands = {c["path"]: c for c in explain.get("candidates", [])}
    f.check(len(explain.get("candidates", [])) == len(DISKS), "explain: %d candidates" % len(cands))
    for path, d in disk_of.items():
        c = cands.get(path)
        if not f.check(c is not None, "explain: %s (%s) missing" % (path, d["id"])):
            continue
        f.check(c["busKind"] == EXPECTED_KIND[d["id"]], "explain: %s (%s) bus kind %s, expected %s" % (
            path, d["id"], c["busKind"], EXPECTED_KIND[d["id"]]))
        f.check(c["reason"] == EXPECTED_REASON[d["id"]] and not c["listed"],
                "explain: %s (%s) reason %s, expected %s" % (path, d["id"], c["reason"],
                                                             EXPECTED_REASON[d["id"]]))
        if d["id"] == "piix":
            f.check(c.get("identify") == {"ok": True, "rotationRate": 1},
                    "explain: %s identify %s" % (path, c.get("identify")))
        answered.append("%-6s explain: %s, %s" % (d["id"], c["busKind"], c["reason"]))
    doc = document("\n".join(files.get("list.out", [])))
    f.check(doc.get("drives") == [], "list: drives %s, expected none" % doc.get("drives"))

    judge_claims(files, disk_of, f, answered)
    judge_lock(files, f, answered)

    # The traces replay here to the same documents and exit codes.
    if cli is None:
        return f, answered
    with tempfile.TemporaryDirectory() as tmp:
        for name, args in (("list", ["list", "--json"]), ("explain", ["explain", "--json"]),
                           ("smart", ["smart", "serial:" + SMART_SERIAL, "--json"])):
            trace = os.path.join(tmp, name + ".trace")
            with open(trace, "w") as t:
                t.write("\n".join(files.get(name + ".trace", [])) + "\n")
            rc, out, err = run_cli(cli, args, trace)
            f.check(rc == codes[name], "replay of %s: exit %d, in the machine %d" % (name, rc, codes[name]))
            f.check("replay:" not in err, "replay of %s: %s" % (name, err.strip()))
            f.check(document(out) == document("\n".join(files.get(name + ".out", []))),
                    "replay of %s: a different document:\n%s" % (name, out))
    return f, answered


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "qemu-args":
        print("\n".join(qemu_args(sys.argv[2])))
        return 0
    if len(sys.argv) == 2 and sys.argv[1] == "smart-serial":
        print(SMART_SERIAL)
        return 0
    if len(sys.argv) == 2 and sys.argv[1] == "disk-count":
        print(len(DISKS))
        return 0
    if len(sys.argv) != 4 or sys.argv[1] != "check":
        print(__doc__, file=sys.stderr)
        return 2
    failures, answered = judge(sys.argv[2], None if sys.argv[3] == "-" else sys.argv[3])
    print("\n".join(answered))
    for line in failures.lines:
        print("FAIL: " + line)
    return 1 if failures.lines else 0


if __name__ == "__main__":
    sys.exit(main())
