#!/usr/bin/env python3
"""Compares what two Debian packages install: every member of the data and control
archives by name, type, mode, owner, link target and content hash. Member times are left
out (they say when a package was made, not what it holds). Prints the differences and exits
1 when there are any."""
import hashlib
import io
import subprocess
import sys
import tarfile


def members(deb, part):
    data = subprocess.run(["dpkg-deb", part, deb], check=True, capture_output=True).stdout
    out = {}
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        for m in tar.getmembers():
            digest = ""
            if m.isfile():
                digest = hashlib.sha256(tar.extractfile(m).read()).hexdigest()
            out[m.name] = (m.type, oct(m.mode), m.uid, m.gid, m.linkname, m.size, digest)
    return out


def main():
    first, second = sys.argv[1], sys.argv[2]
    differences = 0
    for part in ("--fsys-tarfile", "--ctrl-tarfile"):
        a, b = members(first, part), members(second, part)
        for name in sorted(set(a) | set(b)):
            if a.get(name) != b.get(name):
                print("DIFFERENT in %s: %s\n  first:  %s\n  second: %s"
                      % (part[2:6], name, a.get(name), b.get(name)))
                differences += 1
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
