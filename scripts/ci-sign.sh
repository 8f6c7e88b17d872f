#!/usr/bin/env bash
# Signing after packing: a throw-away certificate made here signs the packed demo
# (qxupdater-demo.exe) with osslsigncode (SHA-256); the signature verifies, covers the
# firmware package, and leaves the package readable. The signed demo starts under Wine on
# the demo bench and fills its drive list, and the Windows console program updates the
# demo bench from the signed file's package. qxpack refuses an already signed program.
# Expects build/mingw/qxupdater.exe, qxupdater-demo.exe and cli/qxupdater-cli.exe, and the
# native qxpack (scripts/ci-win32.sh and scripts/ci-cli.sh build them).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start=$(date +%s)
echo "== signing: the packed demo signed, verified and run under Wine"
qxpack=$root/build/default/qxpack
bare=$root/build/mingw/qxupdater.exe
demo=$root/build/mingw/qxupdater-demo.exe
cli=$root/build/mingw/cli/qxupdater-cli.exe
for f in "$qxpack" "$bare" "$demo" "$cli"; do
  [ -f "$f" ] || { echo "error: $f is missing" >&2; exit 1; }
done

source "$root/scripts/wine-prefix.sh"   # enters the throw-away work folder

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=QX Updater test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem 2>/dev/null
osslsigncode sign -certs cert.pem -key key.pem -h sha256 -n "QX Updater" \
  -in "$demo" -out signed.exe >/dev/null
osslsigncode verify -CAfile cert.pem -in signed.exe > verify.log 2>&1 || { cat verify.log; exit 1; }
grep -q "Signature verification: ok" verify.log
echo "osslsigncode verify: ok ($(stat -c %s "$demo") -> $(stat -c %s signed.exe) bytes)"

# Up to the old end of the file only the PE header changed (checksum, security entry).
size=$(stat -c %s "$demo")
changed=$( (cmp -l "$demo" <(head -c "$size" signed.exe) || true) | awk '$1 > 4096 {n++} END {print n + 0}')
[ "$changed" -eq 0 ] || { echo "error: signing changed $changed bytes behind the headers" >&2; exit 1; }

# The package reads whole, with the table named and no phantom slot.
"$qxpack" inspect signed.exe > inspect.txt
grep -q "^slot count: 3$" inspect.txt || { cat inspect.txt; exit 1; }
grep -q "^certificate table: offset $size," inspect.txt || { cat inspect.txt; exit 1; }

# The signature covers the firmware: one byte changed in the last slot and it fails.
cp signed.exe tampered.exe
printf '\x5A' | dd of=tampered.exe bs=1 seek=$((size - 1000)) conv=notrunc status=none
if osslsigncode verify -CAfile cert.pem -in tampered.exe >/dev/null 2>&1; then
  echo "error: a changed firmware byte still verifies" >&2; exit 1
fi

# Signed before packing: qxpack refuses, and says why.
osslsigncode sign -certs cert.pem -key key.pem -h sha256 -in "$bare" -out bare-signed.exe >/dev/null
set +e
"$qxpack" build --exe bare-signed.exe --out repacked.exe --version 1.06 --product "QX Demo SSD" \
  "$root"/build/mingw/demo/slot0.bin 2> refusal.txt
rc=$?
set -e
[ "$rc" -eq 1 ] && [ ! -e repacked.exe ] || { echo "error: qxpack packed a signed program (exit $rc)" >&2; exit 1; }
grep -q "pack the unsigned program first, then sign the packed file" refusal.txt || { cat refusal.txt; exit 1; }
echo "qxpack on a signed program: $(cat refusal.txt)"

# Under Wine: the signed demo starts on the demo bench and fills its list; then the console
# program updates the bench from the signed file's package.
cat > run.sh <<'RUN'
set -euo pipefail
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="N"\n' > x11.reg
"$wine" regedit /S x11.reg >/dev/null 2>&1
: > times.txt
QXUPDATER_DEVICES=sim QXUPDATER_STARTUP_TIMES="$work/times.txt" "$wine" signed.exe >/dev/null 2>&1 &
pid=$!
for ((i = 0; i < 600; i++)); do
  grep -q "^list-filled " times.txt && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
grep -q "^list-filled " times.txt || { echo "error: the signed demo did not fill its list" >&2; exit 1; }
echo "signed qxupdater-demo.exe under Wine: started on the demo bench, drive list filled"
RUN
export wine work
xvfb-run -a -s "-screen 0 1024x768x24" bash run.sh

"$wine" "$cli" --devices sim --json update --all --yes --package signed.exe 2>err.txt \
  | tr -d '\r' > update.json || { cat err.txt; exit 1; }
python3 - update.json <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
outcomes = [x["outcome"] for x in d["drives"]] if "drives" in d else d
assert d["mode"] == "package", d
assert outcomes == ["Pass", "Pass", "Pass", "No update needed"], outcomes
print("qxupdater-cli.exe update from the signed package: %s" % outcomes)
PY
echo "Signing stage: $(( $(date +%s) - start )) s"
