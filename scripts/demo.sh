#!/usr/bin/env bash
# Builds kestcam and runs it against the simulated imaging library.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset linux >/dev/null
cmake --build --preset linux

work="${KESTCAM_DEMO_DIR:-$PWD/build/demo}"
mkdir -p "$work"

# Waits up to 10 s for a program started in the background to write its first line into FILE.
await_first_line() {
  for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done
  echo "demo: nothing in $1 after 10 s" >&2
  return 1
}

echo "== cameras found by the driver (kestcam list)"
build/linux/bin/kestcam --system-path "$work" list

echo
echo "== ten grabs from Camera 1 (kestcam grab)"
build/linux/bin/kestcam --system-path "$work" grab --camera "Camera 1" --grabs 10 --out "$work/camera1.png"

echo
echo "== one grab from the colour camera, Camera 3"
build/linux/bin/kestcam --system-path "$work" grab --camera "Camera 3" --out "$work/camera3.png"

echo
echo "== the serial camera: a simulated line-scan camera (kestcam camsim) behind Camera 1"
serial="$work/serial"
mkdir -p "$serial"
build/linux/bin/kestcam camsim >"$serial/camsim.out" &
camsim=$!
trap 'kill "$camsim" 2>/dev/null' EXIT
await_first_line "$serial/camsim.out"
printf '[Camera 1]\nBaslerPortAccessEnabled=1\nBaslerPort=%s\n' "$(head -n1 "$serial/camsim.out")" >"$serial/Kest.ini"
build/linux/bin/kestcam --system-path "$serial" props set --camera "Camera 1" ExposureTime 250
echo "ExposureTime read back from the camera: $(build/linux/bin/kestcam --system-path "$serial" props get --camera "Camera 1" ExposureTime)"
kill "$camsim"
wait "$camsim" || true
trap - EXIT

echo
echo "== sharing: Camera 1 publishes its frames, 'kestcam share watch' receives one in another process"
share="$work/share"
mkdir -p "$share"
printf '[System 0]\nDescriptor = M_SYSTEM_SOLIOS\n[System 0 Digitizer 0]\nWidth = 640\nHeight = 480\n' >"$share/sim.ini"
printf '[Camera 1]\nShareCamera=1\nShareName=kestcam-demo\n' >"$share/Kest.ini"
build/linux/bin/kestcam share watch kestcam-demo --frames 1 --out "$share" &
watcher=$!
KESTCAM_SIM_CONFIG="$share/sim.ini" build/linux/bin/kestcam --system-path "$share" \
  grab --camera "Camera 1" --grabs 40 --interval 50 >/dev/null
wait "$watcher"

echo
echo "== the live view (kestcam view): one frame fetched from it, then stopped; see docs/live-view.md"
build/linux/bin/kestcam --system-path "$work" view --camera "Camera 1" --listen 127.0.0.1:0 >"$work/view.out" &
view=$!
trap 'kill "$view" 2>/dev/null' EXIT
await_first_line "$work/view.out"
/usr/bin/python3 -c 'import sys, time, urllib.request as u
for _ in range(100):
    try: open(sys.argv[2], "wb").write(u.urlopen(sys.argv[1] + "frame.jpg", timeout=10).read()); break
    except OSError: time.sleep(0.1)
else: sys.exit("no frame from the live view")' "$(head -n1 "$work/view.out")" "$work/live-view.jpg"
kill -INT "$view"
wait "$view"
trap - EXIT
echo "frame: $work/live-view.jpg"

echo
echo "== GStreamer: kestcamsrc writes five images of Camera 1 (see docs/gstreamer.md)"
GST_PLUGIN_PATH="$PWD/build/linux/bin/gstreamer-1.0" GST_REGISTRY="$work/gst-registry.bin" \
  gst-launch-1.0 -q kestcamsrc camera="Camera 1" system-path="$work" num-buffers=5 ! filesink location="$work/five-images.raw"
echo "five 2048x1000 images: $(stat -c %s "$work/five-images.raw") bytes in $work/five-images.raw"

echo
echo "== RTSP: kestcam stream serves Camera 1, a gst-launch-1.0 client receives five images over 127.0.0.1"
GST_PLUGIN_PATH="$PWD/build/linux/bin/gstreamer-1.0" GST_REGISTRY="$work/gst-registry.bin" \
  build/linux/bin/kestcam --system-path "$work" stream --camera "Camera 1" --codec raw --listen 127.0.0.1:0 \
  >"$work/stream.out" &
stream=$!
trap 'kill "$stream" 2>/dev/null' EXIT
await_first_line "$work/stream.out"
url=$(head -n1 "$work/stream.out")
echo "serving $url"
GST_REGISTRY="$work/gst-registry.bin" timeout 60 gst-launch-1.0 -q rtspsrc location="$url" protocols=tcp ! \
  rtpvrawdepay ! videoconvert ! video/x-raw,format=GRAY8 ! identity eos-after=6 ! filesink location="$work/rtsp-images.raw"
kill -INT "$stream"
wait "$stream" >/dev/null
trap - EXIT
echo "received: $(( $(stat -c %s "$work/rtsp-images.raw") / (2048 * 1000) )) images of 2048x1000 (mono travels as RGB) in $work/rtsp-images.raw"

echo
echo "== a GigE Vision camera through the GenICam backend (KESTCAM_MIL=genicam): Aravis's simulated camera"
arv-fake-gv-camera-0.8 -i 127.0.0.1 >/dev/null 2>&1 &
fake=$!
trap 'kill "$fake" 2>/dev/null' EXIT
gige=""
for _ in $(seq 20); do
  gige=$(KESTCAM_MIL=genicam build/linux/bin/kestcam --system-path "$work" list | head -n1)
  [ -n "$gige" ] && break
  sleep 0.5
done
echo "found: $gige"
KESTCAM_MIL=genicam build/linux/bin/kestcam --system-path "$work" grab --camera "$gige" --grabs 10 --out "$work/gige.png"
kill "$fake"
wait "$fake" || true
trap - EXIT

echo
echo "demo: the grabbed images are $work/camera1.png, $work/camera3.png and $work/gige.png; the shared frame is in $share"
