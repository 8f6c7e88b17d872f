#!/usr/bin/env bash
# The firmware package is appended at 0x2FFE00: the utility must stay below that size.
set -euo pipefail
exe=${1:?executable}
limit=3145216
size=$(stat -c %s "$exe")
echo "$exe: $size bytes (limit $limit)"
if [ "$size" -ge "$limit" ]; then
  echo "error: $exe is $size bytes, the package offset is $limit" >&2
  exit 1
fi
