#!/usr/bin/env bash
# Frames per second of continuous grabbing through the GenICam backend beside Aravis's own
# arv-camera-test-0.8, each on its own fake GigE Vision camera in a private network namespace (run
# as root), same size and requested frame rate; and the backend's per-frame copy cost.
# usage: bench/genicam_bench.sh [WIDTH HEIGHT RATE SECONDS]   (default 512 512 100 10)
set -euo pipefail
cd "$(dirname "$0")/.."
width=${1:-512}; height=${2:-512}; rate=${3:-100}; seconds=${4:-10}
# A Release build of the backend and the benchmark alone (no OpenCV, no tests).
build=build/genicam-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTCAM_BUILD_TESTS=OFF -DKESTCAM_BUILD_TOOLS=OFF \
  -DKESTCAM_BUILD_GENICAM=ON >/dev/null
cmake --build "$build" --target kestcam_genicam kestcam_genicam_bench >/dev/null

dcf=$(mktemp /tmp/kestcam-genicam-bench-XXXXXX.dcf)
trap 'rm -f "$dcf"' EXIT
printf '[Features]\nWidth=%s\nHeight=%s\nPixelFormat=Mono8\nAcquisitionFrameRate=%s\n' "$width" "$height" "$rate" >"$dcf"

# One side of the comparison in a network namespace of its own, with its own fake camera, stopped by
# its pid when the side is done.
side() {
  unshare -n bash -c '
    ip link set lo up
    arv-fake-gv-camera-0.8 -i 127.0.0.1 >/dev/null 2>&1 & camera=$!
    trap "kill $camera; wait $camera 2>/dev/null" EXIT
    for _ in $(seq 100); do grep -q "0100007F:0F74" /proc/self/net/udp && break; sleep 0.05; done
    '"$1"
}

echo "== arv-camera-test-0.8 (socket buffer sized for the frame: -a)"
# It prints its frames/s only on a terminal.
side "script -q -c 'timeout $((seconds + 5)) arv-camera-test-0.8 --no-packet-socket -a -w $width -h $height -f $rate --duration $seconds' /dev/null" |
  tr '\r' '\n' | grep -E 'frames?/s|n_completed_buffers|n_failures' | tail -n 3
echo "== kestcam GenICam backend"
side "$build/bin/kestcam_genicam_bench $build/bin/libkestcam_genicam.so $dcf $seconds"
