#!/usr/bin/env bash
# Installs what is needed, builds the utility and starts it on the built-in demo bench
# (simulated drives; no real disk is touched). Set QXUPDATER_DEVICES yourself to choose
# another bench, or unset it in your own shell to use the machine's real disks.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)"
exe=build/default/qxupdater-demo
[ -x "$exe" ] || exe=build/default/qxupdater
export QXUPDATER_DEVICES="${QXUPDATER_DEVICES:-sim}"
exec "$exe"
