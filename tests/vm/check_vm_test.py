#!/usr/bin/env python3
"""Tests of the real-kernel stage's judge (check_vm.py) on the output of one recorded run of
the machine (data/results.log, kept with QX_VM_KEEP=DIR bash scripts/ci-vm.sh). Each case
changes that output the way a fault would show and expects the judge to name it.

With QX_VM_TEST_CLI=PATH (a qxupdater-cli) the replays of the recorded traces are tested too.

After a change to the commands the scan sends, record data/results.log anew.
"""
import json
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_vm  # noqa: E402

RECORDED = os.path.join(HERE, "data", "results.log")
CLI = os.environ.get("QX_VM_TEST_CLI") or None


class Output:
    """The recorded output, changed one section or record at a time."""

    def __init__(self):
        with open(RECORDED, "rb") as f:
            self.lines = [l.decode().rstrip("\r\n") for l in f]

    def section(self, name):
        begin = self.lines.index("==> BEGIN " + name)
        end = self.lines.index("==> END " + name, begin)
        return begin + 1, end

    def replace_section(self, name, new_lines):
        begin, end = self.section(name)
        self.lines[begin:end] = new_lines

    def records(self):
        begin, end = self.section("check.out")
        return [(i, json.loads(self.lines[i][len("QXVM "):])) for i in range(begin, end)]

    def change_record(self, node, via, command, change):
        for i, r in self.records():
            if r["node"] == node and r["via"] == via and r["command"] == command:
                change(r)
                self.lines[i] = "QXVM " + json.dumps(r)
                return
        raise AssertionError("no record %s %s %s" % (node, via, command))

    def change_line(self, section, prefix, pick, change):
        begin, end = self.section(section)
        for i in range(begin, end):
            if self.lines[i].startswith(prefix + " "):
                r = json.loads(self.lines[i][len(prefix) + 1:])
                if pick(r):
                    change(r)
                    self.lines[i] = prefix + " " + json.dumps(r)
                    return
        raise AssertionError("no %s line in %s" % (prefix, section))

    def change_claim(self, run, mounts, change):
        self.change_line(run + ".out", "QXCLAIM", lambda r: r["mounts"] == mounts, change)

    def judge(self, cli=None):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "results.log")
            with open(path, "w") as f:
                f.write("\n".join(self.lines) + "\n")
            failures, _ = check_vm.judge(path, cli)
        return failures.lines


def node_of(disk_id):
    """The block device the recorded run gave a disk."""
    for _, r in Output().records():
        if r["command"] == "serial-number-page":
            data = bytes.fromhex(r["sgio"][-1]["data"])
            serial = data[4:4 + data[3]].decode().strip()
            if [d for d in check_vm.DISKS if d["serial"] == serial][0]["id"] == disk_id:
                return r["node"]
    raise AssertionError(disk_id)


