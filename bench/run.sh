#!/usr/bin/env bash
# Builds the Release benchmarks, runs them in one process and writes bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh --bench
cmake --preset release >/dev/null
cmake --build --preset release --target kestcam_bench

# BENCH_SET=share runs the frame-sharing benchmarks alone into bench/SHARE-RESULTS.md.
results=bench/RESULTS.md
analysis=bench/ANALYSIS.md
if [ "${BENCH_SET:-}" = share ]; then
  set -- --benchmark_filter=Share "$@"
  results=bench/SHARE-RESULTS.md
  analysis=bench/SHARE-ANALYSIS.md
fi
out=build/release/bench-results.json
# The machine is shared and its speed drifts over minutes: the repetitions of all benchmarks run in
# random order, so a slow spell falls on every figure alike, and the results take each benchmark's
# fastest repetition (what the machine can do; a neighbour only ever adds time). The JSON keeps
# every repetition. Repetitions of one benchmark have differed threefold here, so there are ten:
# with five, all of a benchmark's could fall in slow spells (about 25 minutes in all).
build/release/bin/kestcam_bench --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_repetitions="${BENCH_REPETITIONS:-10}" --benchmark_enable_random_interleaving=true \
  --benchmark_display_aggregates_only=true "$@"
# The machine is shared: the load as the run ends goes into the results beside the load at its start.
if [ -r /proc/loadavg ]; then cp /proc/loadavg build/release/bench-load-end.txt; else rm -f build/release/bench-load-end.txt; fi
notes=""; [ -f "$analysis" ] && notes="$analysis"
python3 bench/make_results.py "$out" "$results" $notes
echo "bench: wrote $results"
