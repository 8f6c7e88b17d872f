#!/usr/bin/env bash
# Runs the cross-built core tests under Wine in a fresh, throw-away prefix.
set -euo pipefail
exe=$(readlink -f "${1:?test executable}")
source "$(dirname "$0")/wine-prefix.sh"
set +e
"$wine" "$exe" --gtest_brief=1 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
set -e
exit "$status"
