#!/usr/bin/env bash
# Runs the Win32 front end's tests in-process under Wine on a virtual X display, in a fresh
# throw-away prefix. Without a window manager Wine's managed windows stall about two
# seconds after every dialog closes, so the prefix gets unmanaged, undecorated windows.
set -euo pipefail
exe=$(readlink -f "${1:?test executable}")
shift
source "$(dirname "$0")/wine-prefix.sh"
cat > "$work/x11.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"
REG
# Inside the virtual display: the prefix settings, then the tests.
cat > "$work/run.sh" <<'RUN'
"$wine" regedit /S x11.reg >/dev/null 2>&1
"$wine" "$exe" --gtest_brief=1 "$@" 2>&1 | tr -d '\r'
exit "${PIPESTATUS[0]}"
RUN
export wine exe
set +e
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/run.sh" "$@"
status=$?
set -e
exit "$status"
