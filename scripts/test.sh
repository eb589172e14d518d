#!/usr/bin/env bash
# Builds and runs every test CI runs; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

echo "== linux: build and test"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux -j2

echo "== linux: exported symbols"
scripts/check-exports.sh build/linux/bin/libkestcam.so

echo "== all tests passed"