class Judge(unittest.TestCase):
    def assertNamed(self, failures, text):
        self.assertTrue(any(text in f for f in failures), "%r not in %s" % (text, failures))

    def test_the_recorded_run_passes(self):
        self.assertEqual(Output().judge(), [])

    def test_a_refused_command_counted_a_success_fails(self):
        o = Output()
        o.change_record(node_of("piix"), "ata", "download-microcode", lambda r: r.update(result=1))
        failures = o.judge()
        self.assertNamed(failures, "download-microcode via ata: refused (sense key 0Bh")
        self.assertNamed(failures, "counted a success")

    def test_a_command_that_stops_succeeding_fails(self):
        o = Output()
        o.change_record(node_of("piix"), "scsi", "identify", lambda r: r.update(result=2))
        self.assertNamed(o.judge(), "identify via scsi: result 2, expected success (GOOD)")

    def test_a_changed_reason_or_bus_kind_fails(self):
        o = Output()
        begin, end = o.section("explain.out")
        doc = json.loads("\n".join(o.lines[begin:end]))
        usb = [c for c in doc["candidates"] if c["busKind"] == "DEVICE_USB"][0]
        usb["reason"] = "inquiry-failed"
        virtio = [c for c in doc["candidates"] if c["path"].endswith(node_of("virtio")[5:])][0]
        virtio["busKind"] = "DEVICE_SCSI"
        o.replace_section("explain.out", json.dumps(doc, indent=2).split("\n"))
        failures = o.judge()
        self.assertNamed(failures, "reason inquiry-failed, expected unknown-bridge-code")
        self.assertNamed(failures, "bus kind DEVICE_SCSI, expected DEVICE_IDE")

    def test_a_serial_number_read_through_sat_that_differs_fails(self):
        o = Output()

        def swap(r):
            data = bytearray.fromhex(r["sgio"][-1]["data"])
            data[20], data[21] = data[21], data[20]  # the first two characters of the serial
            r["sgio"][-1]["data"] = data.hex()
        o.change_record(node_of("piix"), "ata", "identify", swap)
        self.assertNamed(o.judge(), "identify via ata: IDENTIFY through SAT read")

    def test_a_change_of_qemus_ahci_answer_is_noticed(self):
        o = Output()
        good = [r for _, r in o.records()
                if r["node"] == node_of("piix") and r["via"] == "ata" and r["command"] == "identify"][0]

        def fixed(r):
            r["result"] = 1
            r["sgio"][-1]["sense"] = good["sgio"][-1]["sense"]
        o.change_record(node_of("ahci"), "ata", "identify", fixed)
        failures = o.judge()
        self.assertNamed(failures, "QEMU's AHCI answer")

    def test_missing_end_marker_and_exit_codes_fail(self):
        o = Output()
        o.lines = [l for l in o.lines if l != "==> DONE"]
        o.lines = [("==> RC smart 1" if l == "==> RC smart 3" else l) for l in o.lines]
        failures = o.judge()
        self.assertNamed(failures, "no end marker")
        self.assertNamed(failures, "smart: exit 1, expected 3")

    def test_a_disk_missing_fails(self):
        o = Output()
        gone = [i for i, r in o.records() if r["node"] == node_of("uas")]
        self.assertEqual(len(gone), len(check_vm.CHECKER_COMMANDS))
        for i in reversed(gone):
            del o.lines[i]
        self.assertNamed(o.judge(), "disks met:")

    def test_a_mounted_disk_claimed_fails(self):
        granted = dict(granted=True, reason="", detail="", secondOpenErrno=16, afterReleaseErrno=0)
        for mounts, named in (("/proc/self/mounts", "mounted: /dev/"),
                              ("/dev/null", "the system reports /dev/")):
            o = Output()
            o.change_claim("claim-mounted", mounts, lambda r: r.update(granted))
            self.assertNamed(o.judge(), "claim-mounted (%s): claim of" % mounts)
            self.assertNamed(o.judge(), "expected refused, mounted, '%s" % named)

    def test_a_refusal_for_another_reason_fails(self):
        o = Output()
        o.change_claim("claim-mounted", "/dev/null",
                       lambda r: r.update(reason="in-use", detail="could not be opened exclusively"))
        self.assertNamed(o.judge(), "reason 'in-use'")

    def test_a_claim_the_kernel_does_not_honour_fails(self):
        o = Output()
        o.change_claim("claim-unmounted", "/dev/null", lambda r: r.update(secondOpenErrno=0))
        self.assertNamed(o.judge(), "second O_EXCL open errno 0")
        o = Output()  # the claim kept the disk after its release
        o.change_claim("claim-unmounted", "/dev/null", lambda r: r.update(afterReleaseErrno=16))
        self.assertNamed(o.judge(), "after release 16")
        o = Output()
        o.change_claim("claim-unmounted", "/proc/self/mounts",
                       lambda r: r.update(granted=False, reason="mounted"))
        self.assertNamed(o.judge(), "claim-unmounted (/proc/self/mounts): claim of")

    def test_no_ext2_mounted_or_a_claim_missing_fails(self):
        o = Output()
        o.replace_section("mkfs", ["ext2 on '' not mounted"])
        begin, end = o.section("claim-unmounted.out")
        del o.lines[begin]
        failures = o.judge()
        self.assertNamed(failures, "claim: no ext2 mounted on /dev/")
        self.assertNamed(failures, "claim-unmounted: 1 claims")

    def test_the_lock_not_taken_fails(self):
        o = Output()
        o.change_line("hold.out", "QXLOCK", lambda r: True,
                      lambda r: r.update(state="unavailable", detail="/run/lock/qxupdater.lock: EROFS"))
        self.assertNamed(o.judge(), "lock: the checker did not hold the device lock")
        # A second qxupdater-cli that goes on while the lock is held.
        o = Output()
        o.replace_section("lock-busy.out", o.lines[slice(*o.section("lock-free.out"))])
        o.replace_section("lock-busy.err", [])
        o.lines = [("==> RC lock-busy 0" if l == "==> RC lock-busy 2" else l) for l in o.lines]
        self.assertNamed(o.judge(), "lock-busy: exit 0, expected 2")

    def test_a_lock_naming_another_holder_or_file_fails(self):
        o = Output()
        pid = o.lines[o.section("lockdir")[1] - 1]
        o.replace_section("lockdir", [l.replace("qxupdater.lock", "other.lock") for l in
                                      o.lines[slice(*o.section("lockdir"))]])
        o.lines = [l.replace("(process %s)" % pid, "(process 1)") for l in o.lines]
        failures = o.judge()
        self.assertNamed(failures, "lock: /run/lock/qxupdater.lock missing")
        self.assertNamed(failures, "lock: the second qxupdater-cli's document")
        self.assertNamed(failures, "lock: the second qxupdater-cli said")
        o = Output()
        o.replace_section("lockdir", o.lines[slice(*o.section("lockdir"))][:-1] + ["1"])
        self.assertNamed(o.judge(), "lock: the file records ['1']")

    def test_a_list_refused_after_the_release_fails(self):
        o = Output()
        o.replace_section("lock-free.out", o.lines[slice(*o.section("lock-busy.out"))])
        self.assertNamed(o.judge(), "lock: after the release, list gave")

    @unittest.skipIf(CLI is None, "QX_VM_TEST_CLI not set")
    def test_the_traces_replay_and_a_cut_trace_does_not(self):
        cli = CLI
        self.assertEqual(Output().judge(cli), [])
        o = Output()
        begin, end = o.section("explain.trace")
        controls = [i for i in range(begin, end) if '"control"' in o.lines[i]]
        del o.lines[controls[-1]]
        self.assertNamed(o.judge(cli), "replay of explain")


if __name__ == "__main__":
    unittest.main()
