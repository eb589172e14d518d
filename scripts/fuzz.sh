#!/usr/bin/env bash
# Builds the libFuzzer harnesses (the fuzz preset: clang, ASan + UBSan) and runs each for SECONDS
# (default 30) on a working copy of its seed corpus. Exits non-zero when any harness finds a crash,
# a leak or a sanitizer report; the input that did it is kept in build/fuzz/findings/NAME/.
# Usage: scripts/fuzz.sh [SECONDS] [NAME...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
shift || true

scripts/bootstrap.sh >/dev/null
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

build=build/fuzz
if [ $# -gt 0 ]; then
  names=("$@")
else
  mapfile -t names < <(grep -v '^$' "$build/fuzzers.txt")
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
fail=0
printf '%-24s %12s %10s %s\n' harness executions exec/s result
for name in "${names[@]}"; do
  corpus="$build/corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$corpus" "$findings"
  [ -d "tests/fuzz/corpus/$name" ] && cp -n "tests/fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  log="$build/$name.log"
  if "$build/bin/$name" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
       -rss_limit_mb=2048 -timeout=10 "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (see $log)"
    fail=1
  fi
  runs="$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -1)"
  rate="$(awk '/stat::average_exec_per_sec/ {print $2}' "$log" | tail -1)"
  printf '%-24s %12s %10s %s\n' "$name" "${runs:-?}" "${rate:-?}" "$result"
done
exit "$fail"
