#!/usr/bin/env bash
# The Windows utility: builds qxupdater.exe and qxupdater-demo.exe (its demo package made by
# the native qxpack), checks the size and the imports, compiles the core for 32-bit Windows
# (the request layouts' static asserts), and runs the Win32 front end's tests under Wine, the
# high-DPI ones at 96, 120, 144 and 192 DPI.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
start=$(date +%s)
echo "== Windows utility: qxupdater.exe, qxupdater-demo.exe, 32-bit core, tests under Wine"

# The packaging tool runs on the build machine.
if [ ! -x build/default/qxpack ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$jobs" --target qxpack
fi
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" --target qxupdater qxupdater_demo_package qxwin32_tests
bash scripts/check-win32-exe.sh build/mingw/qxupdater.exe
demo_size=$(stat -c %s build/mingw/qxupdater-demo.exe)
echo "build/mingw/qxupdater-demo.exe: $demo_size bytes (a package behind the utility)"
[ "$demo_size" -ge 3145728 ] || { echo "error: the demo carries no package" >&2; exit 1; }

cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$jobs" --target qxcore

bash scripts/run-win32-tests.sh build/mingw/qxwin32_tests.exe
bash scripts/run-win32-dpi-tests.sh build/mingw/qxwin32_tests.exe
echo "Windows utility stage: $(( $(date +%s) - start )) s"
