#!/usr/bin/env bash
# Builds and runs the whole suite under AddressSanitizer+UndefinedBehaviorSanitizer and under
# ThreadSanitizer (the asan and tsan presets). Exits non-zero on any failure or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
for preset in asan tsan; do
  echo "== $preset"
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2
done
echo "== sanitizers: no reports"
