#!/usr/bin/env bash
# Fuzz stage: builds the libFuzzer targets (preset fuzz: clang with the address and
# undefined-behaviour sanitizers) and runs each for a bounded time on a copy of its seed
# corpus (fuzz/corpus/<target>) with its dictionary (fuzz/dict/<target>.dict). A crash, a
# sanitizer report, a leak, a time-out or running out of memory fails the stage; the input
# that did it is kept under build/fuzz/artifacts.
#
#   QX_FUZZ_SECONDS   run time per target (default 30)
#   QX_FUZZ_WORK      folder for the working corpora; kept and grown between runs when given
#                     (scripts/fuzz-long.sh), otherwise a fresh mktemp -d folder, removed
#   QX_FUZZ_PARALLEL  targets run at once (default 2)
#   QX_FUZZ_TARGETS   names to run (default: every fuzz_* target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${QX_FUZZ_SECONDS:-30}
parallel=${QX_FUZZ_PARALLEL:-2}
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

if [ -n "${QX_FUZZ_WORK:-}" ]; then
  work=$QX_FUZZ_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"

targets=${QX_FUZZ_TARGETS:-$(cd build/fuzz/fuzz && ls fuzz_* | tr '\n' ' ')}

# Runs one target; prints one summary line; returns nonzero on a finding.
run_one() {
  local name=$1 bin=build/fuzz/fuzz/$1
  local corpus=$work/$name log=$work/$name.log
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  local args=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -print_final_stats=1
              -artifact_prefix="$artifacts/$name-")
  [ -f fuzz/dict/"$name".dict ] && args+=(-dict=fuzz/dict/"$name".dict)
  local start=$SECONDS rc=0
  "$bin" "${args[@]}" "$corpus" >"$log" 2>&1 || rc=$?
  local execs files bytes
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  if [ "$rc" -ne 0 ]; then
    echo "FAIL  $name (exit $rc after $((SECONDS - start)) s); the end of its log:"
    grep -v '^#[0-9]' "$log" | tail -60
    return 1
  fi
  printf 'ok    %-18s %6s s  %10s executions  corpus %5s files %9s bytes\n' \
    "$name" "$((SECONDS - start))" "${execs:-?}" "$files" "$bytes"
}
export -f run_one
export work artifacts seconds

status=0
printf '%s\n' $targets | xargs -P "$parallel" -I{} bash -c 'run_one "$@"' _ {} || status=1
if [ "$status" -ne 0 ]; then
  echo "fuzzing found a problem: inputs in $artifacts"
  exit 1
fi
