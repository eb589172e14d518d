#!/usr/bin/env bash
# Builds the Release benchmarks, runs them in one process and writes bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh --bench
cmake --preset release >/dev/null
cmake --build --preset release --target kestcam_bench

out=build/release/bench-results.json
build/release/bin/kestcam_bench --benchmark_out="$out" --benchmark_out_format=json \
  --benchmark_repetitions="${BENCH_REPETITIONS:-3}" --benchmark_report_aggregates_only=true "$@"
notes=""; [ -f bench/ANALYSIS.md ] && notes=bench/ANALYSIS.md
python3 bench/make_results.py "$out" bench/RESULTS.md $notes
echo "bench: wrote bench/RESULTS.md"
