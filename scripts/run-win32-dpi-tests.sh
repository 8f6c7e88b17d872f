#!/usr/bin/env bash
# Runs the Win32 front end's high-DPI tests (Win32Dpi.*, WindowPlacement.*, PictureScaling.*)
# under Wine at 96, 120, 144 and 192 DPI: one fresh prefix per DPI with its LogPixels set
# (the system DPI of a Wine session is read when it starts), on a virtual X display large
# enough for the 192-DPI layout. The tests check that the DPI set here reached the program.
set -euo pipefail
exe=$(readlink -f "${1:?test executable}")
scripts=$(cd "$(dirname "$0")" && pwd)
filter='Win32Dpi.*:WindowPlacement.*:PictureScaling.*'
status=0
for dpi in ${QX_DPIS:-96 120 144 192}; do
  (
    source "$scripts/wine-prefix.sh"
    hex=$(printf '%08x' "$dpi")
    cat > "$work/dpi.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$hex

[HKEY_CURRENT_CONFIG\\Software\\Fonts]
"LogPixels"=dword:$hex
REG
    cat > "$work/run.sh" <<'RUN'
"$wine" regedit /S dpi.reg >/dev/null 2>&1
"$wineserver" -k 2>/dev/null || true   # the next start reads the new DPI
"$wineserver" -w 2>/dev/null || true
"$wine" "$exe" --gtest_brief=1 --gtest_filter="$filter" 2>&1 | tr -d '\r'
exit "${PIPESTATUS[0]}"
RUN
    export wine wineserver exe filter
    echo "== Win32 windows at $dpi DPI"
    xvfb-run -a -s "-screen 0 2560x1600x24" env QX_EXPECT_DPI="$dpi" bash "$work/run.sh"
  ) || status=1
done
exit "$status"
