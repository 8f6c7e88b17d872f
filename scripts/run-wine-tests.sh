#!/usr/bin/env bash
# Runs the cross-built core tests under Wine in a fresh, throw-away prefix.
set -euo pipefail
exe=$(readlink -f "${1:?test executable}")
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; rm -rf "$prefix" "$work"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cd "$work"
set +e
"$wine" "$exe" --gtest_brief=1 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
set -e
exit "$status"
