#!/usr/bin/env bash
# Prints the time of the checked-out source in seconds since 1970, for SOURCE_DATE_EPOCH:
# the last commit's time, or without Git the newest modification time of a file outside the
# build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --verify -q HEAD >/dev/null 2>&1; then
  git log -1 --format=%ct
else
  find . -path ./build -prune -o -path ./.git -prune -o -type f -printf '%T@\n' \
    | sort -n | tail -n 1 | cut -d. -f1
fi
