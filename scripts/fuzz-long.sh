#!/usr/bin/env bash
# Long fuzzing by hand: every target (or those named) for SECONDS each (default 600), two
# at a time at low priority, on corpora kept in build/fuzz/long that grow from run to run.
# New inputs worth keeping as seeds can be reduced with `-merge=1` into fuzz/corpus.
#
#   scripts/fuzz-long.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
export QX_FUZZ_SECONDS=$seconds
export QX_FUZZ_WORK=${QX_FUZZ_WORK:-$PWD/build/fuzz/long}
[ "$#" -gt 0 ] && export QX_FUZZ_TARGETS="$*"
exec nice -n 10 bash scripts/ci-fuzz.sh
