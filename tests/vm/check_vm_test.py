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
