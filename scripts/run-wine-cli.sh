#!/usr/bin/env bash
# Runs the cross-built command-line tests and the console program itself under Wine, in one
# fresh, throw-away prefix.
set -euo pipefail
tests=$(readlink -f "${1:?test executable}")
cli=$(readlink -f "${2:?qxupdater-cli.exe}")
source "$(dirname "$0")/wine-prefix.sh"
"$wine" "$tests" --gtest_brief=1 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] || exit "$status"

# The console program: JSON on standard output, the exit codes.
"$wine" "$cli" list --json --devices sim 2>"$work/err" | tr -d '\r' > "$work/list.json"
python3 - "$work/list.json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
assert d["schema"] == 1 and len(d["drives"]) == 4, d
print("qxupdater-cli.exe list: %d drives" % len(d["drives"]))
PY
set +e
"$wine" "$cli" list --frobnicate >/dev/null 2>&1
rc=$?
set -e
[ "$rc" -eq 2 ] || { echo "qxupdater-cli.exe with an unknown option: exit $rc, not 2"; exit 1; }

# The Windows back-end traced (Wine lists no disks, so the trace holds the system's answers),
# and the trace replayed to the same document.
QXUPDATER_TRACE="$work/trace.jsonl" "$wine" "$cli" list --json 2>/dev/null | tr -d '\r' > "$work/real.json"
grep -q '"query":"diskInterfaces"' "$work/trace.jsonl"
"$wine" "$cli" list --json --devices "replay:$work/trace.jsonl" 2>/dev/null | tr -d '\r' > "$work/replayed.json"
cmp "$work/real.json" "$work/replayed.json"
echo "qxupdater-cli.exe: the Windows back-end traced and replayed"
