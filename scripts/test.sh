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

echo "== win64: build, then every test under wine64 (its own Wine prefix in build/win64)"
cmake --preset win64
cmake --build --preset win64
ctest --preset win64 -j2

echo "== win32: build the shipping 32-bit kestcam.dll; export table, PE32 i386, system imports only"
cmake --preset win32
cmake --build --preset win32
scripts/check-exports.sh build/win32/bin/kestcam.dll pei-i386
ctest --preset win32

echo "== packages: the Windows zip (listing, exports and imports of its DLL, import library) and the .deb (lintian, extracted tree)"
scripts/package.sh

echo "== sanitizers: the whole linux suite under asan (ASan + UBSan) and tsan"
scripts/sanitizers.sh

echo "== fuzz: every harness for 30 s on its seed corpus"
scripts/fuzz.sh 30

echo "== all tests passed"
