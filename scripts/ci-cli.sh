#!/usr/bin/env bash
# The command-line program's stage of CI: its tests (native, and the Windows console program
# under Wine), a few runs of the real executables, and the Ansible playbook against localhost
# on the demo bench. Expects the native and mingw builds configured (scripts/test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The CLI's native tests run with the rest of the suite under ctest.
echo "== qxupdater-cli: build"
cmake --build --preset default -j "$jobs" --target qxupdater-cli qxcli_tests qxpack

echo "== qxupdater-cli: a copy that carries the demo package"
cli=build/default/cli/qxupdater-cli
images=()
seed=1
for image in "40Z9Z9,QX09|150016" "42A1B2,QX01|150016" "40C3D4,QX02|150528"; do
  codes=${image%|*}
  length=${image#*|}
  build/default/qxpack make-image --out "$work/slot$seed.bin" --length "$length" \
    --buildinfo "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,$codes" --seed "$seed" >/dev/null
  images+=("$work/slot$seed.bin")
  seed=$((seed + 1))
done
demo="$work/qxupdater-cli-demo"
build/default/qxpack build --exe "$cli" --out "$demo" --version 1.06 --product "QX Demo SSD" \
  "${images[@]}" >/dev/null
chmod 755 "$demo"

"$demo" package inspect "$demo" --json | python3 -c '
import json, sys
d = json.load(sys.stdin)
assert d["schema"] == 1 and d["slotCount"] == 3, d'
set +e
"$demo" update --all --devices sim </dev/null >/dev/null 2>"$work/refusal"
rc=$?
set -e
[ "$rc" -eq 2 ] || { echo "update without --yes and without a terminal: exit $rc, not 2"; exit 1; }
grep -q -- "--yes" "$work/refusal"

echo "== qxupdater-cli: Ansible playbook against localhost on the demo bench"
printf 'localhost ansible_connection=local ansible_python_interpreter=%s\n' "$(command -v python3)" \
  > "$work/inventory"
ANSIBLE_LOCAL_TEMP="$work/ansible-local" ANSIBLE_REMOTE_TEMP="$work/ansible-remote" \
ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOST_KEY_CHECKING=0 \
  ansible-playbook -i "$work/inventory" contrib/ansible/fleet-update.yml \
    -e "qxupdater_cli=$demo" -e qxupdater_devices=sim -e "qxupdater_report=$work/fleet.json" \
    > "$work/ansible.log" || { cat "$work/ansible.log"; exit 1; }
python3 - "$work/fleet.json" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
assert report["schema"] == 1, report
hosts = report["hosts"]
assert [h["host"] for h in hosts] == ["localhost"], hosts
h = hosts[0]
assert [d["serial"] for d in h["drives"]] == ["QX74A0000001", "QX74B0000002", "QX74C0000003", "QX74D0000006"], h
assert [d["outcome"] for d in h["outcomes"]] == ["Pass", "Pass", "Pass", "No update needed"], h
assert int(h["exitCode"]) == 0, h
print("fleet report: %d host(s), outcomes %s" % (len(hosts), [d["outcome"] for d in h["outcomes"]]))
PY

echo "== qxupdater-cli.exe: cross build and its tests under Wine"
cmake --build --preset mingw -j "$jobs" --target qxupdater-cli qxcli_tests
# No manifest, or none that declares a system after Windows 8: the version query must say 6.2.
python3 scripts/check-manifest.py --none build/mingw/cli/qxupdater-cli.exe
bash scripts/run-wine-cli.sh build/mingw/cli/qxcli_tests.exe build/mingw/cli/qxupdater-cli.exe

echo "== qxupdater-cli stage: $(( $(date +%s) - start )) s"
