#!/usr/bin/env bash
# Timed start runs of the two desktop front ends on the demo bench: milliseconds from the
# start of the process to the first painted showing and to the filled drive list, against
# a bare window of the same toolkit. Qt on a virtual X display; Win32 under Wine with a
# running wineserver (the first start of a prefix is not counted). Run by hand:
#
#   cmake --build --preset default --target qxupdater_demo_package bare_qt_window
#   cmake --build --preset mingw --target qxupdater_demo_package bare_win32_window
#   scripts/measure-startup.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
root=$(pwd)
if [ -z "${QX_MEASURE_INNER:-}" ]; then
  export QX_MEASURE_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$runs"
fi

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64)
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="N"\n' > "$work/x11.reg"
(cd "$work" && "$wine" regedit /S x11.reg >/dev/null 2>&1)
"$wineserver" -p 2>/dev/null || true  # stays up between the runs

# measure LABEL MILESTONE COMMAND...: starts COMMAND `runs` times, waits for MILESTONE in
# its times file, ends it, and prints the median of start->first-paint and start->MILESTONE.
measure() {
  local label=$1 last=$2
  shift 2
  local paints=() ends=()
  for ((i = 0; i < runs; i++)); do
    local times="$work/times.$label.$i" dir="$work/run.$label.$i"
    mkdir -p "$dir"
    : > "$times"
    local start
    start=$(date +%s%3N)
    (cd "$dir" && QXUPDATER_STARTUP_TIMES="$times" QXUPDATER_DEVICES=sim exec "$@" >/dev/null 2>&1) &
    local pid=$!
    for ((w = 0; w < 3000; w++)); do
      grep -q "^$last " "$times" && break
      sleep 0.01
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    paints+=("$(awk -v s="$start" '$1 == "first-paint" {printf "%.0f", $2 - s; exit}' "$times")")
    ends+=("$(awk -v s="$start" -v m="$last" '$1 == m {printf "%.0f", $2 - s; exit}' "$times")")
  done
  median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
  printf '%-28s start->first paint %6s ms   start->%s %6s ms   (median of %d; all paints: %s)\n' \
    "$label" "$(median "${paints[@]}")" "$last" "$(median "${ends[@]}")" "$runs" "${paints[*]}"
}

measure "qt bare window" first-paint "$root/build/default/bare_qt_window"
measure "qt qxupdater-demo" list-filled "$root/build/default/qxupdater-demo"
(cd "$work" && "$wine" "$root/build/mingw/bare_win32_window.exe" >/dev/null 2>&1 & sleep 3; kill $! 2>/dev/null || true)  # warm-up
measure "win32 bare window (wine)" first-paint "$wine" "$root/build/mingw/bare_win32_window.exe"
measure "win32 qxupdater-demo (wine)" list-filled "$wine" "$root/build/mingw/qxupdater-demo.exe"
