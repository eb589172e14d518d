#!/usr/bin/env bash
# Builds kestcam and runs it against the simulated imaging library.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset linux >/dev/null
cmake --build --preset linux

work="${KESTCAM_DEMO_DIR:-$PWD/build/demo}"
mkdir -p "$work"

echo "== cameras found by the driver (kestcam list)"
build/linux/bin/kestcam --system-path "$work" list
