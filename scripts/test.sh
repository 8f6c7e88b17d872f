#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the native build (core,
# Qt utility, CLI, GUI tests, benchmarks built) and the size check of the utility; the
# command line and the transports on a real Linux kernel in QEMU (ci-vm.sh); the Debian
# package (built, installed, run on the demo bench, removed); the mingw-w64 cross build of
# the core with its tests under Wine; the Windows utility (size, imports, 32-bit core, window
# tests under Wine); the native tests; the CLI (its tests here and under Wine, the Ansible
# playbook); the packed demo signed, verified and run under Wine; the release targets built a
# second time elsewhere and compared (build/release/SHA256SUMS); the whole suite under the
# address and undefined-behaviour sanitizers; and a bounded run of every fuzz target on its
# corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Release files are reproducible: every build here takes its times from the last commit.
SOURCE_DATE_EPOCH=$(bash scripts/source-date.sh)
export SOURCE_DATE_EPOCH

jobs=$(nproc 2>/dev/null || echo 2)

echo "== native build"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"

echo "== size of the utility"
bash scripts/check-size.sh build/default/qxupdater

bash scripts/ci-vm.sh

bash scripts/ci-deb.sh

echo "== mingw-w64 cross build"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" --target qxcore_tests

echo "== Windows tests under Wine"
bash scripts/run-wine-tests.sh build/mingw/qxcore_tests.exe

bash scripts/ci-win32.sh

echo "== native tests"
ctest --preset default -j "$jobs"

bash scripts/ci-cli.sh

bash scripts/ci-sign.sh

bash scripts/check-reproducible.sh

echo "== sanitizer build and tests"; bash scripts/ci-sanitize.sh

echo "== fuzzing"; bash scripts/ci-fuzz.sh
