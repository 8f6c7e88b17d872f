#!/usr/bin/env python3
"""Checks the application manifest embedded in a Windows executable (RT_MANIFEST resource).

  check-manifest.py EXE            the manifest must ask for administrator rights and Common
                                   Controls 6, and declare no system later than Windows 8
  check-manifest.py --none EXE     the executable may carry no manifest, or one that declares
                                   no system later than Windows 8 (qxupdater-cli.exe)

Windows reports its real version to GetVersionEx only when the manifest names that version
in <compatibility><application><supportedOS Id=...>; undeclared, Windows 8.1, 10 and 11 report
6.2. Discovery relies on that (app/win32/qxupdater.manifest says why), so a declaration of
Windows 8.1 or later, or of a system this script does not know, fails the check. A toolchain
that links a default manifest into every program (some mingw-w64 distributions do) fails it
too. Reads the PE resource directory itself: no tool beyond Python is needed.
"""
import re
import struct
import sys

RT_MANIFEST = 24
# supportedOS ids that keep the version query at 6.2 or below.
KNOWN_UP_TO_WINDOWS_8 = {
    "e2011457-1546-43c5-a5fe-008deee3d3f0": "Windows Vista",
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a": "Windows 7",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38": "Windows 8",
}
LATER = {
    "1f676c76-80e1-4239-95bb-83d0f6d0da78": "Windows 8.1",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a": "Windows 10 and 11",
}


def manifests(data):
    """The RT_MANIFEST resources of a PE image, as bytes."""
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise ValueError("not a PE executable")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE executable")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if resource_rva == 0:
        return []
    table = optional + optional_size
    spans = []
    for i in range(sections):
        s = table + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        spans.append((va, max(vsize, rawsize), rawptr))

    def offset(rva):
        for va, size, raw in spans:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("resource address 0x%x outside every section" % rva)

    base = offset(resource_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, at + 12)
        for k in range(min(named + ids, 4096)):
            name, target = struct.unpack_from("<II", data, at + 16 + 8 * k)
            yield name, target

    found = []
    for name, target in entries(base):
        if name != RT_MANIFEST or not target & 0x80000000:
            continue
        for _, by_name in entries(base + (target & 0x7FFFFFFF)):
            level = [by_name]
            if by_name & 0x80000000:
                level = [t for _, t in entries(base + (by_name & 0x7FFFFFFF))]
            for leaf in level:
                if leaf & 0x80000000:
                    continue
                rva, size = struct.unpack_from("<II", data, base + leaf)
                start = offset(rva)
                found.append(data[start:start + size])
    return found


def main(argv):
    allow_none = "--none" in argv
    paths = [a for a in argv[1:] if a != "--none"]
    if len(paths) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    exe = paths[0]
    with open(exe, "rb") as f:
        data = f.read()
    try:
        found = manifests(data)
    except (ValueError, struct.error) as e:
        print("error: %s: %s" % (exe, e), file=sys.stderr)
        return 1
    if not found:
        if allow_none:
            print("%s: no manifest (the version query reports 6.2 on Windows 8 and later)" % exe)
            return 0
        print("error: %s carries no manifest" % exe, file=sys.stderr)
        return 1
    bad = 0
    for m in found:
        text = m.decode("utf-8", "replace")
        ids = [i.lower() for i in re.findall(r"supportedOS\s+Id\s*=\s*\"\{([0-9a-fA-F-]+)\}\"", text)]
        for i in ids:
            if i in KNOWN_UP_TO_WINDOWS_8:
                continue
            what = LATER.get(i, "an unknown system")
            print("error: %s declares %s ({%s}): that system would report its real version "
                  "and its SATA disks on scsi# paths would get the 12-byte ATA pass-through"
                  % (exe, what, i), file=sys.stderr)
            bad = 1
        if not allow_none:
            if not re.search(r"requestedExecutionLevel\s+level=\"requireAdministrator\"", text):
                print("error: %s does not ask for administrator rights" % exe, file=sys.stderr)
                bad = 1
            if not re.search(r"Microsoft\.Windows\.Common-Controls\"\s+version=\"6\.", text):
                print("error: %s does not ask for Common Controls 6" % exe, file=sys.stderr)
                bad = 1
        print("%s: manifest of %d bytes, supportedOS: %s" % (exe, len(m), ", ".join(
            KNOWN_UP_TO_WINDOWS_8.get(i, LATER.get(i, i)) for i in ids) or "none"))
    return bad


if __name__ == "__main__":
    sys.exit(main(sys.argv))
