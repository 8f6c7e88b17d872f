#!/usr/bin/env bash
# The Windows utility travels as one file: a 64-bit GUI executable under 1 MiB that imports
# only DLLs of the system (no C++ runtime, libgcc or winpthread DLL beside it), built with
# address-space randomisation (dynamic base, high-entropy VA) and no-execute data (NX), whose
# manifest asks for administrator rights and declares no system later than Windows 8
# (scripts/check-manifest.py).
set -euo pipefail
exe=${1:?executable}
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
limit=1048576
allowed="advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
setupapi.dll cfgmgr32.dll shell32.dll user32.dll"
size=$(stat -c %s "$exe")
echo "$exe: $size bytes (limit $limit)"
if [ "$size" -ge "$limit" ]; then
  echo "error: $exe is $size bytes, at most $limit are allowed" >&2
  exit 1
fi
headers=$("$objdump" -p "$exe")
if ! grep -q "file format pei-x86-64" <<<"$headers"; then
  echo "error: $exe is not a 64-bit Windows executable" >&2
  exit 1
fi
if ! grep -Eq "^Subsystem[[:space:]]+00000002" <<<"$headers"; then
  echo "error: $exe is not a GUI (windows subsystem) program" >&2
  exit 1
fi
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(tr '\n' ' ' <<<"$imports")"
bad=0
for dll in $imports; do
  if ! grep -qw -- "$dll" <<<"$allowed"; then
    echo "error: $exe imports $dll, which is not a system DLL" >&2
    bad=1
  fi
done
# DllCharacteristics: DYNAMIC_BASE 0x40, HIGH_ENTROPY_VA 0x20, NX_COMPAT 0x100.
characteristics=$(sed -n 's/^DllCharacteristics[[:space:]]*//p' <<<"$headers" | head -n 1)
echo "DllCharacteristics: ${characteristics:-none}"
for flag in 0x40:DYNAMIC_BASE 0x20:HIGH_ENTROPY_VA 0x100:NX_COMPAT; do
  if [ -z "$characteristics" ] || (( (16#$characteristics & ${flag%%:*}) == 0 )); then
    echo "error: $exe is not built with ${flag#*:}" >&2
    bad=1
  fi
done
python3 "$(dirname "$0")/check-manifest.py" "$exe" || bad=1
exit "$bad"
