#!/usr/bin/env bash
# Sanitizer stage: the whole test suite built with the address and undefined-behaviour
# sanitizers (preset asan) and run by CTest. Any report fails its test: undefined behaviour
# does not recover, and leaks are reported at the end of every test process.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --preset asan -j "$jobs"
